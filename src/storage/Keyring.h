#pragma once

#include "Error.h"

#include <QString>

namespace hollin {

// The desktop keyring (a Secret Service such as GNOME Keyring or KWallet),
// one password per key under the service "Hollin". The keyring library works
// in jobs that finish later; each call here runs its job on the keyring's own
// thread and waits for it, so the window, the receive thread and the command
// line call it alike. A keyring that does not answer within a minute
// (time to type the password that unlocks it) counts as missing.
class Keyring {
public:
    enum class Lookup { Found, NotFound, Unavailable };

    explicit Keyring(QString key);

    // Found fills password; Unavailable says why in err.
    Lookup read(QString *password, Error *err) const;
    bool write(const QString &password, Error *err) const;

private:
    QString m_key;
};

} // namespace hollin
