#include "Cp932.h"

#include <cerrno>
#include <iconv.h>

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

Converter &decoder()
{
    thread_local Converter c("UTF-8", "CP932");
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

} // namespace

QByteArray Cp932::encode(const QString &text, bool *replaced)
{
    if (replaced)
        *replaced = false;
    const QByteArray utf8 = text.toUtf8();
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

QString Cp932::decode(const QByteArray &bytes)
{
    if (isAscii(bytes.constData(), bytes.size()))
        return QString::fromLatin1(bytes);

    QByteArray utf8;
    utf8.reserve(bytes.size() * 3 / 2);
    Converter &conv = decoder();
    const char *in = bytes.constData();
    size_t left = size_t(bytes.size());
    static const char replacement[] = "\xEF\xBF\xBD"; // U+FFFD
    while (left > 0) {
        if (!conv.isValid() || conv.convert(&in, &left, &utf8) != 0) {
            // An invalid byte or a lead byte without its partner: U+FFFD, then go on
            // with the next byte, so a valid character after it is not lost.
            ++in;
            --left;
            utf8.append(replacement, 3);
        }
    }
    return QString::fromUtf8(utf8);
}

QByteArray Cp932::encodeField(const QString &text, int width, bool *replaced, bool *cut)
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
    if (bytes.size() < width)
        bytes.append(width - bytes.size(), ' ');
    return bytes;
}

bool Cp932::canEncode(const QString &text)
{
    bool replaced = false;
    encode(text, &replaced);
    return !replaced;
}

} // namespace hollin
