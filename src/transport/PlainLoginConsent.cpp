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

} // namespace

bool PlainLoginConsent::isGiven(const QString &server) const
{
    const QStringList given = ProfileFile(m_path).readText(kKey).split(u' ', Qt::SkipEmptyParts);
    return given.contains(keyOf(server));
}

bool PlainLoginConsent::give(const QString &server, Error *err)
{
    ProfileFile file(m_path);
    QStringList given = file.readText(kKey).split(u' ', Qt::SkipEmptyParts);
    if (given.contains(keyOf(server)))
        return true;
    given.append(keyOf(server));
    return file.writeText(kKey, given.join(u' '), err);
}

QString PlainLoginConsent::warning(const QString &server)
{
    return u"POP3 サーバー %1 は暗号化（STLS）に対応していないため、パスワードが暗号化されずに送られます。"
           u"同じネットワークの他人に読まれるおそれがあります。"
           u"サーバーが対応していれば pop3s://（ポート 995）を使ってください。"_s.arg(keyOf(server));
}

} // namespace hollin
