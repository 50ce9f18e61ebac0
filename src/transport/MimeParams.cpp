#include "transport/MimeParams.h"

#include "transport/Charset.h"
#include "transport/MimeHeader.h"

#include <QList>
#include <QPair>

namespace hollin {

namespace {

using Params = QList<QPair<QByteArray, QByteArray>>; // lower-case name, raw value

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isTokenChar(char c)
{
    return uchar(c) > 0x20 && uchar(c) < 0x7F && !QByteArrayView("()<>@,;:\\\"/[]?=").contains(c);
}

// Whether s continues at `at` (after blanks) with "token=", the start of the
// next parameter, or with nothing at all.
bool startsParameter(const QByteArray &s, qsizetype at, bool orEnds = false)
{
    while (at < s.size() && isSpace(s[at]))
        ++at;
    if (at == s.size())
        return orEnds;
    const qsizetype start = at;
    while (at < s.size() && isTokenChar(s[at]))
        ++at;
    while (at < s.size() && isSpace(s[at]))
        ++at;
    return at > start && at < s.size() && s[at] == '=';
}

// The end of an unquoted value that starts at i: the first ";" before
// another parameter or before nothing but blanks, so that a ";" inside a file
// name ("filename*=UTF-8''a;b.txt") stays in the value.
qsizetype unquotedEnd(const QByteArray &s, qsizetype i)
{
    for (qsizetype semi = s.indexOf(';', i); semi >= 0; semi = s.indexOf(';', semi + 1))
        if (startsParameter(s, semi + 1, true))
            return semi;
    return s.size();
}

// The parameters after the first ";" of a field value, in order; a value
// that starts with a parameter (a Content-Type of only "name=…") is read whole.
Params parse(const QByteArray &raw)
{
    Params out;
    QByteArray s = raw;
    s.replace('\r', "").replace('\n', "");
    s = MimeHeader::rawTextToUtf8(s);
    qsizetype i = startsParameter(s, 0) ? 0 : s.indexOf(';');
    if (i < 0)
        return out;
    const qsizetype n = s.size();
    while (i < n) {
        while (i < n && (isSpace(s[i]) || s[i] == ';'))
            ++i;
        const qsizetype eq = s.indexOf('=', i);
        const qsizetype semi = s.indexOf(';', i);
        if (eq < 0 || (semi >= 0 && semi < eq)) {
            if (semi < 0)
                break;
            i = semi; // an attribute without a value
            continue;
        }
        const QByteArray name = s.mid(i, eq - i).trimmed().toLower();
        i = eq + 1;
        while (i < n && isSpace(s[i]))
            ++i;
        QByteArray value;
        if (i < n && s[i] == '"') {
            for (++i; i < n && s[i] != '"'; ++i) {
                if (s[i] == '\\' && i + 1 < n)
                    ++i;
                value.append(s[i]);
            }
            ++i; // closing quote
            // Text after the closing quote belongs to the value: senders
            // double the quotes around an encoded word (""=?…?="").
            const qsizetype end = unquotedEnd(s, i);
            for (; i < end; ++i)
                if (s[i] != '"')
                    value.append(s[i]);
            value = value.trimmed();
        } else {
            const qsizetype end = unquotedEnd(s, i);
            value = s.mid(i, end - i).trimmed();
            i = end;
        }
        out.append({name, value});
    }
    return out;
}

const QByteArray *find(const Params &params, const QByteArray &name)
{
    for (const auto &p : params)
        if (p.first == name)
            return &p.second;
    return nullptr;
}

// charset'language'percent-encoded → bytes and charset.
QByteArray extendedValue(const QByteArray &value, QByteArray *charset)
{
    const qsizetype q1 = value.indexOf('\'');
    const qsizetype q2 = q1 < 0 ? -1 : value.indexOf('\'', q1 + 1);
    if (q2 < 0)
        return QByteArray::fromPercentEncoding(value);
    *charset = value.left(q1);
    return QByteArray::fromPercentEncoding(value.mid(q2 + 1));
}

// The value of one parameter (RFC 2231 forms included), when it is Japanese.
QString japaneseValue(const Params &params, const QByteArray &base)
{
    QByteArray charset;
    QByteArray bytes;
    bool extended = false;
    if (const QByteArray *v = find(params, base + '*')) {
        bytes = extendedValue(*v, &charset);
        extended = true;
    } else if (find(params, base + "*0") || find(params, base + "*0*")) {
        for (int k = 0; k < 100; ++k) {
            const QByteArray key = base + '*' + QByteArray::number(k);
            if (const QByteArray *enc = find(params, key + '*')) {
                bytes += k == 0 ? extendedValue(*enc, &charset) : QByteArray::fromPercentEncoding(*enc);
                extended = true;
            } else if (const QByteArray *plain = find(params, key)) {
                bytes += *plain;
            } else {
                break;
            }
        }
    } else if (const QByteArray *v = find(params, base)) {
        bytes = *v;
    } else {
        return {};
    }
    if (extended)
        return Charset::decode(bytes, charset); // the label, or a guess when it is missing or wrong
    // A plain value: RFC 2047 words (GMime garbles Japanese ones and drops
    // the backslashes of others) or raw text.
    if (bytes.contains("=?"))
        return MimeHeader::decode(bytes);
    // Raw 8-bit text, already read by the guess for raw header text.
    for (char c : bytes)
        if (uchar(c) >= 0x80)
            return QString::fromUtf8(bytes);
    return {};
}

} // namespace

QString MimeParams::japaneseFileName(const QByteArray &rawDisposition, const QByteArray &rawContentType)
{
    const Params disposition = parse(rawDisposition);
    if (find(disposition, "filename") || find(disposition, "filename*") || find(disposition, "filename*0")
        || find(disposition, "filename*0*"))
        return japaneseValue(disposition, "filename");
    return japaneseValue(parse(rawContentType), "name");
}

} // namespace hollin
