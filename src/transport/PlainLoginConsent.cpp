#include "PlainLoginConsent.h"

#include "ServerAddress.h"
#include "storage/ProfileFile.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

const QString kKey = u"PLAINLOGIN"_s;

// "host:port" (port 110 when none), so that "h" and "h:110" are one server.
QString keyOf(const QString &server)
{
    ServerAddress a;
    return ServerAddress::parse(server, &a) ? a.hostPort(110).toLower() : server.trimmed().toLower();
}

QString apopKeyOf(const QString &server)
{
    return keyOf(server) + u"/apop"_s;
}

} // namespace

bool PlainLoginConsent::isGiven(const QString &server, bool apop) const
{
    const QStringList given = ProfileFile(m_path).readText(kKey).split(u' ', Qt::SkipEmptyParts);
    return given.contains(keyOf(server)) || (apop && given.contains(apopKeyOf(server)));
}

bool PlainLoginConsent::give(const QString &server, bool apop, Error *err)
{
    if (isGiven(server, apop))
        return true;
    ProfileFile file(m_path);
    QStringList given = file.readText(kKey).split(u' ', Qt::SkipEmptyParts);
    given.append(apop ? apopKeyOf(server) : keyOf(server));
    return file.writeText(kKey, given.join(u' '), err);
}

QString PlainLoginConsent::warning(const QString &server, bool apop)
{
    if (apop) {
        return u"POP3 サーバー %1 は暗号化（STLS）に対応していないため、メールは暗号化されずに届きます。"
               u"APOP はパスワードそのものは送りませんが、その MD5 は弱く、やりとりを読まれると"
               u"パスワードを割り出されるおそれがあります。"
               u"サーバーが対応していれば pop3s://（ポート 995）を使ってください。"_s.arg(keyOf(server));
    }
    return u"POP3 サーバー %1 は暗号化（STLS）に対応していないため、パスワードが暗号化されずに送られます（届くメールも暗号化されません）。"
           u"同じネットワークの他人に読まれるおそれがあります。"
           u"サーバーが対応していれば pop3s://（ポート 995）を使ってください。"_s.arg(keyOf(server));
}

QString PlainLoginConsent::refusal()
{
    return u"暗号化されない通信に同意がないため、ログインしませんでした。"_s;
}

} // namespace hollin
