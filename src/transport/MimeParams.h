#pragma once

#include <QByteArray>
#include <QString>

namespace hollin {

// The file name of a part read from its raw Content-Disposition and
// Content-Type fields, for the names GMime's own charset conversion garbles:
// RFC 2231 values (with continuations) and RFC 2047 words in a Japanese
// charset, and raw ISO-2022-JP text. Returns a null string for every other
// name, which GMime reads well.
class MimeParams {
public:
    static QString japaneseFileName(const QByteArray &rawDisposition, const QByteArray &rawContentType);
};

} // namespace hollin
