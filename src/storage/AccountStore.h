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
// line all read and write the account here. The keyring's key is the account
// and the POP3 server's host ("taro@mail.example.jp", the host from
// hlmail.ini), so a data folder that is moved or copied keeps its password;
// a password saved under the folder's path by an earlier version is still
// read. hollin.ini beside
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
    // Why the keyring cannot be used, or (after load()) gave no password.
    QString keyringProblem() const { return m_keyringProblem.text(); }

    // NAME and the password: from the keyring when it holds one, else NAME2.
    // An empty account when nothing is saved. When the keyring should hold the
    // password but gives none, keyringProblem() says why.
    Account load();

    // The keyring's key for the account id on the server of this data folder.
    QString keyringKey(const QString &id) const;

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
    // The other way, on purpose (a receive from cron, which cannot reach the
    // keyring): NAME2 of the owner-only file takes the keyring's password,
    // and the password is not offered for the keyring again.
    bool movePasswordToFile(Error *err);

private:
    QString m_path;
    OwnSettings m_own;
    Keyring m_legacyKeyring; // keyed by the file's path, as before
    std::optional<bool> m_available;
    Error m_keyringProblem;
};

} // namespace hollin
