#pragma once

#include <QByteArray>
#include <QString>

namespace hollin {

// The one codec for Shift-JIS text on disk: Microsoft's code page 932 through
// glibc iconv. "～" decodes to U+FF5E, NEC and IBM extensions round-trip.
// A character without a CP932 form is written as "?" and reported. The yen
// sign U+00A5 and the overline U+203E are written in their full-width forms
// (￥ ￣): CP932's 0x5C and 0x7E read back as backslash and tilde.
class Cp932 {
public:
    // Encodes text; *replaced becomes true when some character had to become "?".
    static QByteArray encode(const QString &text, bool *replaced = nullptr);

    // Decodes bytes; an invalid or lone trailing lead byte decodes as U+FFFD.
    static QString decode(const QByteArray &bytes);

    // Decodes a fixed field of `width` bytes: the text again has `width`
    // characters, the padding spaces included.
    static QString decodeField(const char *bytes, int width);

    // Encodes text into a fixed field of exactly `width` bytes: padded with 0x20,
    // or cut at the last whole character that fits (never half a double-byte
    // character; the freed byte is padded). *cut is set when text was lost.
    static QByteArray encodeField(const QString &text, int width,
                                  bool *replaced = nullptr, bool *cut = nullptr);
    // The same bytes without the padding: at most `width`.
    static QByteArray encodeCut(const QString &text, int width, bool *replaced = nullptr, bool *cut = nullptr);

    // True when every character of text has a CP932 form.
    static bool canEncode(const QString &text);
    // The size encode() would return, without building the bytes.
    static qsizetype encodedSize(const QString &text, bool *replaced = nullptr);

    // The text with every character CP932 cannot hold replaced by 〓 (geta,
    // the Japanese mark for a lost character, told apart from a real "?").
    // *lost is set when a character other than U+FFFD (itself a mark of a
    // lost byte) was replaced.
    static QString storable(const QString &text, bool *lost = nullptr);

    // The character lead and trail byte form, or 0 when CP932 has none.
    static char16_t pairChar(unsigned char lead, unsigned char trail);
};

} // namespace hollin
