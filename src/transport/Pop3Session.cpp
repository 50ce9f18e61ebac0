#include "Pop3Session.h"

#include "ServerAddress.h"
#include "TlsProbe.h"
#include "TlsTrust.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

constexpr qsizetype kMaxLine = 16 * 1024 * 1024;
// A multi-line answer longer than this is not a mail but a runaway server.
constexpr qsizetype kMaxMultiLine = 256 * 1024 * 1024;
// An APOP timestamp longer than this is no real server's.
constexpr qsizetype kMaxApopTimestamp = 200;
// Within every reply timeout a reply ends or brings at least this much.
constexpr qint64 kMinBytesPerWindow = 64 * 1024;
// Waits are cut into slices this long, so that a cancel is seen.
constexpr int kSliceMs = 100;
// After a cancel, a wait ends once nothing came for this long...
constexpr int kCancelIdleMs = 1000;
// ... and in any case this long after the cancel was seen (time enough for
// QUIT to commit the stored messages' deletions on a healthy server).
constexpr int kCancelGraceMs = 3000;

QString replyText(const QByteArray &line)
{
    return QString::fromUtf8(line).trimmed();
}

bool hasLineBreakOrNul(const QString &s)
{
    return s.contains(u'\r') || s.contains(u'\n') || s.contains(QChar(0));
}

// What connectTcp() ends with besides 0 (connected) and an errno.
constexpr int ConnectCancelled = -1;
constexpr int ConnectTimedOut = -2;

// Connects a new TCP socket to address:port without blocking, waiting in short
// slices so that a cancel ends the wait at once (a server that drops the SYN
// would otherwise hold the caller for the whole connect timeout). Returns 0
// with *fd the connected socket, else an errno or one of the values above.
int connectTcp(const QHostAddress &address, quint16 port, const QDeadlineTimer &deadline,
               const std::atomic_bool *cancel, int *fd)
{
    sockaddr_storage sa{};
    socklen_t length = 0;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto *in = reinterpret_cast<sockaddr_in *>(&sa);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof *in;
    } else {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&sa);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
        length = sizeof *in6;
    }
    const int s = ::socket(sa.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0)
        return errno;
    int result = ::connect(s, reinterpret_cast<const sockaddr *>(&sa), length) == 0 ? 0 : errno;
    while (result == EINPROGRESS || result == EINTR) {
        if (cancel && cancel->load())
            result = ConnectCancelled;
        else if (deadline.hasExpired())
            result = ConnectTimedOut;
        pollfd p{s, POLLOUT, 0};
        if (result < 0 || ::poll(&p, 1, int(qBound(qint64(1), deadline.remainingTime(), qint64(kSliceMs)))) <= 0)
            continue;
        socklen_t size = sizeof result;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &result, &size) != 0)
            result = errno;
    }
    if (result != 0) {
        ::close(s);
        return result;
    }
    *fd = s;
    return 0;
}

} // namespace

Pop3Session::Pop3Session() = default;

Pop3Session::~Pop3Session()
{
    abort();
}

void Pop3Session::setTimeouts(int connectMs, int replyMs)
{
    m_connectMs = connectMs;
    m_replyMs = replyMs;
}

bool Pop3Session::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool Pop3Session::isEncrypted() const
{
    return m_socket && m_socket->isEncrypted();
}

QStringList Pop3Session::capabilities() const
{
    QStringList names;
    for (const QByteArray &c : m_capabilities)
        names.append(QString::fromLatin1(c));
    names.sort();
    return names;
}

QString Pop3Session::tlsProtocol() const
{
    return isEncrypted() ? m_socket->sessionCipher().protocolString() : QString();
}

QSslCertificate Pop3Session::peerCertificate() const
{
    return isEncrypted() ? m_socket->peerCertificate() : QSslCertificate();
}

void Pop3Session::abort()
{
    if (m_socket) {
        m_socket->abort();
        m_socket.reset();
    }
    m_buffer.clear();
    m_bufferPos = 0;
    m_pending.clear();
    m_prefetched.clear();
    m_bodies.clear();
    m_deferredErrors.clear();
}

bool Pop3Session::connectionLost(Error *err, const QString &why)
{
    abort();
    return fail(err, why);
}

QString Pop3Session::refusedText(const QByteArray &shown, const QByteArray &reply) const
{
    return u"POP3 サーバー %1 がコマンド %2 を受け付けませんでした。サーバーの応答: %3"_s
        .arg(m_hostPort, QString::fromUtf8(shown), replyText(reply));
}

bool Pop3Session::connectToServer(const QString &server, Error *err)
{
    abort();
    m_capabilities.clear();
    m_greeting.clear();
    ServerAddress a;
    if (!ServerAddress::parse(server, &a) || !(a.scheme.isEmpty() || a.scheme == u"pop3"_s || a.scheme == u"pop3s"_s)) {
        m_hostPort = server;
        return fail(err, u"POP3 サーバー名「%1」が正しくありません。"_s.arg(server));
    }
    const bool implicitTls = a.implicitTls();
    const quint16 port = quint16(a.port ? a.port : (implicitTls ? 995 : 110));
    m_hostPort = a.hostPort(port);
    if (!openSocket(a.host, port, implicitTls, err)) {
        // No greeting on a plain connection: a TLS-only port waits for our
        // handshake as we wait for its greeting.
        if (!implicitTls && m_greeting.isEmpty() && m_socketOpened && !(m_cancel && m_cancel->load())) {
            const QString hint = tlsOnlyHint(a, port, u"pop3s"_s, qMin(m_connectMs, 5000));
            if (!hint.isEmpty() && err)
                err->message += hint;
        }
        return false;
    }
    if (!readCapabilities(err))
        return false;
    // A bare host name uses STLS whenever the server offers it; pop3://
    // insists on it, so that a password never goes out in clear because
    // someone removed STLS from the capabilities.
    if (!implicitTls && m_capabilities.contains("STLS"))
        return startTls(err) && readCapabilities(err);
    if (a.scheme == u"pop3"_s) {
        return connectionLost(err, u"POP3 サーバー %1 は暗号化（STLS）を提供していません。pop3:// では"
                                   u"パスワードを暗号化せずに送らないため、接続を中止しました。"
                                   u"サーバーが対応していれば pop3s://（ポート 995）を使ってください。"_s.arg(m_hostPort));
    }
    return true;
}

bool Pop3Session::openSocket(const QString &host, quint16 port, bool implicitTls, Error *err)
{
    QDeadlineTimer deadline(m_connectMs);
    m_socketOpened = false;
    m_socket = std::make_unique<QSslSocket>();
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.addCaCertificates(extraCaCertificates());
    conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
    m_socket->setSslConfiguration(conf);
    m_socket->setPeerVerifyName(host);

    const QString timeoutText = u"POP3 サーバー %1 に接続できません（%2 秒以内に応答がありません）。"_s
                                    .arg(m_hostPort).arg(m_connectMs / 1000.0);
    QList<QHostAddress> addresses;
    if (QHostAddress literal; literal.setAddress(host)) {
        addresses << literal;
    } else {
        const QHostInfo info = QHostInfo::fromName(host); // the lookup itself cannot be cancelled
        if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
            return connectionLost(err, u"POP3 サーバー %1 に接続できません。%2"_s.arg(m_hostPort, info.errorString()));
        addresses = info.addresses();
    }
    int fd = -1;
    int result = ENETUNREACH;
    for (const QHostAddress &address : std::as_const(addresses)) {
        result = connectTcp(address, port, deadline, m_cancel, &fd);
        if (result == 0 || result == ConnectCancelled || result == ConnectTimedOut)
            break;
    }
    if (result == ConnectCancelled)
        return connectionLost(err, cancelledText());
    if (result == ConnectTimedOut)
        return connectionLost(err, timeoutText);
    if (result != 0)
        return connectionLost(err, u"POP3 サーバー %1 に接続できません。%2"_s.arg(m_hostPort, qt_error_string(result)));
    m_socketOpened = true;
    if (!m_socket->setSocketDescriptor(fd)) {
        ::close(fd);
        return connectionLost(err, u"POP3 サーバー %1 に接続できません。%2"_s.arg(m_hostPort, m_socket->errorString()));
    }
    if (implicitTls) {
        m_socket->startClientEncryption();
        if (!waitForTls(deadline, err))
            return false;
    }
    // The greeting shares the connect budget.
    const int replyMs = m_replyMs;
    m_replyMs = int(qMax<qint64>(1, deadline.remainingTime()));
    QByteArray line;
    Error lineErr;
    m_timedOut = false;
    beginReply();
    const bool got = readLine(&line, &lineErr);
    m_replyMs = replyMs;
    if (!got)
        return connectionLost(err, m_timedOut ? timeoutText : lineErr.message);
    if (!line.startsWith("+OK")) {
        return connectionLost(err, u"POP3 サーバー %1 の挨拶が正しくありません: %2"_s
                                       .arg(m_hostPort, QString::fromUtf8(line.left(200)).trimmed()));
    }
    m_greeting = line.trimmed();
    return true;
}

bool Pop3Session::startTls(Error *err)
{
    Reply r;
    if (!command("STLS", Kind::Single, &r, err) || !expectOk(r, "STLS", err)) {
        abort();
        return false;
    }
    // Anything the server sent after its +OK came in clear text and could
    // have been injected: refuse rather than read it as protected.
    if (m_bufferPos < m_buffer.size() || m_socket->bytesAvailable() > 0)
        return connectionLost(err, u"POP3 サーバー %1 が STLS の後に暗号化されていないデータを送りました。"_s.arg(m_hostPort));
    m_buffer.clear();
    m_bufferPos = 0;
    m_socket->startClientEncryption();
    return waitForTls(QDeadlineTimer(m_connectMs), err);
}

// The handshake, waited for in short slices so that a cancel ends it at once.
bool Pop3Session::waitForTls(const QDeadlineTimer &deadline, Error *err)
{
    for (;;) {
        if (m_cancel && m_cancel->load())
            return connectionLost(err, cancelledText());
        const int slice = int(qBound(qint64(1), deadline.remainingTime(), qint64(kSliceMs)));
        if (m_socket->waitForEncrypted(slice) || m_socket->isEncrypted())
            return true;
        if (deadline.hasExpired() || m_socket->state() != QAbstractSocket::ConnectedState
            || m_socket->error() != QAbstractSocket::SocketTimeoutError)
            return tlsFailed(err);
    }
}

QString Pop3Session::cancelledText() const
{
    return u"受信を中止しました（POP3 サーバー %1 との接続を切りました）。"_s.arg(m_hostPort);
}

bool Pop3Session::tlsFailed(Error *err)
{
    QStringList errors;
    bool mismatch = false;
    bool untrusted = false;
    QStringList names; // what the certificate is for
    for (const QSslError &e : m_socket->sslHandshakeErrors()) {
        errors << e.errorString();
        if (e.error() == QSslError::HostNameMismatch) {
            mismatch = true;
            names = e.certificate().subjectAlternativeNames().values();
        } else {
            untrusted = true;
        }
    }
    const QString hint = certificateHint(m_socket->peerVerifyName(), mismatch, untrusted, names);
    if (errors.isEmpty())
        errors << m_socket->errorString();
    return connectionLost(err, u"POP3 サーバー %1 と暗号化通信を始められません（%2）。%3"_s
                                   .arg(m_hostPort, errors.join(u" / "_s), hint));
}

bool Pop3Session::readCapabilities(Error *err)
{
    m_capabilities.clear();
    Reply r;
    if (!command("CAPA", Kind::Multi, &r, err))
        return false;
    if (!r.ok)
        return true; // an old server without CAPA: no extensions
    for (const QByteArray &line : r.body.split('\n')) {
        const QByteArray word = line.trimmed().split(' ').value(0).toUpper();
        if (!word.isEmpty())
            m_capabilities.insert(word);
    }
    return true;
}

bool Pop3Session::login(const QString &user, const QString &password, bool apop, Error *err)
{
    if (!isConnected())
        return fail(err, u"POP3 サーバーに接続していません。"_s);
    if (hasLineBreakOrNul(user) || hasLineBreakOrNul(password) || user.contains(u' '))
        return fail(err, u"アカウント名またはパスワードに使えない文字（改行など）が含まれています。"_s);
    Reply r;
    if (apop) {
        // The timestamp is a msg-id (RFC 1939): "<" printable ASCII "@" ... ">",
        // kept short; anything else is not hashed with the password.
        static const QRegularExpression anyStamp(u"<[^<>]*>"_s);
        static const QRegularExpression msgId(u"^<[!-;=?-~]+@[!-;=?-~]+>$"_s);
        const QString greeting = QString::fromLatin1(m_greeting);
        const QRegularExpressionMatch m = anyStamp.match(greeting);
        if (!m.hasMatch()) {
            return fail(err, u"POP3 サーバー %1 は APOP に対応していません（挨拶にタイムスタンプがありません）。"
                             u"サーバーの挨拶: %2"_s.arg(m_hostPort, replyText(m_greeting)));
        }
        const QByteArray timestamp = m.captured(0).toLatin1();
        if (timestamp.size() > kMaxApopTimestamp || timestamp.count('@') != 1
            || !msgId.match(m.captured(0)).hasMatch()) {
            return fail(err, u"POP3 サーバー %1 の APOP タイムスタンプが不正なため、ログインを中止しました"
                             u"（<…@…> の形の %2 バイト以内の ASCII 文字列である必要があります）。サーバーの挨拶: %3"_s
                                 .arg(m_hostPort).arg(kMaxApopTimestamp)
                                 .arg(QString::fromUtf8(m_greeting.left(300)).trimmed()));
        }
        const QByteArray digest =
            QCryptographicHash::hash(timestamp + password.toUtf8(), QCryptographicHash::Md5).toHex();
        if (!command("APOP " + user.toUtf8() + ' ' + digest, Kind::Single, &r, err, "APOP"))
            return false;
    } else {
        if (!command("USER " + user.toUtf8(), Kind::Single, &r, err))
            return false;
        if (r.ok && !command("PASS " + password.toUtf8(), Kind::Single, &r, err, "PASS"))
            return false;
    }
    if (!r.ok) {
        return fail(err, u"POP3 サーバー %1 にログインできません。サーバーの応答: %2"_s
                             .arg(m_hostPort, replyText(r.line)));
    }
    // Capabilities may change after login (RFC 2449).
    return readCapabilities(err);
}

bool Pop3Session::stat(int *count, qint64 *octets, Error *err)
{
    Reply r;
    if (!command("STAT", Kind::Single, &r, err) || !expectOk(r, "STAT", err))
        return false;
    const QList<QByteArray> f = r.line.simplified().split(' ');
    bool ok1 = false, ok2 = false;
    const int n = f.value(1).toInt(&ok1);
    const qint64 size = f.value(2).toLongLong(&ok2);
    if (!ok1 || !ok2 || n < 0)
        return fail(err, u"POP3 サーバー %1 の STAT の応答が正しくありません: %2"_s.arg(m_hostPort, replyText(r.line)));
    if (count)
        *count = n;
    if (octets)
        *octets = size;
    return true;
}

bool Pop3Session::list(int n, qint64 *octets, Error *err)
{
    Reply r;
    const QByteArray cmd = "LIST " + QByteArray::number(n);
    if (!command(cmd, Kind::Single, &r, err) || !expectOk(r, cmd, err))
        return false;
    bool ok = false;
    const qint64 size = r.line.simplified().split(' ').value(2).toLongLong(&ok);
    if (!ok || size < 0)
        return fail(err, u"POP3 サーバー %1 の LIST の応答が正しくありません: %2"_s.arg(m_hostPort, replyText(r.line)));
    *octets = size;
    return true;
}

bool Pop3Session::listAll(QHash<int, qint64> *sizes, Error *err)
{
    Reply r;
    if (!command("LIST", Kind::Multi, &r, err) || !expectOk(r, "LIST", err))
        return false;
    sizes->clear();
    for (const QByteArray &line : r.body.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        bool ok1 = false, ok2 = false;
        const int n = f.value(0).toInt(&ok1);
        const qint64 size = f.value(1).toLongLong(&ok2);
        if (ok1 && ok2)
            sizes->insert(n, size);
    }
    return true;
}

bool Pop3Session::top(int n, int lines, QByteArray *out, Error *err)
{
    Reply r;
    const QByteArray cmd = "TOP " + QByteArray::number(n) + ' ' + QByteArray::number(lines);
    if (!command(cmd, Kind::Multi, &r, err) || !expectOk(r, cmd, err))
        return false;
    *out = r.body;
    return true;
}

bool Pop3Session::uidlAll(QHash<int, QByteArray> *uids, Error *err)
{
    Reply r;
    if (!command("UIDL", Kind::Multi, &r, err) || !expectOk(r, "UIDL", err))
        return false;
    uids->clear();
    for (const QByteArray &line : r.body.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        bool ok = false;
        const int n = f.value(0).toInt(&ok);
        if (ok && f.size() == 2 && !f[1].isEmpty())
            uids->insert(n, f[1]);
    }
    return true;
}

bool Pop3Session::retrieve(int n, QByteArray *out, Error *err)
{
    const QByteArray cmd = "RETR " + QByteArray::number(n);
    while (m_prefetched.contains(n) && !m_bodies.contains(n)) {
        if (!readOldest(err))
            return false;
    }
    if (m_bodies.contains(n)) {
        const Reply r = m_bodies.take(n);
        if (!expectOk(r, cmd, err))
            return false;
        *out = r.body;
        return true;
    }
    Reply r;
    if (!command(cmd, Kind::Multi, &r, err) || !expectOk(r, cmd, err))
        return false;
    *out = r.body;
    return true;
}

bool Pop3Session::prefetch(int n)
{
    if (!isConnected() || !supportsPipelining())
        return false;
    if (isPrefetched(n))
        return true;
    if (!send("RETR " + QByteArray::number(n), Kind::Multi, {}, nullptr, false))
        return false;
    m_pending.last().retr = n;
    m_prefetched.insert(n);
    return true;
}

bool Pop3Session::dele(int n, Error *err)
{
    const QByteArray cmd = "DELE " + QByteArray::number(n);
    if (isConnected() && supportsPipelining()) {
        if (!send(cmd, Kind::Single, {}, err, false))
            return false;
        m_pending.last().dele = n;
        return true;
    }
    Reply r;
    return command(cmd, Kind::Single, &r, err) && expectOk(r, cmd, err);
}

bool Pop3Session::quit(Error *err)
{
    if (!isConnected()) {
        abort();
        return fail(err, u"POP3 サーバー %1 との接続はすでに切れています。"_s.arg(m_hostPort));
    }
    Reply r;
    if (!command("QUIT", Kind::Single, &r, err))
        return false;
    const QList<QString> refused = m_deferredErrors;
    abort();
    if (!r.ok) {
        return fail(err, u"POP3 サーバー %1 がメッセージの削除を確定できませんでした。サーバーの応答: %2"_s
                             .arg(m_hostPort, replyText(r.line)));
    }
    if (!refused.isEmpty())
        return fail(err, refused.join(u'\n'));
    return true;
}

bool Pop3Session::expectOk(const Reply &r, const QByteArray &shown, Error *err)
{
    if (r.ok)
        return true;
    return fail(err, refusedText(shown, r.line));
}

void Pop3Session::sendQueued()
{
    if (m_socket)
        m_socket->flush();
}

bool Pop3Session::send(const QByteArray &command, Kind kind, const QByteArray &shown, Error *err, bool now)
{
    if (!isConnected()) {
        abort();
        return fail(err, u"POP3 サーバー %1 との接続が切れています。"_s.arg(m_hostPort));
    }
    const QByteArray line = command + "\r\n";
    if (m_socket->write(line) != line.size())
        return connectionLost(err, u"POP3 サーバー %1 に送信できません。%2"_s.arg(m_hostPort, m_socket->errorString()));
    if (now)
        m_socket->flush();
    m_pending.append({shown.isEmpty() ? command : shown, kind});
    return true;
}

bool Pop3Session::command(const QByteArray &cmd, Kind kind, Reply *r, Error *err, const QByteArray &shown)
{
    if (!send(cmd, kind, shown, err))
        return false;
    while (m_pending.size() > 1) {
        if (!readOldest(err))
            return false;
    }
    const Pending p = m_pending.takeFirst();
    return readReply(p, r, err);
}

// Reads the answer to the oldest command nobody waits for: a prefetched RETR
// (kept for retrieve()) or a pipelined DELE (its refusal kept for quit()).
bool Pop3Session::readOldest(Error *err)
{
    const Pending p = m_pending.takeFirst();
    Reply r;
    if (!readReply(p, &r, err))
        return false;
    if (p.retr) {
        m_prefetched.remove(p.retr);
        m_bodies.insert(p.retr, std::move(r));
    } else if (p.dele && !r.ok) {
        m_deferredErrors.append(refusedText(p.command, r.line));
    }
    return true;
}

bool Pop3Session::readReply(const Pending &p, Reply *r, Error *err)
{
    beginReply();
    QByteArray line;
    if (!readLine(&line, err))
        return false;
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    r->line = line;
    r->body.clear();
    if (line.startsWith("+OK")) {
        r->ok = true;
    } else if (line.startsWith("-ERR")) {
        r->ok = false;
        return true; // no body follows an -ERR
    } else {
        return connectionLost(err, u"POP3 サーバー %1 の応答が正しくありません（%2 への応答）: %3"_s
                                       .arg(m_hostPort, QString::fromUtf8(p.command),
                                            QString::fromUtf8(line.left(200))));
    }
    if (p.kind == Kind::Single)
        return true;
    for (;;) {
        if (!readLine(&line, err))
            return false;
        const bool stuffed = line.startsWith('.');
        if (stuffed && (line == ".\r\n" || line == ".\n")) {
            // Doubling leaves up to half the room unused: give it back (the
            // bytes stay where they are).
            if (r->body.capacity() - r->body.size() > kMaxLine)
                r->body.squeeze();
            return true;
        }
        // Qt's own growth of an append copies the whole body into a new
        // block, twice the size; a reserve grows it in place, so a long
        // message never exists twice.
        const qsizetype needed = r->body.size() + line.size();
        if (needed > r->body.capacity())
            r->body.reserve(std::max<qsizetype>(needed, std::min(2 * r->body.capacity(), kMaxMultiLine + kMaxLine)));
        r->body.append(line.constData() + (stuffed ? 1 : 0), line.size() - (stuffed ? 1 : 0));
        if (r->body.size() > kMaxMultiLine)
            return connectionLost(err, u"POP3 サーバー %1 の応答が大きすぎます（%2 への応答が %3 MB を超えました）。"_s
                                           .arg(m_hostPort, QString::fromUtf8(p.command))
                                           .arg(kMaxMultiLine / (1024 * 1024)));
    }
}

void Pop3Session::beginReply()
{
    m_window.setRemainingTime(m_replyMs);
    m_windowBytes = 0;
    m_sinceData.start();
}

bool Pop3Session::readLine(QByteArray *line, Error *err)
{
    for (;;) {
        const qsizetype nl = m_buffer.indexOf('\n', m_bufferPos);
        if (nl >= 0) {
            *line = m_buffer.mid(m_bufferPos, nl + 1 - m_bufferPos);
            m_bufferPos = nl + 1;
            if (m_bufferPos == m_buffer.size()) {
                m_buffer.clear();
                m_bufferPos = 0;
            }
            return true;
        }
        if (m_buffer.size() - m_bufferPos > kMaxLine)
            return connectionLost(err, u"POP3 サーバー %1 から長すぎる行が届きました。"_s.arg(m_hostPort));
        if (!m_socket)
            return fail(err, u"POP3 サーバー %1 との接続が切れています。"_s.arg(m_hostPort));
        if (m_socket->bytesAvailable() == 0 && !waitForData(err))
            return false;
        if (m_bufferPos > 0) {
            m_buffer.remove(0, m_bufferPos);
            m_bufferPos = 0;
        }
        const qsizetype before = m_buffer.size();
        m_buffer += m_socket->readAll();
        if (m_buffer.size() > before)
            m_sinceData.start();
        m_windowBytes += m_buffer.size() - before;
        if (m_windowBytes >= kMinBytesPerWindow) {
            m_window.setRemainingTime(m_replyMs);
            m_windowBytes = 0;
        }
    }
}

// Waits in short slices until data can be read. Fails (and closes the
// connection) when the connection is lost, the reply's window runs out, or a
// cancel is due.
bool Pop3Session::waitForData(Error *err)
{
    sendQueued(); // the answer waited for may be to a queued command
    for (;;) {
        if (m_cancel && m_cancel->load()) {
            if (m_cancelGrace.isForever())
                m_cancelGrace.setRemainingTime(kCancelGraceMs);
            if (m_sinceData.hasExpired(kCancelIdleMs) || m_cancelGrace.hasExpired())
                return connectionLost(err, cancelledText());
        } else {
            m_cancelGrace = QDeadlineTimer(QDeadlineTimer::Forever); // the flag was taken back
        }
        if (m_window.hasExpired()) {
            m_timedOut = true;
            if (m_windowBytes == 0)
                return connectionLost(err, u"POP3 サーバー %1 から %2 秒間応答がありません。"_s
                                               .arg(m_hostPort).arg(m_replyMs / 1000.0));
            return connectionLost(err, u"POP3 サーバー %1 から %2 秒間に十分な応答がありません（転送が遅すぎます）。"_s
                                           .arg(m_hostPort).arg(m_replyMs / 1000.0));
        }
        const int slice = int(qBound(qint64(1), m_window.remainingTime(), qint64(kSliceMs)));
        if (m_socket->waitForReadyRead(slice) || m_socket->bytesAvailable() > 0)
            return true;
        if (m_socket->state() != QAbstractSocket::ConnectedState
            || m_socket->error() != QAbstractSocket::SocketTimeoutError)
            return connectionLost(err, u"POP3 サーバー %1 との接続が切れました。"_s.arg(m_hostPort));
    }
}

} // namespace hollin
