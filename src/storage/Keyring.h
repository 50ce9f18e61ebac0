#pragma once

#include "Error.h"

#include <QObject>
#include <QString>

namespace hollin {

// Says when the keyring answers a job that its caller stopped waiting for
// (the user unlocked it after the time limit): asking again now works.
class KeyringEvents : public QObject {
    Q_OBJECT
signals:
    void answeredLate();
};

// The desktop keyring (a Secret Service such as GNOME Keyring or KWallet),
// one password per key under the service "Hollin". The keyring library works
// in jobs that finish later; each call here runs its job on the keyring's own
// thread and waits for it, so the window, the receive thread and the command
// line call it alike. A keyring that does not answer within a minute
// (time to type the password that unlocks it) counts as missing; when it
// answers after all, events() says so.
class Keyring {
public:
    enum class Lookup { Found, NotFound, Unavailable };

    explicit Keyring(QString key);

    // Found fills password; Unavailable says why in err.
    Lookup read(QString *password, Error *err) const;
    bool write(const QString &password, Error *err) const;

    static KeyringEvents *events();
    // For tests: the next job starts delayMs late (a keyring that the user
    // unlocks slowly), and callers from now on wait waitMs for an answer.
    static void delayNextAnswerForTest(int delayMs, int waitMs);

private:
    QString m_key;
};

} // namespace hollin
