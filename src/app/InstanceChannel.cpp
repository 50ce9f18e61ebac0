#include "InstanceChannel.h"

#include "storage/DataRoot.h"
#include "storage/FileIo.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// The same name for every spelling of the data root (a symbolic link, a trailing slash).
QString nameFor(const DataRoot &root)
{
    const QString canonical = QFileInfo(root.root()).canonicalFilePath();
    const QByteArray path = (canonical.isEmpty() ? root.root() : canonical).toUtf8();
    return u"hollin-"_s
        + QString::fromLatin1(QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(24));
}

// The socket's folder, created 0700 when missing. Whatever is there already
// is used only when it is a folder (not a link) of this user that no one else
// may enter: another user who made it first could read or answer the links.
bool privateFolder(QString *folder, Error *err)
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!base.startsWith(u'/'))
        base = u"/tmp"_s;
    *folder = base + u"/hollin-"_s + QString::number(::getuid());
    const QByteArray native = QFile::encodeName(*folder);
    struct stat st;
    if ((::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) || ::lstat(native.constData(), &st) != 0)
        return fail(err, u"他の起動と連絡するフォルダ「%1」を作れません。"_s.arg(*folder), fileio::errnoText(errno));
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0)
        return fail(err, u"他の起動と連絡するフォルダ「%1」は他の人も使えるため、使いません。"_s.arg(*folder),
                    u"not a folder of uid %1 with mode 0700"_s.arg(::getuid()));
    return true;
}

// Sockets of copies that ended without closing them (killed, or ended at
// once by a right press on a floating window): nothing listens there any
// more, so a connect is refused at once. Live ones are left alone.
void removeStaleSockets(const QString &folder)
{
    const QDir dir(folder);
    for (const QString &name : dir.entryList({u"hollin-*"_s}, QDir::System | QDir::Hidden)) {
        const QByteArray native = QFile::encodeName(dir.filePath(name));
        struct stat st;
        sockaddr_un address{};
        if (::lstat(native.constData(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::getuid()
            || size_t(native.size()) >= sizeof address.sun_path)
            continue;
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
        const fileio::Fd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (probe.isOpen() && ::connect(probe.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
            && errno == ECONNREFUSED)
            ::unlink(native.constData());
    }
}

// The process at the other end of a local socket runs as this user.
bool peerIsSameUser(qintptr socket)
{
    ucred cred{};
    socklen_t size = sizeof cred;
    return ::getsockopt(int(socket), SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && cred.uid == ::getuid();
}

// More than any mailto: link a desktop hands over; a peer sending more is cut off.
constexpr qint64 MaxMessage = 1 << 20;
// The last line of a second start's message; never a mailto: link.
const QByteArray ActivateLine = QByteArrayLiteral("activate");

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

QString InstanceChannel::socketPath(Error *err) const
{
    QString folder;
    if (!privateFolder(&folder, err))
        return {};
    return folder + u'/' + m_name;
}

InstanceChannel::Role InstanceChannel::claim(Error *err)
{
    if (!m_lock.tryLock(0)) {
        if (m_lock.error() == QLockFile::LockFailedError)
            return Role::Second;
        fail(err, u"データフォルダに書き込めません。"_s, m_lockPath);
        return Role::Failed;
    }
    // QLockFile creates its file by the umask; like every file of the data
    // folder it is the owner's alone.
    fileio::makeOwnerOnly(m_lockPath, nullptr);
    // Without the channel this copy still runs; err tells that later starts
    // cannot hand their links over.
    listen(err);
    return Role::First;
}

bool InstanceChannel::listen(Error *err)
{
    const QString path = socketPath(err);
    if (path.isEmpty())
        return false;
    removeStaleSockets(QFileInfo(path).absolutePath());
    delete m_server;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(path);
    if (!m_server->listen(path))
        return fail(err, u"他の起動からの呼び出しを受け付けられません。"_s, m_server->errorString());
    connect(m_server, &QLocalServer::newConnection, this, &InstanceChannel::accept);
    return true;
}

// Each connection is read until the peer closes it; then every line is one link.
void InstanceChannel::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (!peerIsSameUser(socket->socketDescriptor())) {
            qWarning("hollin: a link from another user's process was refused");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, socket, [socket] {
            if (socket->bytesAvailable() > MaxMessage)
                socket->abort();
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            const QByteArray message = socket->readAll();
            socket->deleteLater();
            if (message.size() > MaxMessage)
                return;
            for (const QByteArray &line : message.split('\n')) {
                if (line == ActivateLine || line.startsWith(ActivateLine + ' '))
                    emit activationRequested(QString::fromUtf8(line.mid(ActivateLine.size() + 1)));
                else if (!line.isEmpty())
                    emit linkReceived(QString::fromUtf8(line));
            }
        });
    }
}

bool InstanceChannel::send(const QStringList &links, const QString &activationToken, int timeoutMs,
                           Error *err) const
{
    const QString path = socketPath(err);
    if (path.isEmpty())
        return false;
    QLocalSocket socket;
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        socket.connectToServer(path);
        if (socket.waitForConnected(int(qMax<qint64>(0, deadline.remainingTime()))))
            break;
        if (deadline.hasExpired())
            return fail(err, u"起動中の Hollin に接続できません。"_s, socket.errorString());
        QThread::msleep(100);
    }
    if (!peerIsSameUser(socket.socketDescriptor()))
        return fail(err, u"起動中の Hollin ではないものが待ち受けているため、渡しませんでした。"_s, path);
    QByteArray message;
    for (const QString &link : links)
        message += link.toUtf8().replace('\n', ' ') + '\n';
    message += ActivateLine;
    if (!activationToken.isEmpty())
        message += ' ' + activationToken.toUtf8().replace('\n', ' ');
    message += '\n';
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
