#pragma once

#include <QByteArray>
#include <QString>

namespace hollin {

// Text of raw mail bytes by their MIME charset label. Japanese labels are read
// as Microsoft's supersets (ISO-2022-JP and Shift_JIS as CP932, EUC-JP as
// EUC-JP-MS); a label that is unknown, missing or contradicted by the bytes
// falls back to a guess among ISO-2022-JP, CP932, EUC-JP and UTF-8. Bytes
// contradict a label only when they fault under it more than they read and
// a Japanese charset reads them with more double-byte characters than
// faults (or they read as Western text): one bad byte stays U+FFFD.
// UTF-16 without a byte-order mark takes the byte order whose reading is
// plausible text; UTF-7 accepts "," for "/" inside its base64 runs.
class Charset {
public:
    static QString decode(const QByteArray &bytes, const QByteArray &label);
    static QString guess(const QByteArray &bytes);

    // The label to read an HTML part by: the charset its <meta> names when the
    // part's own label is missing, ASCII or a Western single-byte charset and
    // the bytes read cleanly under the <meta> charset; otherwise the label.
    static QByteArray htmlLabel(const QByteArray &html, const QByteArray &label);

    // ISO-2022-JP and its -1/-2/-3 relatives: JIS X 0208 read as CP932 (NEC
    // row 13, NEC-selected IBM rows), half-width katakana by ESC ( I or SO/SI.
    // *errors counts bytes that fit no character set in use.
    static QString decodeIso2022Jp(const QByteArray &bytes, int *errors = nullptr);

    // NFC (Mac mail sends decomposed kana: ハ + U+309A). CJK compatibility
    // ideographs (CP932's IBM extensions hold several) keep their own code points.
    static QString composed(const QString &text);

    // Replaces the Microsoft forms (U+FF5E ～, U+2225 ∥, U+FF0D －,
    // U+FFE0-FFE2 ￠￡￢) by the JIS X 0208 forms, and U+2014 — by U+2015 ―,
    // which is what glibc's ISO-2022-JP table holds for that dash.
    static QString toJisForms(const QString &text);
    // ISO-2022-JP bytes ending in ASCII, or an empty array with *ok false when
    // some character is outside ASCII and JIS X 0208 (after toJisForms).
    static QByteArray encodeIso2022Jp(const QString &text, bool *ok);
};

} // namespace hollin
