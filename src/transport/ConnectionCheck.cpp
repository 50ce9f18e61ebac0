#include "ConnectionCheck.h"

#include "PlainLoginConsent.h"
#include "Pop3Session.h"
#include "TlsTrust.h"
#include "SmtpSender.h"

#include <QSslCertificate>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

QString certificateText(const QSslCertificate &c)
{
    return u"証明書は検証済みです（発行先 %1、発行者 %2、有効期限 %3）。"_s.arg(
        c.subjectInfo(QSslCertificate::CommonName).join(u", "_s),
        c.issuerInfo(QSslCertificate::CommonName).join(u", "_s),
        c.expiryDate().toLocalTime().toString(u"yyyy/MM/dd"_s));
}

} // namespace

void ConnectionCheck::setTimeouts(int connectMs, int replyMs)
{
    m_connectMs = connectMs;
    m_replyMs = replyMs;
}

// An empty password is never tried.
QString ConnectionCheck::noAccountText(const QString &protocol)
{
    return u"%1: ID またはパスワードが設定されていないため、ログインは確かめません。"_s.arg(protocol);
}

// A set HOLLIN_EXTRA_CA_FILE that adds nothing is said before each check.
void ConnectionCheck::reportCaFileProblem(const QString &protocol)
{
    if (const QString problem = extraCaFileProblem(); !problem.isEmpty())
        m_report(u"%1: 注意: %2"_s.arg(protocol, problem));
}

bool ConnectionCheck::failed(const QString &protocol, const Error &error, Error *err)
{
    m_report(u"%1: 失敗しました。%2"_s.arg(protocol, error.message));
    if (err)
        *err = error;
    return false;
}

bool ConnectionCheck::checkPop3(const QString &server, const QString &user, const QString &password, bool apop,
                                Error *err)
{
    const QString p = u"POP3"_s;
    Pop3Session s;
    s.setTimeouts(m_connectMs, m_replyMs);
    Error e;
    if (server.trimmed().isEmpty())
        return failed(p, {u"POP3 サーバーが設定されていません。"_s, {}}, err);
    reportCaFileProblem(p);
    if (!s.connectToServer(server, &e))
        return failed(p, e, err);
    m_report(u"%1: %2 に接続しました。サーバーの挨拶: %3"_s.arg(p, server.trimmed(),
                                                             QString::fromUtf8(s.greeting())));
    if (s.isEncrypted())
        m_report(u"%1: %2 で暗号化しています。"_s.arg(p, s.tlsProtocol()) + certificateText(s.peerCertificate()));
    else
        m_report(u"%1: 暗号化されていません（サーバーが STLS を提供していません）。"_s.arg(p));
    m_report(u"%1: サーバーの機能: %2"_s.arg(p, s.capabilities().join(u' ')));
    if (user.isEmpty() || password.isEmpty()) {
        m_report(noAccountText(p));
    } else {
        if (!s.isEncrypted() && !(m_consent && m_consent(server, apop))) {
            s.quit(nullptr);
            return failed(p, {PlainLoginConsent::warning(server, apop) + PlainLoginConsent::refusal(), {}}, err);
        }
        if (!s.login(user, password, apop, &e))
            return failed(p, e, err);
        int count = 0;
        qint64 octets = 0;
        if (!s.stat(&count, &octets, &e))
            return failed(p, e, err);
        m_report(u"%1: %2 でログインしました。メールは %3 通（%4 バイト）あります。"_s.arg(
            p, apop ? u"APOP"_s : u"USER/PASS"_s).arg(count).arg(octets));
    }
    if (!s.quit(&e))
        return failed(p, e, err);
    m_report(u"%1: 確認が終わりました（メールの受信・削除はしていません）。"_s.arg(p));
    return true;
}

bool ConnectionCheck::checkSmtp(const QString &server, const QString &user, const QString &password, Error *err)
{
    const QString p = u"SMTP"_s;
    SmtpSender s;
    s.setTimeouts(m_connectMs, m_replyMs);
    s.setCredentials(user, password);
    reportCaFileProblem(p);
    SmtpSender::Greeting g;
    Error e;
    const bool ok = s.check(server, &g, &e);
    if (!g.greeting.isEmpty())
        m_report(u"%1: %2 に接続しました。サーバーの挨拶: %3"_s.arg(p, g.hostPort, g.greeting));
    if (g.encrypted) {
        m_report(u"%1: %2で暗号化しています。証明書は検証済みです（%3）。"_s.arg(
            p, g.implicitTls ? u"接続時から TLS "_s : u"STARTTLS "_s, g.certificate.join(u"、"_s)));
    } else if (!g.greeting.isEmpty()) {
        m_report(u"%1: 暗号化されていません（サーバーが STARTTLS を提供していません）。"
                 u"パスワードは送らず、認証なしで送信します。"_s.arg(p));
    }
    if (!g.extensions.isEmpty())
        m_report(u"%1: サーバーの機能: %2"_s.arg(p, g.extensions.join(u", "_s)));
    if (!ok)
        return failed(p, e, err);
    if (user.isEmpty() || password.isEmpty())
        m_report(noAccountText(p));
    else if (g.authenticated)
        m_report(u"%1: ログインしました（AUTH）。"_s.arg(p));
    else if (g.encrypted)
        m_report(u"%1: サーバーが認証（AUTH）を提供していないため、ログインしていません。"_s.arg(p));
    m_report(u"%1: 確認が終わりました（メールは送っていません）。"_s.arg(p));
    return true;
}

} // namespace hollin
