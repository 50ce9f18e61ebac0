#include "SmtpSender.h"

#include "ServerAddress.h"
#include "TlsTrust.h"

#include <QSslConfiguration>

#include <curl/curl.h>

#include <cstring>
#include <mutex>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

bool isBareAddress(const QString &a)
{
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

} // namespace

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
}

size_t SmtpSender::readCallback(char *buffer, size_t size, size_t count, void *self)
{
    auto *s = static_cast<SmtpSender *>(self);
    const size_t n = qMin<size_t>(size * count, size_t(s->m_data.size() - s->m_sent));
    std::memcpy(buffer, s->m_data.constData() + s->m_sent, n);
    s->m_sent += qsizetype(n);
    return n;
}

size_t SmtpSender::headerCallback(char *buffer, size_t size, size_t count, void *self)
{
    auto *s = static_cast<SmtpSender *>(self);
    const QString line = QString::fromUtf8(buffer, qsizetype(size * count)).trimmed();
    if (!line.isEmpty())
        s->m_replies << line;
    return size * count;
}

// The last error reply (4xx/5xx) of the server, else its last reply.
QString SmtpSender::serverReply() const
{
    for (auto it = m_replies.crbegin(); it != m_replies.crend(); ++it) {
        if (it->startsWith(u'4') || it->startsWith(u'5'))
            return *it;
    }
    return m_replies.isEmpty() ? QString() : m_replies.last();
}

bool SmtpSender::send(const QString &server, const QString &from, const QStringList &recipients,
                      const QByteArray &message, Error *err)
{
    m_replies.clear();
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
    const QByteArray url = (a.scheme == u"smtps"_s ? "smtps://" : "smtp://") + hostPort.toUtf8();

    if (!m_curl)
        m_curl = curl_easy_init();
    CURL *c = static_cast<CURL *>(m_curl);
    if (!c)
        return fail(err, u"送信の準備ができません（libcurl を初期化できません）。"_s);

    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_slist *rcpts = nullptr;
    for (const QString &r : recipients)
        rcpts = curl_slist_append(rcpts, r.toUtf8().constData());
    const QByteArray fromBytes = from.toUtf8();
    const QByteArray user = m_user.toUtf8();
    const QByteArray password = m_password.toUtf8();
    m_data = crlf(message);
    m_sent = 0;

    curl_easy_setopt(c, CURLOPT_URL, url.constData());
    curl_easy_setopt(c, CURLOPT_USE_SSL, long(a.scheme == u"smtp"_s ? CURLUSESSL_ALL : CURLUSESSL_NONE));
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, fromBytes.constData());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpts);
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, curl_off_t(m_data.size()));
    curl_easy_setopt(c, CURLOPT_READFUNCTION, &SmtpSender::readCallback);
    curl_easy_setopt(c, CURLOPT_READDATA, this);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &SmtpSender::headerCallback);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, this);
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
    if (!m_user.isEmpty()) {
        // Used only when the server offers AUTH; otherwise libcurl skips it.
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
    curl_slist_free_all(rcpts);
    m_data.clear();
    if (rc == CURLE_OK)
        return true;

    const QString reply = serverReply();
    const QString detail = u"libcurl %1: %2"_s.arg(int(rc)).arg(QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc)));
    const QString replyPart = reply.isEmpty() ? QString() : u"サーバーの応答: "_s + reply;
    const bool rcptRefused = QByteArray(errorBuffer).startsWith("RCPT failed");
    QString text;
    if (rcptRefused) {
        text = u"SMTP サーバー %1 が宛先 %2 を受け付けませんでした。"_s.arg(hostPort, recipients.join(u", "_s));
    } else switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        text = u"SMTP サーバー %1 に接続できません。"_s.arg(hostPort);
        break;
    case CURLE_OPERATION_TIMEDOUT:
        text = u"SMTP サーバー %1 から応答がありません（時間切れ）。"_s.arg(hostPort);
        break;
    case CURLE_LOGIN_DENIED:
        text = u"SMTP サーバー %1 で認証に失敗しました。"_s.arg(hostPort);
        break;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        text = u"SMTP サーバー %1 との接続が切れました。"_s.arg(hostPort);
        break;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CACERT_BADFILE:
        text = u"SMTP サーバー %1 と暗号化通信を始められません。"_s.arg(hostPort);
        break;
    default:
        text = u"SMTP サーバー %1 へメールを送信できませんでした。"_s.arg(hostPort);
        break;
    }
    if (!replyPart.isEmpty())
        text += replyPart;
    // A failed exchange may leave the connection in any state: start afresh.
    disconnect();
    return fail(err, text, detail);
}

} // namespace hollin
