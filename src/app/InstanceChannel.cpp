#include "InstanceChannel.h"

#include "storage/DataRoot.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// The same name for every spelling of the folder (a symbolic link, a trailing
// slash), in the user's own runtime folder, which no other user can enter.
QString nameFor(const DataRoot &root)
{
    const QString canonical = QFileInfo(root.root()).canonicalFilePath();
    const QByteArray path = (canonical.isEmpty() ? root.root() : canonical).toUtf8();
    const QString name = u"hollin-"_s
        + QString::fromLatin1(QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(24));
    return QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)).filePath(name);
}

// More than any mailto: link a desktop hands over; a peer sending more is cut off.
constexpr qint64 MaxMessage = 1 << 20;

} // namespace

InstanceChannel::InstanceChannel(const DataRoot &root, QObject *parent)
    : QObject(parent)
    , m_lock(QDir(root.dataFolder()).filePath(u"hollin.lock"_s))
    , m_lockPath(QDir(root.dataFolder()).filePath(u"hollin.lock"_s))
    , m_name(nameFor(root))
{
    // The lock goes with the process that holds it, however it ends.
    m_lock.setStaleLockTime(0);
}

InstanceChannel::Role InstanceChannel::claim(Error *err)
{
    if (!m_lock.tryLock(0)) {
        if (m_lock.error() == QLockFile::LockFailedError)
            return Role::Second;
        fail(err, u"データフォルダに書き込めません。"_s, m_lockPath);
        return Role::Failed;
    }
    // Without the channel this copy still runs; err tells that later starts
    // cannot hand their links over.
    listen(err);
    return Role::First;
}

bool InstanceChannel::listen(Error *err)
{
    delete m_server;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(m_name);
    if (!m_server->listen(m_name))
        return fail(err, u"他の起動からの呼び出しを受け付けられません。"_s, m_server->errorString());
    connect(m_server, &QLocalServer::newConnection, this, &InstanceChannel::accept);
    return true;
}

// Each connection is read until the peer closes it; then every line is one link.
void InstanceChannel::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, socket, [socket] {
            if (socket->bytesAvailable() > MaxMessage)
                socket->abort();
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            const QByteArray message = socket->readAll();
            socket->deleteLater();
            if (message.size() > MaxMessage)
                return;
            for (const QByteArray &line : message.split('\n'))
                if (!line.isEmpty())
                    emit linkReceived(QString::fromUtf8(line));
        });
    }
}

bool InstanceChannel::send(const QStringList &links, int timeoutMs, Error *err) const
{
    QLocalSocket socket;
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        socket.connectToServer(m_name);
        if (socket.waitForConnected(int(qMax<qint64>(0, deadline.remainingTime()))))
            break;
        if (deadline.hasExpired())
            return fail(err, u"起動中の Hollin に接続できません。"_s, socket.errorString());
        QThread::msleep(100);
    }
    QByteArray message;
    for (const QString &link : links)
        message += link.toUtf8().replace('\n', ' ') + '\n';
    socket.write(message);
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(int(qMax<qint64>(1000, deadline.remainingTime()))))
        ;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState
        && !socket.waitForDisconnected(int(qMax<qint64>(1000, deadline.remainingTime()))))
        return fail(err, u"起動中の Hollin に渡せませんでした。"_s, socket.errorString());
    return true;
}

} // namespace hollin
