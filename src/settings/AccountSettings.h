#pragma once

#include "storage/Error.h"
#include "storage/ServerSettings.h"

#include <QString>

namespace hollin {

struct AppState;
class DataRoot;

// The POP3 account as stored in iniIdPass.ini (NAME, NAME2); empty texts
// when the file or a key is missing.
struct Account {
    QString id;
    QString password;
};
Account savedAccount(const DataRoot &root);

// What the account dialog's OK does: AccountId and AccountPassword become id
// and password; with save, NAME = id, NAME2 = password and NAME3 = "1" are
// written (in that order) to the owner-only account file; without, only
// NAME3 = "0", so an account saved earlier stays. A name or password that the
// CP932 file cannot hold is refused when saving, and nothing changes. An
// account not saved serves the receives of this run (AppState::accountUnsaved).
bool acceptAccount(AppState &state, const QString &id, const QString &password, bool save,
                   Error *err);

// The server values as the server dialog shows them.
ServerSettings serverSettingsOf(const AppState &state);

// What the server dialog's OK does: the program-wide values take the given
// ones at once, then hlmail.ini is replaced by its four lines. A value that
// the CP932 file cannot hold is refused, and nothing changes.
bool acceptServerSettings(AppState &state, const ServerSettings &settings, Error *err);

} // namespace hollin
