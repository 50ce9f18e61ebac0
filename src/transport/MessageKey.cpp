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
    const QByteArray id = headerValue(raw, "message-id");
    const QByteArray basis = id.isEmpty()
        ? raw
        : id + '\n' + headerValue(raw, "date") + '\n' + QByteArray::number(raw.size());
    return QString::fromLatin1(QCryptographicHash::hash(basis, QCryptographicHash::Sha1).toHex());
}

} // namespace hollin
