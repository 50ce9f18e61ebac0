#include "FieldCodec.h"

#include "Cp932.h"

namespace hollin {

QString decodeField(const char *bytes, int width)
{
    // 0x20 is never the second byte of a double-byte character, so the padding
    // can be dropped before decoding and put back after.
    int used = width;
    while (used > 0 && bytes[used - 1] == ' ')
        --used;
    QString text = Cp932::decode(QByteArray::fromRawData(bytes, used));
    if (text.size() < width)
        text.append(QString(width - text.size(), u' '));
    return text;
}

void putFlag(char *at, qint16 flag)
{
    at[0] = char(quint16(flag) & 0xFF);
    at[1] = char(quint16(flag) >> 8);
}

} // namespace hollin
