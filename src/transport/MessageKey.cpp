#include "MessageKey.h"

#include <QCryptographicHash>

namespace hollin {

QByteArray headerValue(const QByteArray &raw, const QByteArray &name)
{
    qsizetype end = raw.indexOf("\n\n");
    const qsizetype crlf = raw.indexOf("\r\n\r\n");
    if (crlf >= 0 && (end < 0 || crlf < end))
        end = crlf;
    const QByteArray header = raw.left(end < 0 ? raw.size() : end);
    qsizetype at = 0;
    while (at < header.size()) {
        qsizetype next = header.indexOf('\n', at);
        if (next < 0)
            next = header.size();
        if (header.mid(at, name.size() + 1).toLower() == name + ':') {
            QByteArray value = header.mid(at + name.size() + 1, next - at - name.size() - 1);
            while (next + 1 < header.size() && (header[next + 1] == ' ' || header[next + 1] == '\t')) {
                const qsizetype after = header.indexOf('\n', next + 1);
                const qsizetype stop = after < 0 ? header.size() : after;
                value += header.mid(next + 1, stop - next - 1);
                next = stop;
            }
            return value.simplified();
        }
        at = next + 1;
    }
    return {};
}

QString messageKey(const QByteArray &raw)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    qsizetype end = raw.size();
    while (end > 0 && (raw[end - 1] == '\n' || raw[end - 1] == '\r'))
        --end;
    // Line by line, each ended by LF, without a copy of a large message.
    for (qsizetype at = 0; at < end;) {
        qsizetype next = raw.indexOf('\n', at);
        if (next < 0 || next > end)
            next = end;
        qsizetype lineEnd = next;
        if (lineEnd > at && raw[lineEnd - 1] == '\r')
            --lineEnd;
        hash.addData(QByteArrayView(raw).sliced(at, lineEnd - at));
        hash.addData("\n");
        at = next + 1;
    }
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace hollin
