#include "SmtpSender.h"

#include "AddressSyntax.h"
#include "ServerAddress.h"
#include "TlsProbe.h"
#include "TlsTrust.h"

#include <QHostAddress>
#include <QSslConfiguration>
#include <QUrl>

#include <curl/curl.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <mutex>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

bool isBareAddress(const QString &a)
{
    if (isMailbox(a)) // also a quoted local part with blanks
        return true;
    if (a.isEmpty())
        return false;
    for (QChar c : a) {
        if (c.unicode() < 0x21 || c.unicode() == 0x7F || c == u'<' || c == u'>')
            return false;
    }
    return true;
}

// Lone LF (and lone CR) become CR LF: libcurl dot-stuffs but sends line ends as given.
QByteArray crlf(const QByteArray &in)
{
    QByteArray out;
    out.reserve(in.size() + in.size() / 40);
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < in.size() && in[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

// A name with a dot inside, of letters, digits and hyphens; not localhost.*
bool isFullyQualified(const QByteArray &name)
{
    if (!name.contains('.') || name.startsWith('.') || name.endsWith('.') || name.contains("..")
        || name.toLower().startsWith("localhost"))
        return false;
    for (char c : name) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.'))
            return false;
    }
    return true;
}

// The machine's fully qualified name (its host name, or the canonical name
// the resolver gives for it), or empty. Looked up once: it may ask DNS.
QByteArray fullyQualifiedHostName()
{
    static const QByteArray name = [] {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0)
            return QByteArray();
        if (isFullyQualified(QByteArray(host)))
            return QByteArray(host);
        addrinfo hints{};
        hints.ai_flags = AI_CANONNAME;
        addrinfo *found = nullptr;
        QByteArray canonical;
        if (::getaddrinfo(host, nullptr, &hints, &found) == 0 && found) {
            if (found->ai_canonname)
                canonical = found->ai_canonname;
            ::freeaddrinfo(found);
        }
        return isFullyQualified(canonical) ? canonical : QByteArray();
    }();
    return name;
}

// "[192.0.2.1]" or "[IPv6:2001:db8::1]": the local address that a connection
// to the first address of host:port leaves from (connecting a UDP socket
// sends nothing); empty when host does not resolve.
QString localAddressLiteral(const QString &host, int port)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &found) != 0
        || !found)
        return {};
    QString literal;
    const int fd = ::socket(found->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (fd >= 0 && ::connect(fd, found->ai_addr, found->ai_addrlen) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) == 0) {
        QHostAddress address(reinterpret_cast<sockaddr *>(&local));
        address.setScopeId({});
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            literal = u'[' + address.toString() + u']';
        else if (address.protocol() == QAbstractSocket::IPv6Protocol)
            literal = u"[IPv6:"_s + address.toString() + u']';
    }
    if (fd >= 0)
        ::close(fd);
    ::freeaddrinfo(found);
    return literal;
}

// Before 8.2 the option's name carried a typo.
#if LIBCURL_VERSION_NUM >= 0x080200
constexpr CURLoption kAllowRcptFails = CURLOPT_MAIL_RCPT_ALLOWFAILS;
#else
constexpr CURLoption kAllowRcptFails = CURLOPT_MAIL_RCPT_ALLLOWFAILS;
#endif

const QByteArrayList kCommands{"EHLO", "HELO", "STARTTLS", "AUTH", "MAIL", "RCPT", "DATA", "RSET", "NOOP", "QUIT"};

} // namespace

struct SmtpCallbacks {
    static size_t read(char *buffer, size_t size, size_t count, void *self)
    {
        auto *s = static_cast<SmtpSender *>(self);
        const size_t n = qMin<size_t>(size * count, size_t(s->m_data.size() - s->m_sent));
        std::memcpy(buffer, s->m_data.constData() + s->m_sent, n);
        s->m_sent += qsizetype(n);
        return n;
    }

    // Commands out and reply lines in, so that a reply can be told by the
    // command it answers. Only the verb of a command is kept: AUTH lines and
    // what follows them carry credentials.
    static int debug(CURL *, curl_infotype type, char *data, size_t size, void *self)
    {
        auto *s = static_cast<SmtpSender *>(self);
        if (type == CURLINFO_HEADER_OUT) {
            const QByteArray verb = QByteArray(data, qsizetype(size)).trimmed().split(' ').value(0).toUpper();
            if (kCommands.contains(verb))
                s->m_lastCommand = verb;
        } else if (type == CURLINFO_HEADER_IN) {
            for (const QByteArray &line : QByteArray(data, qsizetype(size)).split('\n')) {
                const QString reply = QString::fromUtf8(line).trimmed();
                if (reply.isEmpty())
                    continue;
                s->m_replies.append({s->m_lastCommand, reply});
                // libcurl sends one RCPT at a time and waits for its answer:
                // the n-th final line answers the n-th recipient.
                if (s->m_lastCommand == "RCPT" && reply.size() >= 3 && reply.mid(3, 1) != u"-"_s)
                    s->m_rcptReplies.append(reply);
            }
        }
        return 0;
    }
};

SmtpSender::SmtpSender()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

SmtpSender::~SmtpSender()
{
    disconnect();
}

void SmtpSender::setTimeouts(int connectMs, int replyMs)
{
    m_connectMs = connectMs;
    m_replyMs = replyMs;
}

void SmtpSender::setCredentials(const QString &user, const QString &password)
{
    m_user = user;
    m_password = password;
}

void SmtpSender::disconnect()
{
    if (m_curl) {
        curl_easy_cleanup(static_cast<CURL *>(m_curl)); // sends QUIT
        m_curl = nullptr;
    }
    m_plainServer.clear();
}

// Ends the connection without QUIT: after a failure (a stalled server above
// all) nothing more is worth waiting for.
void SmtpSender::dropConnection()
{
    if (!m_curl)
        return;
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(static_cast<CURL *>(m_curl), CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK
        && socket != CURL_SOCKET_BAD)
        ::shutdown(socket, SHUT_RDWR); // the QUIT of the clean-up then fails at once
    disconnect();
}

bool SmtpSender::offeredStartTls() const
{
    for (const Reply &r : m_replies) {
        if (r.command == "EHLO" && r.line.mid(4).trimmed().compare(u"STARTTLS"_s, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// The last error reply (4xx/5xx) of the server, or null.
const SmtpSender::Reply *SmtpSender::lastErrorReply() const
{
    for (auto it = m_replies.crbegin(); it != m_replies.crend(); ++it) {
        if (it->line.startsWith(u'4') || it->line.startsWith(u'5'))
            return &*it;
    }
    return nullptr;
}

int SmtpSender::perform(const QByteArray &url, Security security, const QByteArray &from, void *recipients,
                        bool allowRefusals, char *errorBuffer, bool connectOnly)
{
    if (!m_curl)
        m_curl = curl_easy_init();
    CURL *c = static_cast<CURL *>(m_curl);
    if (!c)
        return CURLE_FAILED_INIT;
    m_replies.clear();
    m_rcptReplies.clear();
    m_lastCommand.clear();
    m_sent = 0;
    errorBuffer[0] = 0;
    const QByteArray user = m_user.toUtf8();
    const QByteArray password = m_password.toUtf8();

    curl_easy_setopt(c, CURLOPT_URL, url.constData());
    curl_easy_setopt(c, CURLOPT_USE_SSL, long(security == Security::StartTls ? CURLUSESSL_ALL : CURLUSESSL_NONE));
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, static_cast<curl_slist *>(recipients));
    curl_easy_setopt(c, kAllowRcptFails, long(allowRefusals));
    // Connect only: greeting, EHLO, STARTTLS and AUTH, then nothing.
    curl_easy_setopt(c, CURLOPT_CONNECT_ONLY, long(connectOnly));
    curl_easy_setopt(c, CURLOPT_CERTINFO, long(connectOnly));
    curl_easy_setopt(c, CURLOPT_UPLOAD, long(!connectOnly));
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, curl_off_t(m_data.size()));
    curl_easy_setopt(c, CURLOPT_READFUNCTION, &SmtpCallbacks::read);
    curl_easy_setopt(c, CURLOPT_READDATA, this);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L); // for the debug callback only
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &SmtpCallbacks::debug);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, long(m_connectMs));
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(qMax(1, (m_replyMs + 999) / 1000)));
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, long(qMax(1, (m_replyMs + 999) / 1000)));
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    const QList<QSslCertificate> extra = extraCaCertificates();
    QByteArray pem;
    if (!extra.isEmpty()) {
        // A CA blob replaces the default bundle: give it the system's CAs too.
        for (const QSslCertificate &cert : QSslConfiguration::systemCaCertificates() + extra)
            pem += cert.toPem();
        curl_blob blob{pem.data(), size_t(pem.size()), CURL_BLOB_COPY};
        curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, &blob);
    } else {
        curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, nullptr); // back to the system bundle
    }
    if (!m_user.isEmpty() && !m_password.isEmpty() && security != Security::Plain) { // never an empty password
        // Used only when the server offers AUTH; libcurl sends it only after
        // the TLS handshake (STARTTLS required, or implicit TLS).
        curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
        curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, "AUTH=*");
    } else {
        curl_easy_setopt(c, CURLOPT_USERNAME, nullptr);
        curl_easy_setopt(c, CURLOPT_PASSWORD, nullptr);
        curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, nullptr);
    }
    const CURLcode rc = curl_easy_perform(c);
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, nullptr);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);
    return rc;
}

namespace {

// What went wrong with the connection itself, as libcurl reports it; None
// for every other failure. One list for the message and for whether a batch stops.
enum class Trouble { None, Unreachable, TimedOut, LoginDenied, Dropped, Unverified, Tls };

Trouble troubleOf(CURLcode rc)
{
    switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return Trouble::Unreachable;
    case CURLE_OPERATION_TIMEDOUT:
        return Trouble::TimedOut;
    case CURLE_LOGIN_DENIED:
        return Trouble::LoginDenied;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        return Trouble::Dropped;
    case CURLE_PEER_FAILED_VERIFICATION:
        return Trouble::Unverified;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CACERT_BADFILE:
        return Trouble::Tls;
    default:
        return Trouble::None;
    }
}

bool isConnectionFailure(CURLcode rc, const QString &errorReply)
{
    if (rc == CURLE_LOGIN_DENIED || errorReply.startsWith(u"421"))
        return true;
    if (!errorReply.isEmpty()) // the server answered: it refused this mail
        return false;
    return troubleOf(rc) != Trouble::None;
}

// No greeting came: what a TLS-only port does to a plain client.
bool isSilentServer(CURLcode rc)
{
    return rc == CURLE_OPERATION_TIMEDOUT || rc == CURLE_GOT_NOTHING || rc == CURLE_RECV_ERROR
           || rc == CURLE_WEIRD_SERVER_REPLY;
}

} // namespace

bool SmtpSender::send(const QString &server, const QString &from, const QStringList &recipients,
                      const QByteArray &message, Error *err, QList<Refusal> *refused)
{
    m_replies.clear();
    m_rcptReplies.clear();
    m_connectionFailed = false;
    if (refused)
        refused->clear();
    if (server.trimmed().isEmpty())
        return fail(err, u"SMTP サーバーが設定されていません。"_s);
    ServerAddress a;
    if (!ServerAddress::parse(server, &a)
        || !(a.scheme.isEmpty() || a.scheme == u"smtp"_s || a.scheme == u"smtps"_s))
        return fail(err, u"SMTP サーバー名「%1」が正しくありません。"_s.arg(server));
    if (recipients.isEmpty() || recipients.contains(QString()))
        return fail(err, u"宛先のメールアドレスが空です。"_s);
    for (const QString &r : recipients) {
        if (!isBareAddress(r))
            return fail(err, u"宛先のメールアドレス「%1」が正しくありません。"_s.arg(r));
    }
    if (from.isEmpty())
        return fail(err, u"差出人のメールアドレスが設定されていません。"_s);
    if (!isBareAddress(from))
        return fail(err, u"差出人のメールアドレス「%1」が正しくありません。"_s.arg(from));

    const int defaultPort = a.scheme == u"smtps"_s ? 465 : a.scheme == u"smtp"_s ? 587 : 25;
    const QString hostPort = a.hostPort(defaultPort);
    const bool bare = a.scheme.isEmpty();
    Security security = a.implicitTls() ? Security::Implicit : Security::StartTls;
    if (bare && m_plainServer == hostPort)
        security = Security::Plain;
    // libcurl greets with the URL's path, taken whole; without one it would
    // send the local host name cut at its first dot.
    QString ehloName = QString::fromLatin1(fullyQualifiedHostName());
    if (ehloName.isEmpty())
        ehloName = localAddressLiteral(a.host, a.port ? a.port : defaultPort);
    const QByteArray url = (security == Security::Implicit ? "smtps://" : "smtp://") + hostPort.toUtf8() + '/'
                           + QUrl::toPercentEncoding(ehloName);

    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_slist *rcpts = nullptr;
    for (const QString &r : recipients)
        rcpts = curl_slist_append(rcpts, r.toUtf8().constData());
    const QByteArray fromBytes = from.toUtf8();
    m_data = crlf(message);

    CURLcode rc = CURLcode(perform(url, security, fromBytes, rcpts, refused != nullptr, errorBuffer));
    if (rc == CURLE_USE_SSL_FAILED && bare && !offeredStartTls()) {
        // A bare host without STARTTLS: the plain dialogue, without AUTH.
        dropConnection();
        m_plainServer = hostPort;
        security = Security::Plain;
        rc = CURLcode(perform(url, security, fromBytes, rcpts, refused != nullptr, errorBuffer));
    }
    curl_slist_free_all(rcpts);
    m_data.clear();
    if (rc == CURLE_OK) {
        if (refused)
            *refused = refusals(recipients);
        return true;
    }
    const Reply *errorReply = lastErrorReply();
    m_connectionFailed = isConnectionFailure(rc, errorReply ? errorReply->line : QString());
    QString text = errorText(rc, errorBuffer, hostPort, security, from, recipients, ehloName);
    if (security != Security::Implicit && m_replies.isEmpty() && isSilentServer(rc))
        text += tlsOnlyHint(a, quint16(a.port ? a.port : defaultPort), u"smtps"_s, qMin(m_connectMs, 5000));
    const QString detail = u"libcurl %1: %2"_s.arg(int(rc)).arg(
        QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc)));
    // A failed exchange may leave the connection in any state: start afresh.
    dropConnection();
    return fail(err, text, detail);
}

bool SmtpSender::check(const QString &server, Greeting *out, Error *err)
{
    *out = {};
    disconnect(); // a fresh connection, so that the whole greeting is seen
    m_replies.clear();
    m_connectionFailed = false;
    if (server.trimmed().isEmpty())
        return fail(err, u"SMTP サーバーが設定されていません。"_s);
    ServerAddress a;
    if (!ServerAddress::parse(server, &a)
        || !(a.scheme.isEmpty() || a.scheme == u"smtp"_s || a.scheme == u"smtps"_s))
        return fail(err, u"SMTP サーバー名「%1」が正しくありません。"_s.arg(server));
    const int defaultPort = a.scheme == u"smtps"_s ? 465 : a.scheme == u"smtp"_s ? 587 : 25;
    out->hostPort = a.hostPort(defaultPort);
    Security security = a.implicitTls() ? Security::Implicit : Security::StartTls;
    QString ehloName = QString::fromLatin1(fullyQualifiedHostName());
    if (ehloName.isEmpty())
        ehloName = localAddressLiteral(a.host, a.port ? a.port : defaultPort);
    const QByteArray url = (security == Security::Implicit ? "smtps://" : "smtp://") + out->hostPort.toUtf8()
                           + '/' + QUrl::toPercentEncoding(ehloName);
    char errorBuffer[CURL_ERROR_SIZE] = {};
    m_data.clear();
    CURLcode rc = CURLcode(perform(url, security, {}, nullptr, false, errorBuffer, true));
    if (rc == CURLE_USE_SSL_FAILED && a.scheme.isEmpty() && !offeredStartTls()) {
        dropConnection();
        security = Security::Plain;
        rc = CURLcode(perform(url, security, {}, nullptr, false, errorBuffer, true));
    }
    describe(security, out);
    if (rc == CURLE_OK) {
        disconnect(); // QUIT
        return true;
    }
    QString text = errorText(rc, errorBuffer, out->hostPort, security, {}, {}, ehloName);
    if (security != Security::Implicit && m_replies.isEmpty() && isSilentServer(rc))
        text += tlsOnlyHint(a, quint16(a.port ? a.port : defaultPort), u"smtps"_s, qMin(m_connectMs, 5000));
    const QString detail = u"libcurl %1: %2"_s.arg(int(rc)).arg(
        QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc)));
    dropConnection();
    return fail(err, text, detail);
}

// Fills *out from the replies and the certificate of the last perform().
void SmtpSender::describe(Security security, Greeting *out) const
{
    out->implicitTls = security == Security::Implicit;
    QStringList ehlo;
    for (const Reply &r : m_replies) {
        if (r.command.isEmpty() && out->greeting.isEmpty())
            out->greeting = r.line;
        if (r.command == "STARTTLS" && r.line.startsWith(u"220"))
            out->encrypted = true;
        if (r.command == "AUTH" && r.line.startsWith(u"235"))
            out->authenticated = true;
        if (r.command == "EHLO" && r.line.startsWith(u"250")) {
            ehlo.append(r.line.mid(4).trimmed());
            if (r.line.mid(3, 1) != u"-"_s) {
                out->extensions = ehlo.mid(1); // the first line names the server; the last EHLO counts
                ehlo.clear();
            }
        }
    }
    if (security == Security::Implicit && !out->greeting.isEmpty())
        out->encrypted = true;
    curl_certinfo *info = nullptr;
    if (m_curl && curl_easy_getinfo(static_cast<CURL *>(m_curl), CURLINFO_CERTINFO, &info) == CURLE_OK && info
        && info->num_of_certs > 0) {
        for (curl_slist *item = info->certinfo[0]; item; item = item->next) {
            const QString field = QString::fromUtf8(item->data);
            for (const char *name : {"Subject:", "Issuer:", "Expire date:"}) {
                if (field.startsWith(QLatin1String(name)))
                    out->certificate.append(field);
            }
        }
    }
}

QList<SmtpSender::Refusal> SmtpSender::refusals(const QStringList &recipients) const
{
    QList<Refusal> out;
    for (qsizetype i = 0; i < m_rcptReplies.size() && i < recipients.size(); ++i) {
        if (!m_rcptReplies[i].startsWith(u'2'))
            out.append({recipients[i], m_rcptReplies[i]});
    }
    return out;
}

QString SmtpSender::errorText(int rc, const char *curlError, const QString &hostPort, Security security,
                              const QString &from, const QStringList &recipients, const QString &ehloName) const
{
    const Reply *refusal = lastErrorReply();
    const QString host = hostPort.section(u':', 0, -2);
    QString text;
    if (refusal) {
        const int code = refusal->line.left(3).toInt();
        if (code == 552) {
            text = u"メールが大きすぎます（サーバーの上限を超えています）。"_s;
        } else if (refusal->command == "EHLO" || refusal->command == "HELO"
                   || refusal->line.contains(u"helo command rejected"_s, Qt::CaseInsensitive)) {
            text = u"サーバーが送信元の名前を受け付けませんでした（送信元の名前: %1）。"_s.arg(ehloName);
        } else if (code == 530 && security == Security::Plain) {
            text = u"このサーバーは暗号化（smtp://%1:587）が必要です。サーバー名を smtp://%1:587 "
                   u"または smtps://%1:465 の形にしてください。"_s.arg(host);
        } else if (code == 530) {
            text = u"SMTP サーバー %1 は認証が必要です。ID とパスワードを設定してください。"_s.arg(hostPort);
        } else if (code == 535) {
            text = u"SMTP サーバー %1 で認証に失敗しました。"_s.arg(hostPort);
        } else if (refusal->command == "RCPT") {
            QStringList named;
            for (const Refusal &r : refusals(recipients))
                named.append(r.address);
            text = u"SMTP サーバー %1 が宛先 %2 を受け付けませんでした。"_s.arg(
                hostPort, (named.isEmpty() ? recipients : named).join(u", "_s));
        } else if (refusal->command == "MAIL") {
            text = u"SMTP サーバー %1 が差出人 %2 を受け付けませんでした。"_s.arg(hostPort, from);
        }
    }
    if (text.isEmpty()) {
        switch (troubleOf(CURLcode(rc))) {
        case Trouble::Unreachable:
            text = u"SMTP サーバー %1 に接続できません。"_s.arg(hostPort);
            break;
        case Trouble::TimedOut:
            text = u"SMTP サーバー %1 から応答がありません（時間切れ）。"_s.arg(hostPort);
            break;
        case Trouble::LoginDenied:
            text = u"SMTP サーバー %1 で認証に失敗しました。"_s.arg(hostPort);
            break;
        case Trouble::Dropped:
            text = u"SMTP サーバー %1 との接続が切れました。"_s.arg(hostPort);
            break;
        case Trouble::Unverified:
            // libcurl tells a wrong name from an unknown issuer only in its text.
            text = u"SMTP サーバー %1 と暗号化通信を始められません。"_s.arg(hostPort)
                + (QByteArray(curlError).contains("target host name")
                       ? certificateHint(host, true, false)
                       : certificateHint(host, false, true));
            break;
        case Trouble::Tls:
            text = u"SMTP サーバー %1 と暗号化通信を始められません。"_s.arg(hostPort);
            break;
        case Trouble::None:
            text = u"SMTP サーバー %1 へメールを送信できませんでした。"_s.arg(hostPort);
            break;
        }
    }
    const QString reply = refusal ? refusal->line : m_replies.isEmpty() ? QString() : m_replies.last().line;
    if (!reply.isEmpty())
        text += u"SMTP サーバー %1 の応答: "_s.arg(hostPort) + reply;
    return text;
}

} // namespace hollin
