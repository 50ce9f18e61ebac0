#include "ServerAddress.h"

using namespace Qt::StringLiterals;

namespace hollin {

bool ServerAddress::parse(const QString &text, ServerAddress *out)
{
    ServerAddress a;
    QString rest = text.trimmed();
    const qsizetype sep = rest.indexOf(u"://"_s);
    if (sep >= 0) {
        a.scheme = rest.left(sep).toLower();
        rest = rest.mid(sep + 3);
        const qsizetype slash = rest.indexOf(u'/');
        if (slash >= 0)
            rest.truncate(slash);
    }
    QString portText;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return false;
        a.host = rest.mid(1, close - 1);
        const QString tail = rest.mid(close + 1);
        if (!tail.isEmpty()) {
            if (!tail.startsWith(u':'))
                return false;
            portText = tail.mid(1);
        }
    } else if (rest.count(u':') == 1) {
        a.host = rest.section(u':', 0, 0);
        portText = rest.section(u':', 1);
    } else {
        a.host = rest; // a host name, or a bare IPv6 address without port
    }
    if (a.host.isEmpty())
        return false;
    for (QChar c : std::as_const(a.host)) {
        if (c.isSpace() || c.unicode() < 0x20 || c.unicode() == 0x7F || c == u'/' || c == u'@')
            return false;
    }
    if (!portText.isNull()) {
        bool ok = false;
        a.port = portText.toInt(&ok);
        if (!ok || a.port < 1 || a.port > 65535)
            return false;
    }
    *out = a;
    return true;
}

bool ServerAddress::implicitTls() const
{
    if (!scheme.isEmpty())
        return scheme == u"pop3s"_s || scheme == u"smtps"_s;
    return port == 995 || port == 465;
}

QString ServerAddress::hostPort(int defaultPort) const
{
    const QString h = host.contains(u':') ? u'[' + host + u']' : host;
    return h + u':' + QString::number(port ? port : defaultPort);
}

} // namespace hollin
