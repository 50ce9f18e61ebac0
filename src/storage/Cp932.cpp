#include "Cp932.h"

#include <atomic>
#include <cerrno>
#include <iconv.h>
#include <memory>

namespace hollin {

namespace {

// One converter per direction and thread, opened on first use.
class Converter {
public:
    Converter(const char *to, const char *from) : m_cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (m_cd != iconv_t(-1))
            iconv_close(m_cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool isValid() const { return m_cd != iconv_t(-1); }

    // Converts as much as possible; returns the errno that stopped it (0 when done).
    int convert(const char **in, size_t *inLeft, QByteArray *out)
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char buffer[4096];
        while (*inLeft > 0) {
            char *dst = buffer;
            size_t dstLeft = sizeof buffer;
            const size_t rc = iconv(m_cd, const_cast<char **>(in), inLeft, &dst, &dstLeft);
            out->append(buffer, int(dst - buffer));
            if (rc == size_t(-1) && errno != E2BIG)
                return errno;
        }
        return 0;
    }

private:
    iconv_t m_cd;
};

Converter &encoder()
{
    thread_local Converter c("CP932", "UTF-8");
    return c;
}

// Length of the UTF-8 sequence that starts with byte b (1 for a stray byte).
int utf8Length(unsigned char b)
{
    if (b >= 0xF0)
        return 4;
    if (b >= 0xE0)
        return 3;
    if (b >= 0xC0)
        return 2;
    return 1;
}

bool isLeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool isAscii(const char *p, qsizetype n)
{
    for (qsizetype i = 0; i < n; ++i) {
        if (static_cast<unsigned char>(p[i]) >= 0x80)
            return false;
    }
    return true;
}

constexpr char16_t Replacement = 0xFFFD;

// Every CP932 character as glibc iconv decodes it, looked up once: single bytes,
// and the pairs of each lead byte (0 where iconv refuses the pair).
struct DecodeTable {
    char16_t single[256];
    char16_t pair[128][256];
};

char16_t decodeOne(Converter &conv, const char *bytes, size_t size)
{
    QByteArray utf8;
    const char *in = bytes;
    size_t left = size;
    if (conv.convert(&in, &left, &utf8) != 0 || left != 0)
        return 0;
    const QString text = QString::fromUtf8(utf8);
    return text.size() == 1 ? text.at(0).unicode() : 0;
}

const DecodeTable &decodeTable()
{
    static const std::unique_ptr<const DecodeTable> table = [] {
        auto t = std::make_unique<DecodeTable>();
        Converter conv("UTF-8", "CP932");
        for (int b = 0; b < 256; ++b) {
            const char byte = char(b);
            const char16_t c = isLeadByte(static_cast<unsigned char>(b)) || !conv.isValid()
                ? 0 : decodeOne(conv, &byte, 1);
            t->single[b] = (c != 0 || b == 0) ? c : Replacement;
        }
        for (int lead = 0x80; lead < 0x100; ++lead) {
            if (!isLeadByte(static_cast<unsigned char>(lead)) || !conv.isValid())
                continue;
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                const char pair[2] = {char(lead), char(trail)};
                t->pair[lead - 0x80][trail] = decodeOne(conv, pair, 2);
            }
        }
        return t;
    }();
    return *table;
}

} // namespace

namespace {

// Encodes the whole text through iconv.
QByteArray encodeThroughIconv(const QString &text, bool *replaced)
{
    if (replaced)
        *replaced = false;
    QByteArray utf8 = text.toUtf8();
    // iconv writes U+00A5 and U+203E as 0x5C and 0x7E, which every reader takes for a backslash and a tilde.
    if (utf8.contains("\xC2\xA5") || utf8.contains("\xE2\x80\xBE"))
        utf8.replace("\xC2\xA5", "\xEF\xBF\xA5").replace("\xE2\x80\xBE", "\xEF\xBF\xA3");
    if (isAscii(utf8.constData(), utf8.size()))
        return utf8;

    QByteArray out;
    out.reserve(utf8.size());
    Converter &conv = encoder();
    const char *in = utf8.constData();
    size_t left = size_t(utf8.size());
    while (left > 0) {
        if (!conv.isValid() || conv.convert(&in, &left, &out) != 0) {
            // No CP932 form (or a broken sequence): one "?" for the whole character.
            const size_t skip = std::min<size_t>(left, size_t(utf8Length(static_cast<unsigned char>(*in))));
            in += skip;
            left -= skip;
            out.append('?');
            if (replaced)
                *replaced = true;
        }
    }
    return out;
}

// What one BMP character (no surrogate) encodes to, asked of iconv once per
// character and process: Known, the byte count in bits 16-17 (0 = no CP932
// form), the bytes in the low 16 bits.
constexpr quint32 Known = 1u << 31;

std::atomic<quint32> encodedTable[0x10000];

Q_NEVER_INLINE quint32 learnEncodedChar(char16_t c)
{
    const QByteArray bytes = encodeThroughIconv(QString(QChar(c)), nullptr);
    quint32 e = Known;
    if (bytes != "?" && (bytes.size() == 1 || bytes.size() == 2)) {
        e |= quint32(bytes.size()) << 16;
        for (const char byte : bytes)
            e = (e & 0xFFFF0000u) | ((e << 8) & 0xFF00u) | static_cast<unsigned char>(byte);
    }
    encodedTable[c].store(e, std::memory_order_relaxed);
    return e;
}

// Inlined into the loops over every character; iconv only the first time.
inline quint32 encodedChar(char16_t c)
{
    const quint32 e = encodedTable[c].load(std::memory_order_relaxed);
    return Q_LIKELY(e != 0) ? e : learnEncodedChar(c);
}

} // namespace

QByteArray Cp932::encode(const QString &text, bool *replaced)
{
    if (replaced)
        *replaced = false;
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    char *dst = out.data();
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c < 0x80) {
            *dst++ = char(c);
            continue;
        }
        if (ch.isSurrogate())
            return encodeThroughIconv(text, replaced);
        const quint32 e = encodedChar(c);
        const int size = int(e >> 16) & 3;
        if (size == 0) {
            *dst++ = '?';
            if (replaced)
                *replaced = true;
        } else {
            if (size == 2)
                *dst++ = char(e >> 8);
            *dst++ = char(e);
        }
    }
    out.truncate(dst - out.constData());
    return out;
}

namespace {

// Decodes size bytes into out (room for size characters); returns the characters written.
qsizetype decodeTo(const unsigned char *in, qsizetype size, char16_t *out)
{
    const DecodeTable &table = decodeTable();
    qsizetype used = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const unsigned char b = in[i];
        if (b < 0x80) {
            out[used++] = b;
        } else if (isLeadByte(b)) {
            // A lead byte without a valid partner: U+FFFD, then go on with the
            // next byte, so a valid character after it is not lost.
            const char16_t c = i + 1 < size ? table.pair[b - 0x80][in[i + 1]] : 0;
            if (c != 0) {
                out[used++] = c;
                ++i;
            } else {
                out[used++] = Replacement;
            }
        } else {
            out[used++] = table.single[b];
        }
    }
    return used;
}

} // namespace

QString Cp932::decode(const QByteArray &bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    text.truncate(decodeTo(reinterpret_cast<const unsigned char *>(bytes.constData()), bytes.size(),
                           reinterpret_cast<char16_t *>(text.data())));
    return text;
}

QString Cp932::decodeField(const char *bytes, int width)
{
    QString text(width, Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    const qsizetype used = decodeTo(reinterpret_cast<const unsigned char *>(bytes), width, out);
    std::fill(out + used, out + width, u' ');
    return text;
}

QByteArray Cp932::encodeField(const QString &text, int width, bool *replaced, bool *cut)
{
    QByteArray bytes = encodeCut(text, width, replaced, cut);
    if (bytes.size() < width)
        bytes.append(width - bytes.size(), ' ');
    return bytes;
}

QByteArray Cp932::encodeCut(const QString &text, int width, bool *replaced, bool *cut)
{
    QByteArray bytes = encode(text, replaced);
    if (cut)
        *cut = bytes.size() > width;
    if (bytes.size() > width) {
        // Walk character by character to the last whole one that fits.
        int end = 0;
        while (end < width) {
            const int step = isLeadByte(static_cast<unsigned char>(bytes.at(end))) ? 2 : 1;
            if (end + step > width)
                break;
            end += step;
        }
        bytes.truncate(end);
    }
    return bytes;
}

QString Cp932::storable(const QString &text, bool *lost)
{
    if (lost)
        *lost = false;
    if (canEncode(text))
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype len = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString one = text.mid(i, len);
        if (canEncode(one)) {
            out += one;
        } else {
            out += QChar(0x3013); // 〓
            if (lost && one != QString(QChar(0xFFFD)))
                *lost = true;
        }
        i += len;
    }
    return out;
}

char16_t Cp932::pairChar(unsigned char lead, unsigned char trail)
{
    return isLeadByte(lead) ? decodeTable().pair[lead - 0x80][trail] : 0;
}

bool Cp932::canEncode(const QString &text)
{
    bool replaced = false;
    encodedSize(text, &replaced);
    return !replaced;
}

qsizetype Cp932::encodedSize(const QString &text, bool *replaced)
{
    if (replaced)
        *replaced = false;
    qsizetype size = 0;
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c < 0x80) {
            ++size;
            continue;
        }
        if (ch.isSurrogate())
            return encode(text, replaced).size();
        const int bytes = int(encodedChar(c) >> 16) & 3;
        if (bytes == 0 && replaced)
            *replaced = true;
        size += bytes == 0 ? 1 : bytes; // a "?" stands for what has no form
    }
    return size;
}

} // namespace hollin
