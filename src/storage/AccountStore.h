#pragma once

#include "Error.h"
#include "Keyring.h"
#include "OwnSettings.h"

#include <QString>

#include <optional>

namespace hollin {

// The POP3 account as it is kept: the id in iniIdPass.ini (NAME), the password
// in the desktop keyring when one answers, with NAME2 left empty so that the
// file keeps the layout the Windows version reads; without a keyring, in NAME2
// of the owner-only file as always. The window, the receive and the command
// line all read and write the account here. The keyring's key is the file's
// absolute path, so each data folder has its own password. hollin.ini beside
// the file records that the password went to the keyring; without that mark
// the keyring is never asked, so a password kept in the file never wakes a
// keyring (or its unlock prompt) at a receive.
class AccountStore {
public:
    struct Account {
        QString id;
        QString password;
    };

    explicit AccountStore(const QString &idPassIniFile);

    // Asks the keyring once; the answer is kept for this store's life.
    bool keyringAvailable();
    // Why the keyring cannot be used (empty while it can).
    QString keyringProblem() const { return m_keyringProblem.text(); }

    // NAME and the password: from the keyring when it holds one, else NAME2.
    // An empty account when nothing is saved.
    Account load();

    // NAME = id, NAME2 = password (or empty, the password going to the
    // keyring), NAME3 = "1", in that order. A name or a password that the
    // CP932 file would have to hold but cannot is refused, and nothing changes.
    bool save(const QString &id, const QString &password, Error *err);
    // NAME3 = "0": the account typed this time is not kept; one saved earlier stays.
    bool markNotSaved(Error *err);

    // The file still holds a password while the keyring answers: it is the
    // one to move (after asking the user once).
    bool passwordWaitsToMove();
    // Puts NAME2 into the keyring, then empties NAME2.
    bool movePasswordToKeyring(Error *err);

private:
    QString m_path;
    OwnSettings m_own;
    Keyring m_keyring;
    std::optional<bool> m_available;
    Error m_keyringProblem;
};

} // namespace hollin
