#include "transport/Charset.h"

#include "storage/Cp932.h"

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

// Converts bytes from an iconv charset to text. An invalid or cut sequence
// becomes U+FFFD and is counted in *errors. Returns false when iconv does not
// know the charset.
bool iconvDecode(const QByteArray &bytes, const char *charset, QString *out, int *errors)
{
    iconv_t cd = converter("UTF-8", charset);
    if (cd == kNoConverter)
        return false;
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
        // EILSEQ or EINVAL (sequence cut at the end): skip one byte.
        utf8.append("\xEF\xBF\xBD");
        ++bad;
        ++in;
        --inLeft;
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
    return bytes.contains("\x1B$") || bytes.contains("\x1B(");
}

int countHalfWidthKana(const QString &text)
{
    int n = 0;
    for (QChar c : text)
        if (c.unicode() >= 0xFF61 && c.unicode() <= 0xFF9F)
            ++n;
    return n;
}

enum class Family { Iso2022Jp, Cp932, EucJp, Utf8, Ascii, Other };

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
    if (l.isEmpty() || l == "us-ascii" || l == "ascii" || l == "ansi_x3.4-1968" || l == "us")
        return Family::Ascii;
    return Family::Other;
}

// Shift_JIS bytes of a JIS X 0208 row/cell pair (both 0x21..0x7E).
void appendSjisOfJis(QByteArray *out, uchar j1, uchar j2)
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
    out->append(char(s1));
    out->append(char(s2));
}

QString stripBom(QString text)
{
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

} // namespace

QString Charset::decodeIso2022Jp(const QByteArray &bytes, int *errors)
{
    enum class Set { Ascii, Jis0208, Kana, Jis0212, Jis0213p1, Jis0213p2, Gb2312, Ksc5601 };
    Set set = Set::Ascii;
    bool shiftedOut = false; // SO: half-width katakana until SI
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
    auto invalid = [&]() {
        flush();
        out += QChar(0xFFFD);
        ++bad;
    };

    const int n = int(bytes.size());
    for (int i = 0; i < n; ++i) {
        const uchar c = uchar(bytes[i]);
        if (c == uchar(kEsc)) {
            const QByteArray seq = bytes.mid(i + 1, 3);
            Set next = set;
            int len = 0;
            if (seq.startsWith("(B") || seq.startsWith("(J") || seq.startsWith("(H")) {
                next = Set::Ascii;
                len = 2;
            } else if (seq.startsWith("(I")) {
                next = Set::Kana;
                len = 2;
            } else if (seq.startsWith("$@") || seq.startsWith("$B")) {
                next = Set::Jis0208;
                len = 2;
            } else if (seq.startsWith("$A")) {
                next = Set::Gb2312;
                len = 2;
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
            }
            if (len == 0) {
                ++bad; // an escape sequence we do not know: keep the ESC out of the text
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
        if (set == Set::Ascii || set == Set::Kana || c < 0x21 || c > 0x7E) {
            want(nullptr);
            // The run up to the next control, escape or 8-bit byte, at once.
            int end = i + 1;
            const bool printableOnly = set == Set::Kana || shiftedOut;
            while (end < n) {
                const uchar d = uchar(bytes[end]);
                if (d < 0x20 || d >= 0x7F || (printableOnly && d <= 0x5F && d >= 0x21))
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
        case Set::Jis0208:
            want(nullptr);
            appendSjisOfJis(&pending, c, c2);
            // Further pairs of the run without going round the loop.
            while (i + 2 < n && uchar(bytes[i + 1]) >= 0x21 && uchar(bytes[i + 1]) <= 0x7E
                   && uchar(bytes[i + 2]) >= 0x21 && uchar(bytes[i + 2]) <= 0x7E) {
                appendSjisOfJis(&pending, uchar(bytes[i + 1]), uchar(bytes[i + 2]));
                i += 2;
            }
            break;
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

    struct Candidate {
        QString text;
        int score;
    };
    auto score = [](const QString &text, int errors) { return errors * 8 + countHalfWidthKana(text); };
    int errors = 0;
    QString sjis = decodeCp932(bytes, &errors);
    Candidate best{sjis, score(sjis, errors)};
    errors = 0;
    QString euc = decodeWith(bytes, "EUC-JP-MS", &errors);
    if (score(euc, errors) < best.score)
        best = {euc, score(euc, errors)};
    if (escapes) {
        errors = 0;
        QString jis = decodeIso2022Jp(bytes, &errors);
        if (score(jis, errors) < best.score)
            best = {jis, score(jis, errors)};
    }
    if (utf8Errors * 8 < best.score)
        return stripBom(utf8);
    return best.text;
}

QString Charset::decode(const QByteArray &bytes, const QByteArray &label)
{
    const QByteArray l = normalisedLabel(label);
    int errors = 0;
    QString text;
    switch (familyOf(l)) {
    case Family::Iso2022Jp:
        if (hasEightBit(bytes))
            return guess(bytes); // the label is wrong: 7-bit ISO-2022-JP has no such bytes
        return decodeIso2022Jp(bytes);
    case Family::Cp932:
        text = decodeCp932(bytes, &errors);
        break;
    case Family::EucJp:
        text = decodeWith(bytes, "EUC-JP-MS", &errors);
        break;
    case Family::Utf8:
        text = stripBom(decodeWith(bytes, "UTF-8", &errors));
        break;
    case Family::Ascii:
        if (hasEightBit(bytes) || hasIso2022Escape(bytes))
            return guess(bytes);
        return QString::fromLatin1(bytes);
    case Family::Other: {
        if (!iconvDecode(bytes, l.constData(), &text, &errors))
            return guess(bytes); // a label iconv does not know
        break;
    }
    }
    return errors > 0 ? guess(bytes) : text;
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
