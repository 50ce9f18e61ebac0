#include "AddressSyntax.h"

namespace hollin {

namespace {

bool isPlainChar(char16_t u)
{
    return u > 0x20 && u < 0x7F && u != u'<' && u != u'>' && u != u',' && u != u';' && u != u'"'
           && u != u'(' && u != u')' && u != u'[' && u != u']' && u != u'\\';
}

// Length of the quoted string at the start of text (quotes included), 0 when there is none.
qsizetype quotedLength(const QString &text)
{
    if (!text.startsWith(u'"'))
        return 0;
    for (qsizetype i = 1; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u < 0x20 || u > 0x7E)
            return 0;
        if (u == u'"')
            return i + 1;
        if (u == u'\\') {
            if (++i == text.size() || text[i].unicode() < 0x20 || text[i].unicode() > 0x7E)
                return 0;
        }
    }
    return 0;
}

} // namespace

bool isMailbox(const QString &address)
{
    qsizetype at = quotedLength(address);
    if (at > 0) {
        if (at >= address.size() || address[at] != u'@')
            return false;
    } else {
        at = address.lastIndexOf(u'@');
        if (at <= 0)
            return false;
        for (qsizetype i = 0; i < at; ++i) {
            if (!isPlainChar(address[i].unicode()))
                return false;
        }
    }
    const QStringView domain = QStringView(address).mid(at + 1);
    if (domain.isEmpty())
        return false;
    for (QChar c : domain) {
        if (!isPlainChar(c.unicode()) || c == u'@')
            return false;
    }
    return true;
}

} // namespace hollin
