#pragma once

#include <QByteArray>
#include <QString>

namespace hollin {

// A fixed text field: CP932 bytes padded with spaces. Read back, the text again
// has the field's width in characters, padded with spaces.
QString decodeField(const char *bytes, int width);

void putFlag(char *at, qint16 flag);

} // namespace hollin
