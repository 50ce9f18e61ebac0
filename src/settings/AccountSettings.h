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

// What the account dialog's OK does: AccountId and AccountPassword become id
// and password; with save, the account store keeps them (the password in the
// keyring when one answers, else in the owner-only file); without, only
// NAME3 = "0" is written, so an account saved earlier stays. A name or
// password that the store cannot hold is refused when saving, and nothing
// changes. An account not saved serves the receives of this run
// (AppState::accountUnsaved).
bool acceptAccount(AppState &state, const QString &id, const QString &password, bool save,
                   Error *err);

// The server values as the server dialog shows them.
ServerSettings serverSettingsOf(const AppState &state);

// What the server dialog's OK does: the program-wide values take the given
// ones at once, then hlmail.ini is replaced by its four lines. A value that
// the CP932 file cannot hold is refused, and nothing changes.
bool acceptServerSettings(AppState &state, const ServerSettings &settings, Error *err);

} // namespace hollin
