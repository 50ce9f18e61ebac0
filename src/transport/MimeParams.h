#pragma once

#include <QByteArray>
#include <QString>

namespace hollin {

// The file name of a part read from its raw Content-Disposition and
// Content-Type fields, for the names GMime's own charset conversion garbles:
// RFC 2231 values (with continuations, in any charset), RFC 2047 words in a
// Japanese charset, and raw Shift_JIS, EUC-JP, UTF-8 or ISO-2022-JP text (read with the
// guess for raw header text, never as Latin-1). Returns a null string for
// every other name, which GMime reads well.
class MimeParams {
public:
    static QString japaneseFileName(const QByteArray &rawDisposition, const QByteArray &rawContentType);
};

} // namespace hollin
