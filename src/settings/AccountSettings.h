#pragma once

#include "storage/AccountStore.h"
#include "storage/Error.h"
#include "storage/ServerSettings.h"

#include <QString>

namespace hollin {

struct AppState;
class DataRoot;

using Account = AccountStore::Account;
// The saved POP3 account (AccountStore): empty texts when nothing is saved.
Account savedAccount(const DataRoot &root);

// What the account dialog's OK does: with save, the account store keeps id
// and password (the password in the keyring when one answers, else in the
// owner-only file) and they are the account in use (AccountId and
// AccountPassword); without, only NAME3 = "0" is written, and an account
// saved earlier, complete with its password, stays the one in use; only when
// none is saved does the account typed serve the receives, sends and tests of
// this run (AppState::accountUnsaved). A name or password that the store
// cannot hold is refused when saving, and nothing changes.
bool acceptAccount(AppState &state, const QString &id, const QString &password, bool save,
                   Error *err);

// acceptAccount in two halves, for a dialog that must not wait for the
// keyring: storeAccount touches only the files and the keyring (any thread)
// and says which account is then in use; useAccount puts it into the state.
struct AccountInUse {
    Account account;
    bool unsaved = false;
};
bool storeAccount(const DataRoot &root, const QString &id, const QString &password, bool save,
                  AccountInUse *inUse, Error *err);
void useAccount(AppState &state, const AccountInUse &inUse);

// The server values as the server dialog shows them.
ServerSettings serverSettingsOf(const AppState &state);

// What the server dialog's OK does: the program-wide values take the given
// ones at once, then hlmail.ini is replaced by its four lines. A value that
// the CP932 file cannot hold is refused, and nothing changes.
bool acceptServerSettings(AppState &state, const ServerSettings &settings, Error *err);

} // namespace hollin
