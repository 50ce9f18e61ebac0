#pragma once

#include "storage/Error.h"

#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

namespace hollin {

class DataRoot;

// One running copy per data root, and the way a second start hands its mailto:
// links to it. The first copy holds the lock file ★MailData/hollin.lock and
// listens on a local socket named after the data root, in a folder of its own
// ("hollin-<uid>" in $XDG_RUNTIME_DIR, else in /tmp) that it creates 0700 and
// checks at every use; a second start writes one link per line to it, then
// a line asking to be shown ("activate" and the desktop's activation token),
// and closes. Both ends talk only to a peer of the same user.
class InstanceChannel : public QObject {
    Q_OBJECT
public:
    enum class Role { First, Second, Failed };

    explicit InstanceChannel(const DataRoot &root, QObject *parent = nullptr);

    // First: this copy now holds the lock and listens (when it cannot listen,
    // err says so and the copy runs on). Second: another copy holds it.
    // Failed: the lock file cannot be written (err says why).
    Role claim(Error *err = nullptr);

    // Hands links to the running copy, waiting up to timeoutMs for it to listen
    // (it may still be starting), and asks it to come to the front with
    // activationToken (XDG_ACTIVATION_TOKEN or DESKTOP_STARTUP_ID; may be empty).
    bool send(const QStringList &links, const QString &activationToken, int timeoutMs,
              Error *err = nullptr) const;

    // The socket's path once its folder is found private (else err says why).
    QString socketPath(Error *err) const;

signals:
    void linkReceived(const QString &link);
    // A second start asks to see the running copy (token: empty when its
    // desktop gave none).
    void activationRequested(const QString &token);

private:
    bool listen(Error *err);
    void accept();

    QLockFile m_lock;
    QString m_lockPath;
    QString m_name; // the socket's name inside the folder
    QLocalServer *m_server = nullptr;
};

} // namespace hollin
