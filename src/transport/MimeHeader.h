#pragma once

#include <QByteArray>
#include <QString>

namespace hollin {

// Header field values as Japanese mail writes them: RFC 2047 words in any
// charset (adjacent words of one charset joined before conversion, so that a
// character split between two words survives), raw 8-bit or ISO-2022-JP text.
class MimeHeader {
public:
    // The text of a raw field value (folding removed).
    static QString decode(const QByteArray &rawValue);

    // "name <address>" per mailbox of a From-like field, the address alone
    // when there is no name; several mailboxes joined by ", ".
    static QString decodeMailboxes(const QByteArray &rawValue);

    // Raw 8-bit or ISO-2022-JP text in a field value read as a whole (the same
    // guess as for raw header text) and returned as UTF-8, so that quotes and
    // backslashes can be parsed bytewise. A value without such text is returned as it is.
    static QByteArray rawTextToUtf8(const QByteArray &value);

    // The value as one or more B-encoded words of at most 75 characters each
    // (ISO-2022-JP when the text fits JIS X 0208, otherwise UTF-8), joined by
    // CR LF SP, no line over maxLine characters; firstLineUsed is what precedes
    // the value on its first line ("Subject: " is 9). ASCII text without
    // control characters stays as it is, folded before spaces.
    static QByteArray encode(const QString &text, int firstLineUsed = 0, int maxLine = 76);
};

} // namespace hollin
