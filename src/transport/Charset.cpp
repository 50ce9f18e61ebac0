#include "transport/Charset.h"

#include "storage/Cp932.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cctype>
#include <cerrno>
#include <iconv.h>
#include <string>
#include <vector>

namespace hollin {

namespace {

constexpr char kEsc = 0x1B;
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// iconv descriptors are costly to open: each thread keeps the few it uses,
// reset to their initial state on every hand-out.
class ConverterCache {
public:
    ~ConverterCache()
    {
        for (const Entry &e : entries_)
            iconv_close(e.cd);
    }
    iconv_t get(const char *to, const char *from)
    {
        for (const Entry &e : entries_) {
            if (e.to == to && e.from == from) {
                iconv(e.cd, nullptr, nullptr, nullptr, nullptr);
                return e.cd;
            }
        }
        iconv_t cd = iconv_open(to, from);
        if (cd == kNoConverter)
            return cd;
        if (entries_.size() >= kMaxEntries) { // labels come from mail: keep the cache small
            iconv_close(entries_.front().cd);
            entries_.erase(entries_.begin());
        }
        entries_.push_back({to, from, cd});
        return cd;
    }

private:
    static constexpr size_t kMaxEntries = 16;
    struct Entry {
        std::string to;
        std::string from;
        iconv_t cd;
    };
    std::vector<Entry> entries_;
};

iconv_t converter(const char *to, const char *from)
{
    thread_local ConverterCache cache;
    return cache.get(to, from);
}

// Converts bytes from an iconv charset to text. An invalid sequence becomes
// U+FFFD and is counted in *errors (in UTF-8 one per broken sequence; a cut
// sequence at the end is one). Returns false when iconv does not know the charset.
bool iconvDecode(const QByteArray &bytes, const char *charset, QString *out, int *errors)
{
    iconv_t cd = converter("UTF-8", charset);
    if (cd == kNoConverter)
        return false;
    const bool utf8Source = qstrcmp(charset, "UTF-8") == 0;
    QByteArray utf8;
    utf8.reserve(bytes.size() * 2 + 8);
    char buffer[4096];
    char *in = const_cast<char *>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    int bad = 0;
    while (inLeft > 0) {
        char *outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        utf8.append(buffer, outPtr - buffer);
        if (rc != size_t(-1))
            continue;
        if (errno == E2BIG)
            continue;
        utf8.append("\xEF\xBF\xBD");
        ++bad;
        if (errno == EINVAL) // a sequence cut by the end of the text
            break;
        ++in; // EILSEQ: skip the byte (and the rest of a broken UTF-8 sequence)
        --inLeft;
        while (utf8Source && inLeft > 0 && (uchar(*in) & 0xC0) == 0x80) {
            ++in;
            --inLeft;
        }
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char *outPtr = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    utf8.append(buffer, outPtr - buffer);
    *out = QString::fromUtf8(utf8);
    if (errors)
        *errors += bad;
    return true;
}

int countReplacements(const QString &text)
{
    return int(text.count(QChar(0xFFFD)));
}

QString decodeCp932(const QByteArray &bytes, int *errors)
{
    QString text = Cp932::decode(bytes);
    if (errors)
        *errors += countReplacements(text);
    return text;
}

QString decodeWith(const QByteArray &bytes, const char *charset, int *errors)
{
    QString text;
    if (!iconvDecode(bytes, charset, &text, errors)) {
        text = QString::fromLatin1(bytes);
        if (errors)
            ++*errors;
    }
    return text;
}

bool hasEightBit(const QByteArray &bytes)
{
    for (char c : bytes)
        if (uchar(c) >= 0x80)
            return true;
    return false;
}

bool hasIso2022Escape(const QByteArray &bytes)
{
    return bytes.contains("\x1B$") || bytes.contains("\x1B(") || bytes.contains("\x1B.") || bytes.contains("\x1BN");
}

int countHalfWidthKana(const QString &text)
{
    int n = 0;
    for (QChar c : text)
        if (c.unicode() >= 0xFF61 && c.unicode() <= 0xFF9F)
            ++n;
    return n;
}

enum class Family { Iso2022Jp, Cp932, EucJp, Utf8, Utf16, Utf7, Ascii, Other };

QByteArray normalisedLabel(const QByteArray &label)
{
    QByteArray l = label.trimmed().toLower();
    if (l.startsWith('"') && l.endsWith('"') && l.size() >= 2)
        l = l.mid(1, l.size() - 2).trimmed();
    return l;
}

Family familyOf(const QByteArray &l)
{
    if (l.startsWith("iso-2022-jp") || l == "csiso2022jp" || l == "cp50220" || l == "cp50221"
        || l == "cp50222")
        return Family::Iso2022Jp;
    if (l == "shift_jis" || l == "shift-jis" || l == "sjis" || l == "x-sjis" || l == "s-jis"
        || l == "ms_kanji" || l == "csshiftjis" || l == "windows-31j" || l == "cp932"
        || l == "ms932" || l == "x-ms-cp932" || l == "cswindows31j" || l == "windows-932")
        return Family::Cp932;
    if (l == "euc-jp" || l == "x-euc-jp" || l == "eucjp" || l == "euc_jp" || l == "euc-jp-ms"
        || l == "cseucpkdfmtjapanese" || l == "x-euc")
        return Family::EucJp;
    if (l == "utf-8" || l == "utf8" || l == "unicode-1-1-utf-8")
        return Family::Utf8;
    if (l == "utf-7" || l == "utf7" || l == "unicode-1-1-utf-7" || l == "csunicode11utf7"
        || l == "x-unicode-2-0-utf-7")
        return Family::Utf7;
    if (l.startsWith("utf-16") || l.startsWith("utf16") || l == "ucs-2" || l == "unicode")
        return Family::Utf16;
    if (l.isEmpty() || l == "us-ascii" || l == "ascii" || l == "ansi_x3.4-1968" || l == "us")
        return Family::Ascii;
    return Family::Other;
}

// Shift_JIS bytes of a JIS X 0208 row/cell pair (both 0x21..0x7E).
std::array<uchar, 2> sjisOfJis(uchar j1, uchar j2)
{
    uchar s1 = uchar(((j1 - 0x21) >> 1) + 0x81);
    if (s1 > 0x9F)
        s1 += 0x40;
    uchar s2;
    if (j1 & 1) {
        s2 = uchar(j2 + 0x1F);
        if (s2 >= 0x7F)
            ++s2;
    } else {
        s2 = uchar(j2 + 0x7E);
    }
    return {s1, s2};
}

QString stripBom(QString text)
{
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

// The byte order of UTF-16 text: by its byte-order mark, else by where the
// zero bytes of its ASCII characters stand. 'L', 'B', or 0 when the bytes do
// not look like UTF-16 (at least a quarter zero bytes, nearly all on one side).
char utf16Order(const QByteArray &bytes)
{
    if (bytes.startsWith("\xFF\xFE"))
        return 'L';
    if (bytes.startsWith("\xFE\xFF"))
        return 'B';
    qsizetype even = 0, odd = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\0')
            ++(i % 2 ? odd : even);
    if (bytes.size() < 4 || (even + odd) * 4 < bytes.size())
        return 0;
    if (odd >= 9 * even)
        return 'L';
    if (even >= 9 * odd)
        return 'B';
    return 0;
}

QString decodeUtf16(const QByteArray &bytes, char order, int *errors)
{
    return stripBom(decodeWith(bytes, order == 'L' ? "UTF-16LE" : "UTF-16BE", errors));
}

// How much of a text reads as Japanese mail: ASCII, kana, common kanji,
// Japanese punctuation and full-width forms count for it; unassigned code
// points, private use, broken surrogates and replacement characters against it.
int plausibility(const QString &text)
{
    int score = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i; // an astral character: emoji and rare kanji are fine, but no evidence
            continue;
        }
        if ((u >= 0x20 && u < 0x7F) || u == '\t' || u == '\r' || u == '\n' || (u >= 0x3000 && u <= 0x30FF)
            || (u >= 0x4E00 && u <= 0x9FFF) || (u >= 0xFF01 && u <= 0xFF9F))
            ++score;
        else if (u == 0xFFFD || text[i].isSurrogate() || text[i].category() == QChar::Other_NotAssigned
                 || text[i].category() == QChar::Other_PrivateUse || u < 0x20)
            score -= 2;
    }
    return score;
}

// The byte order of UTF-16 without a byte-order mark: by its zero bytes, and
// when there are too few (kana and kanji have none), by which reading is
// plausible text. Ties go to big-endian, RFC 2781's default.
char utf16OrderWithoutBom(const QByteArray &bytes)
{
    if (const char order = utf16Order(bytes))
        return order;
    const QString be = decodeWith(bytes, "UTF-16BE", nullptr);
    const QString le = decodeWith(bytes, "UTF-16LE", nullptr);
    return plausibility(le) > plausibility(be) ? 'L' : 'B';
}

// UTF-7 as senders write it: some put "," for "/" inside base64 runs (the
// IMAP folder-name form), which plain UTF-7 does not know.
QByteArray standardUtf7(const QByteArray &bytes)
{
    QByteArray out = bytes;
    bool inBase64 = false;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const char c = out[i];
        if (!inBase64) {
            inBase64 = c == '+';
            continue;
        }
        if (c == ',')
            out[i] = '/';
        else if (!std::isalnum(uchar(c)) && c != '+' && c != '/')
            inBase64 = false;
    }
    return out;
}

bool isValidUtf8(const QByteArray &bytes)
{
    int errors = 0;
    QString text;
    return iconvDecode(bytes, "UTF-8", &text, &errors) && errors == 0;
}

// Decoded UTF-8 that is more than a chance pair of bytes: a character of
// three bytes or more, or two characters beyond ASCII.
bool isUtf8Text(const QString &text)
{
    int beyondAscii = 0;
    for (QChar c : text) {
        if (c.unicode() >= 0x800)
            return true;
        if (c.unicode() >= 0x80 && ++beyondAscii >= 2)
            return true;
    }
    return false;
}

bool isKana(char16_t u)
{
    return u >= 0x3041 && u <= 0x30FF;
}

// Characters that speak for the charset a text was decoded with: anything
// beyond ASCII but replacement characters, and, read as CP932, half-width
// katakana (EUC-JP bytes read as CP932 turn into runs of them).
int meaningfulChars(const QString &text, bool kanaDoubtful)
{
    int n = 0;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || u == 0xFFFD || (kanaDoubtful && u >= 0xFF61 && u <= 0xFF9F))
            continue;
        ++n;
    }
    return n;
}

// Raw 8-bit text that reads as a Western single-byte charset: each run of
// 8-bit bytes is one or two Latin letters (0xC0-0xFF) touching an ASCII letter,
// as in "ciële" or "Formação". Japanese text has longer runs or lead bytes
// below 0xC0 (kana, common kanji).
bool looksLatin(const QByteArray &bytes)
{
    auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    bool any = false;
    for (qsizetype i = 0; i < bytes.size();) {
        if (uchar(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < bytes.size() && uchar(bytes[end]) >= 0x80) {
            const uchar b = uchar(bytes[end]);
            if (b < 0xC0 || b == 0xD7 || b == 0xF7)
                return false;
            ++end;
        }
        if (end - i > 2)
            return false;
        const bool touches = (i > 0 && isLetter(bytes[i - 1])) || (end < bytes.size() && isLetter(bytes[end]));
        if (!touches)
            return false;
        any = true;
        i = end;
    }
    return any;
}

// Japanese text under a Western label: a third or more of the bytes are 8-bit
// and CP932 or EUC-JP reads them without a fault, as Japanese characters only.
bool japaneseUnderLatinLabel(const QByteArray &bytes)
{
    qsizetype eight = 0, visible = 0;
    for (char c : bytes) {
        if (uchar(c) >= 0x80)
            ++eight;
        if (uchar(c) > 0x20)
            ++visible;
    }
    if (eight * 3 < visible || looksLatin(bytes))
        return false;
    auto japaneseOnly = [](const QString &text) {
        for (QChar c : text)
            if (c.unicode() >= 0x80 && (c.unicode() < 0x3000 || c.unicode() == 0xFFFD))
                return false;
        return true;
    };
    int errors = 0;
    const QString sjis = decodeCp932(bytes, &errors);
    if (errors == 0 && japaneseOnly(sjis))
        return true;
    errors = 0;
    const QString euc = decodeWith(bytes, "EUC-JP-MS", &errors);
    return errors == 0 && japaneseOnly(euc);
}

// Bytes some Japanese charset reads with more double-byte characters than
// faults. A few bytes that are only half-width katakana or ASCII under CP932
// (a UTF-8 word with one broken byte: "(\xC3)") say nothing for Japanese.
bool readsAsJapanese(const QByteArray &bytes)
{
    auto better = [](const QString &text, int errors, bool kanaDoubtful) {
        return meaningfulChars(text, kanaDoubtful) > errors;
    };
    int errors = 0;
    const QString sjis = decodeCp932(bytes, &errors);
    if (better(sjis, errors, true))
        return true;
    errors = 0;
    const QString euc = decodeWith(bytes, "EUC-JP-MS", &errors);
    if (better(euc, errors, false))
        return true;
    if (!hasIso2022Escape(bytes))
        return false;
    errors = 0;
    const QString jis = Charset::decodeIso2022Jp(bytes, &errors);
    return better(jis, errors, true);
}

// The charset an HTML document's <meta> names (http-equiv content or the
// charset attribute), lower case; empty when there is none.
QByteArray metaCharset(const QByteArray &html)
{
    const QByteArray head = html.left(16384).toLower();
    for (qsizetype at = head.indexOf("<meta"); at >= 0; at = head.indexOf("<meta", at + 5)) {
        const qsizetype end = head.indexOf('>', at);
        const QByteArray tag = head.mid(at, end < 0 ? -1 : end - at);
        qsizetype c = tag.indexOf("charset");
        if (c < 0)
            continue;
        c += 7;
        while (c < tag.size() && (tag[c] == ' ' || tag[c] == '=' || tag[c] == '"' || tag[c] == '\''))
            ++c;
        qsizetype e = c;
        while (e < tag.size() && (std::isalnum(uchar(tag[e])) || tag[e] == '-' || tag[e] == '_' || tag[e] == '.'))
            ++e;
        if (e > c)
            return tag.mid(c, e - c);
    }
    return {};
}

bool isLatinLabel(const QByteArray &l)
{
    return l.startsWith("iso-8859-") || l.startsWith("iso8859-") || l.startsWith("iso_8859-")
        || l.startsWith("windows-125") || l.startsWith("cp125") || l == "latin1" || l == "l1";
}

// The BMP characters NFC may change or join to the one before them: combining
// marks, characters with a canonical decomposition, the later characters of
// every canonical decomposition, and Hangul vowel and final jamo.
const std::bitset<0x10000> &mayCompose()
{
    static const std::bitset<0x10000> set = [] {
        std::bitset<0x10000> s;
        for (char32_t u = 0; u < 0x10000; ++u) {
            const QChar c{char16_t(u)};
            if (c.isSurrogate())
                continue;
            if (c.combiningClass() != 0)
                s.set(u);
            if (c.decompositionTag() == QChar::Canonical) {
                s.set(u);
                const QString parts = c.decomposition();
                for (qsizetype i = 1; i < parts.size(); ++i)
                    s.set(parts[i].unicode());
            }
        }
        for (char16_t u = 0x1161; u <= 0x1175; ++u)
            s.set(u);
        for (char16_t u = 0x11A8; u <= 0x11C2; ++u)
            s.set(u);
        return s;
    }();
    return set;
}

} // namespace

QString Charset::decodeIso2022Jp(const QByteArray &bytes, int *errors)
{
    enum class Set { Ascii, Roman, Jis0208, Kana, Jis0212, Jis0213p1, Jis0213p2, Gb2312, Ksc5601 };
    Set set = Set::Ascii;
    bool shiftedOut = false; // SO: half-width katakana until SI
    const char *g2 = nullptr; // ISO-2022-JP-2's single-shift set (ESC . A / ESC . F)
    QString out;
    out.reserve(bytes.size());
    // Text waiting for conversion. ASCII, half-width katakana and JIS X 0208
    // are gathered as CP932 bytes and converted together; the rarer sets of
    // ISO-2022-JP-2/-3 go through their EUC forms.
    QByteArray pending;
    pending.reserve(bytes.size());
    const char *pendingCharset = nullptr; // null: CP932
    int bad = 0;

    auto flush = [&]() {
        if (pending.isEmpty())
            return;
        out += pendingCharset ? decodeWith(pending, pendingCharset, &bad) : decodeCp932(pending, &bad);
        pending.clear();
    };
    auto want = [&](const char *charset) {
        if (pendingCharset != charset)
            flush();
        pendingCharset = charset;
    };
    auto put = [&](QChar c) {
        flush();
        out += c;
    };
    auto invalid = [&]() {
        put(QChar(0xFFFD));
        ++bad;
    };
    // A run of JIS X 0208 pairs, read as CP932 straight into the text; a pair
    // CP932 has no character for is one replacement character (its second
    // byte must not show as ASCII).
    auto jisRun = [&](const uchar *pair, qsizetype pairs) {
        flush();
        const qsizetype at = out.size();
        out.resize(at + pairs);
        char16_t *text = reinterpret_cast<char16_t *>(out.data()) + at;
        for (qsizetype k = 0; k < pairs; ++k, pair += 2) {
            const std::array<uchar, 2> sjis = sjisOfJis(pair[0], pair[1]);
            const char16_t c = Cp932::pairChar(sjis[0], sjis[1]);
            bad += c == 0;
            *text++ = c != 0 ? c : char16_t(0xFFFD);
        }
    };

    const int n = int(bytes.size());
    for (int i = 0; i < n; ++i) {
        const uchar c = uchar(bytes[i]);
        if (c == uchar(kEsc)) {
            const QByteArray seq = bytes.mid(i + 1, 3);
            Set next = set;
            int len = 0;
            if (seq.startsWith("(B") || seq.startsWith("(H")) {
                next = Set::Ascii;
                len = 2;
            } else if (seq.startsWith("(J")) {
                next = Set::Roman;
                len = 2;
            } else if (seq.startsWith("(I")) {
                next = Set::Kana;
                len = 2;
            } else if (seq.startsWith("$@") || seq.startsWith("$B") || seq == "$(B" || seq == "$(@") {
                next = Set::Jis0208;
                len = seq.startsWith("$(") ? 3 : 2;
            } else if (seq.startsWith("$A") || seq == "$(A") {
                next = Set::Gb2312;
                len = seq.startsWith("$(") ? 3 : 2;
            } else if (seq == "$(D") {
                next = Set::Jis0212;
                len = 3;
            } else if (seq == "$(Q" || seq == "$(O") {
                next = Set::Jis0213p1;
                len = 3;
            } else if (seq == "$(P") {
                next = Set::Jis0213p2;
                len = 3;
            } else if (seq == "$(C") {
                next = Set::Ksc5601;
                len = 3;
            } else if (seq == "&@\x1B" && bytes.mid(i + 4, 2) == "$B") {
                next = Set::Jis0208; // JIS X 0208-1990 announcer
                len = 5;
            } else if (seq.startsWith(".A") || seq.startsWith(".F")) {
                g2 = seq[1] == 'A' ? "ISO-8859-1" : "ISO-8859-7";
                i += 2;
                continue;
            } else if (seq.startsWith('N')) {
                // Single shift 2: one character of the G2 set.
                i += 1;
                if (i + 1 < n && uchar(bytes[i + 1]) >= 0x20 && uchar(bytes[i + 1]) < 0x80) {
                    const QByteArray high(1, char(uchar(bytes[++i]) | 0x80));
                    if (g2) {
                        flush();
                        out += decodeWith(high, g2, &bad);
                    } else {
                        invalid();
                    }
                }
                continue;
            }
            if (len == 0) {
                // A sequence we do not know goes whole: ESC, its intermediate
                // bytes (0x20-0x2F) and its final byte.
                ++bad;
                int j = i + 1;
                while (j < n && uchar(bytes[j]) >= 0x20 && uchar(bytes[j]) <= 0x2F)
                    ++j;
                if (j < n && uchar(bytes[j]) >= 0x30 && uchar(bytes[j]) <= 0x7E)
                    i = j;
                else
                    i = j - 1;
                continue;
            }
            set = next;
            i += len;
            continue;
        }
        if (c == 0x0E || c == 0x0F) {
            shiftedOut = c == 0x0E;
            continue;
        }
        if (c == '\r' || c == '\n') {
            // A line never continues a double-byte run: mailers that forget the
            // closing ESC ( B must not swallow the following lines.
            set = Set::Ascii;
            shiftedOut = false;
            want(nullptr);
            pending.append(char(c));
            continue;
        }
        const bool kana = shiftedOut || set == Set::Kana;
        if (kana && c >= 0xA1 && c <= 0xDF) { // 8-bit half-width katakana
            want(nullptr);
            pending.append(char(c));
            continue;
        }
        if (c >= 0x80) {
            invalid();
            continue;
        }
        if (kana && c >= 0x21 && c <= 0x5F) {
            want(nullptr);
            pending.append(char(c + 0x80)); // CP932's single-byte katakana
            continue;
        }
        if (set == Set::Roman && (c == 0x5C || c == 0x7E)) {
            put(QChar(c == 0x5C ? 0x00A5 : 0x203E)); // JIS X 0201 Roman: yen sign, overline
            continue;
        }
        if (set == Set::Ascii || set == Set::Roman || set == Set::Kana || c < 0x21 || c > 0x7E) {
            want(nullptr);
            // The run up to the next control, escape or 8-bit byte, at once.
            int end = i + 1;
            const bool printableOnly = set == Set::Kana || shiftedOut;
            while (end < n) {
                const uchar d = uchar(bytes[end]);
                if (d < 0x20 || d >= 0x7F || (printableOnly && d <= 0x5F && d >= 0x21)
                    || (set == Set::Roman && (d == 0x5C || d == 0x7E)))
                    break;
                ++end;
            }
            pending.append(bytes.constData() + i, end - i);
            i = end - 1;
            continue;
        }
        if (i + 1 >= n || uchar(bytes[i + 1]) < 0x21 || uchar(bytes[i + 1]) > 0x7E) {
            invalid(); // half a character
            continue;
        }
        const uchar c2 = uchar(bytes[++i]);
        switch (set) {
        case Set::Jis0208: {
            // The further pairs of the run go with this one.
            const int first = i - 1;
            while (i + 2 < n && uchar(bytes[i + 1]) >= 0x21 && uchar(bytes[i + 1]) <= 0x7E
                   && uchar(bytes[i + 2]) >= 0x21 && uchar(bytes[i + 2]) <= 0x7E)
                i += 2;
            jisRun(reinterpret_cast<const uchar *>(bytes.constData()) + first, (i + 1 - first) / 2);
            break;
        }
        case Set::Jis0212:
        case Set::Jis0213p2:
            want(set == Set::Jis0212 ? "EUC-JP-MS" : "EUC-JISX0213");
            pending.append(char(0x8F));
            pending.append(char(c | 0x80));
            pending.append(char(c2 | 0x80));
            break;
        default:
            want(set == Set::Jis0213p1 ? "EUC-JISX0213" : set == Set::Gb2312 ? "EUC-CN" : "EUC-KR");
            pending.append(char(c | 0x80));
            pending.append(char(c2 | 0x80));
            break;
        }
    }
    flush();
    if (errors)
        *errors += bad;
    return out;
}

QString Charset::guess(const QByteArray &bytes)
{
    if (const char order = utf16Order(bytes))
        return decodeUtf16(bytes, order, nullptr);
    const bool escapes = hasIso2022Escape(bytes);
    if (!hasEightBit(bytes)) {
        if (escapes || bytes.contains('\x0E'))
            return decodeIso2022Jp(bytes);
        return QString::fromLatin1(bytes);
    }
    int utf8Errors = 0;
    QString utf8 = decodeWith(bytes, "UTF-8", &utf8Errors);
    if (utf8Errors == 0)
        return stripBom(utf8);
    if (!escapes && looksLatin(bytes))
        return decodeWith(bytes, "WINDOWS-1252", nullptr);

    struct Candidate {
        QString text;
        int score;
    };
    int eucErrors = 0;
    QString euc = decodeWith(bytes, "EUC-JP-MS", &eucErrors);
    // EUC-JP read as CP932 turns into half-width katakana, so they count
    // against CP932; but Shift_JIS made only of half-width katakana reads as
    // EUC-JP kanji without a single kana, which real Japanese text hardly is.
    bool kanaOnlyBytes = true;
    for (char c : bytes)
        if (uchar(c) >= 0x80 && (uchar(c) < 0xA1 || uchar(c) > 0xDF))
            kanaOnlyBytes = false;
    const bool eucHasKana = std::any_of(euc.cbegin(), euc.cend(), [](QChar c) { return isKana(c.unicode()); });
    const bool kanaCounts = !(kanaOnlyBytes && !eucHasKana);
    auto score = [](const QString &text, int errors, bool kanaPenalty) {
        return errors * 8 + (kanaPenalty ? countHalfWidthKana(text) : 0);
    };
    int errors = 0;
    QString sjis = decodeCp932(bytes, &errors);
    Candidate best{sjis, score(sjis, errors, kanaCounts)};
    if (score(euc, eucErrors, false) < best.score)
        best = {euc, score(euc, eucErrors, false)};
    if (escapes) {
        errors = 0;
        QString jis = decodeIso2022Jp(bytes, &errors);
        if (score(jis, errors, true) < best.score)
            best = {jis, score(jis, errors, true)};
    }
    if (utf8Errors * 8 < best.score)
        return stripBom(utf8);
    return best.text;
}

QString Charset::decode(const QByteArray &bytes, const QByteArray &label)
{
    const QByteArray l = normalisedLabel(label);
    const Family family = familyOf(l);
    int errors = 0;
    QString text;
    switch (family) {
    case Family::Iso2022Jp:
        text = decodeIso2022Jp(bytes, &errors);
        // 7-bit ISO-2022-JP has no 8-bit bytes: without escape sequences the
        // label is wrong; with them, a few stray bytes do not outvote it.
        if (!hasEightBit(bytes))
            return text;
        if (!hasIso2022Escape(bytes))
            return guess(bytes);
        break;
    case Family::Cp932:
        text = decodeCp932(bytes, &errors);
        break;
    case Family::EucJp:
        text = decodeWith(bytes, "EUC-JP-MS", &errors);
        break;
    case Family::Utf8:
        text = stripBom(decodeWith(bytes, "UTF-8", &errors));
        break;
    case Family::Utf16: {
        // RFC 2781 reads "UTF-16" without a byte-order mark as big-endian;
        // Windows writes it little-endian, so the bytes decide.
        char order = l.endsWith("le") ? 'L' : l.endsWith("be") ? 'B' : utf16OrderWithoutBom(bytes);
        if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
            order = utf16Order(bytes);
        return decodeUtf16(bytes, order, nullptr);
    }
    case Family::Utf7:
        text = decodeWith(standardUtf7(bytes), "UTF-7", &errors);
        break;
    case Family::Ascii:
        if (hasEightBit(bytes) || hasIso2022Escape(bytes) || utf16Order(bytes))
            return guess(bytes);
        return QString::fromLatin1(bytes);
    case Family::Other:
        if (!iconvDecode(bytes, l.constData(), &text, &errors))
            return guess(bytes); // a label iconv does not know
        // Western labels on Japanese or UTF-8 text are a common mistake of web systems.
        if (isLatinLabel(l) && hasEightBit(bytes)
            && ((!looksLatin(bytes) && isValidUtf8(bytes)) || japaneseUnderLatinLabel(bytes)))
            return guess(bytes);
        break;
    }
    // Bytes that are UTF-8 text throughout outvote any other label: by chance
    // Japanese text in another charset hardly ever is.
    if (family != Family::Utf8 && hasEightBit(bytes)) {
        int utf8Errors = 0;
        const QString utf8 = stripBom(decodeWith(bytes, "UTF-8", &utf8Errors));
        if (utf8Errors == 0 && isUtf8Text(utf8))
            return utf8;
    }
    // The label holds while most of the text is valid under it, or when no
    // Japanese or Western reading does better: only the bad bytes become U+FFFD.
    if (errors == 0 || errors <= meaningfulChars(text, family == Family::Cp932)
        || (!readsAsJapanese(bytes) && !looksLatin(bytes)))
        return text;
    return guess(bytes);
}

QByteArray Charset::htmlLabel(const QByteArray &html, const QByteArray &label)
{
    const QByteArray l = normalisedLabel(label);
    const Family family = familyOf(l);
    if (family != Family::Ascii && !(family == Family::Other && isLatinLabel(l)))
        return label;
    const QByteArray meta = metaCharset(html);
    const Family metaFamily = familyOf(meta);
    int errors = 0;
    switch (metaFamily) {
    case Family::Iso2022Jp:
        if (hasEightBit(html))
            return label;
        decodeIso2022Jp(html, &errors);
        break;
    case Family::Cp932:
        decodeCp932(html, &errors);
        break;
    case Family::EucJp:
        decodeWith(html, "EUC-JP-MS", &errors);
        break;
    case Family::Utf8:
        decodeWith(html, "UTF-8", &errors);
        break;
    default:
        return label;
    }
    return errors == 0 ? meta : label;
}

QString Charset::composed(const QString &text)
{
    auto isCompatibilityIdeograph = [](char32_t u) {
        return (u >= 0xF900 && u <= 0xFAFF) || (u >= 0x2F800 && u <= 0x2FA1F);
    };
    // Nothing below U+0300 composes, and text without a character that NFC
    // may change or join to the one before it is already composed.
    const std::bitset<0x10000> &composing = mayCompose();
    if (std::none_of(text.cbegin(), text.cend(), [&](QChar c) {
            return c.unicode() >= 0x300 && (c.isSurrogate() || composing[c.unicode()]);
        }))
        return text;
    QString out;
    out.reserve(text.size());
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype len = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const char32_t u = len == 2 ? QChar::surrogateToUcs4(text[i], text[i + 1]) : text[i].unicode();
        if (isCompatibilityIdeograph(u)) {
            out += text.mid(runStart, i - runStart).normalized(QString::NormalizationForm_C);
            out += text.mid(i, len);
            runStart = i + len;
        }
        i += len;
    }
    out += text.mid(runStart).normalized(QString::NormalizationForm_C);
    return out;
}

QString Charset::toJisForms(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        switch (c.unicode()) {
        case 0xFF5E: c = QChar(0x301C); break; // ～ → 〜
        case 0x2225: c = QChar(0x2016); break; // ∥ → ‖
        case 0xFF0D: c = QChar(0x2212); break; // － → −
        case 0x2014: c = QChar(0x2015); break; // — → ― (glibc's form of JIS 0x213D)
        case 0xFFE0: c = QChar(0x00A2); break; // ￠ → ¢
        case 0xFFE1: c = QChar(0x00A3); break; // ￡ → £
        case 0xFFE2: c = QChar(0x00AC); break; // ￢ → ¬
        default: break;
        }
    }
    return out;
}

QByteArray Charset::encodeIso2022Jp(const QString &text, bool *ok)
{
    *ok = false;
    const QByteArray utf8 = toJisForms(text).toUtf8();
    iconv_t cd = converter("ISO-2022-JP", "UTF-8");
    if (cd == kNoConverter)
        return {};
    QByteArray out;
    char buffer[4096];
    char *in = const_cast<char *>(utf8.constData());
    size_t inLeft = size_t(utf8.size());
    bool failed = false;
    while (inLeft > 0) {
        char *outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, outPtr - buffer);
        if (rc == size_t(-1) && errno != E2BIG) {
            failed = true;
            break;
        }
    }
    if (!failed) {
        char *outPtr = buffer;
        size_t outLeft = sizeof buffer;
        iconv(cd, nullptr, nullptr, &outPtr, &outLeft); // back to ASCII
        out.append(buffer, outPtr - buffer);
    }
    if (failed)
        return {};
    *ok = true;
    return out;
}

} // namespace hollin
