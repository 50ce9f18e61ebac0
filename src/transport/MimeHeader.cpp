#include "transport/MimeHeader.h"

#include "transport/Charset.h"

#include <QList>
#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Removes folding: a line break and the white space around it become one
// space (a fold made of white-space-only lines too).
QByteArray unfold(const QByteArray &raw)
{
    QByteArray out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c != '\r' && c != '\n') {
            out.append(c);
            continue;
        }
        while (!out.isEmpty() && (out.back() == ' ' || out.back() == '\t'))
            out.chop(1);
        while (i + 1 < raw.size() && isSpace(raw[i + 1]))
            ++i;
        out.append(' ');
    }
    return out.trimmed();
}

// Raw 8-bit or ISO-2022-JP text of a field, read as a whole before any quote
// or backslash is looked at: in Shift_JIS the backslash byte 0x5C is the second byte of
// 表, ソ, 能 and others, and JIS pairs hold '"' and '<'. The result is UTF-8,
// whose multi-byte characters hold no ASCII byte.
QByteArray rawTextToUtf8Impl(const QByteArray &unfolded)
{
    bool raw = false;
    for (char c : unfolded)
        if (uchar(c) >= 0x80 || c == 0x1B || c == 0x0E)
            raw = true;
    return raw ? Charset::guess(unfolded).toUtf8() : unfolded;
}

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

// Q-encoded text to bytes. An escape cut by the end ("=" or "=X") is dropped:
// it stands for no byte.
QByteArray decodeQ(QByteArray text)
{
    qsizetype cut = text.size();
    if (cut >= 1 && text[cut - 1] == '=')
        cut -= 1;
    else if (cut >= 2 && text[cut - 2] == '=' && isHex(text[cut - 1]))
        cut -= 2;
    text.truncate(cut);
    text.replace('_', ' ');
    return QByteArray::fromPercentEncoding(text, '=');
}

// Adjacent encoded words of one charset, joined before conversion so that a
// character split between two words survives. Q text is joined before it is
// decoded too: senders split "=C2=A3" into "=C2=" and "A3".
struct Word {
    QByteArray charset; // lower case, language suffix removed
    QByteArray bytes;   // transfer-decoded, up to the pending Q text
    QByteArray qText;   // Q-encoded text not yet decoded

    void append(const Word &next)
    {
        if (next.qText.isEmpty())
            flushQ();
        bytes += next.bytes;
        qText += next.qText;
    }
    QByteArray allBytes() const { return bytes + decodeQ(qText); }
    void flushQ()
    {
        bytes += decodeQ(qText);
        qText.clear();
    }
};

// Parses an encoded word starting at `at` ("=?"). On success returns the index
// just past its "?=". Whitespace inside the encoded text (a fold that broke
// the word) is ignored.
int parseWord(const QByteArray &s, int at, Word *word)
{
    const int q1 = int(s.indexOf('?', at + 2));
    if (q1 < 0 || q1 - (at + 2) > 64 || q1 == at + 2)
        return -1;
    if (q1 + 2 >= s.size() || s[q1 + 2] != '?')
        return -1;
    const char enc = char(s[q1 + 1] | 0x20);
    if (enc != 'b' && enc != 'q')
        return -1;
    QByteArray charset = s.mid(at + 2, q1 - (at + 2));
    for (char c : charset)
        if (isSpace(c) || c == '=')
            return -1;
    const int textStart = q1 + 3;
    const int end = int(s.indexOf("?=", textStart));
    if (end < 0)
        return -1;
    QByteArray text = s.mid(textStart, end - textStart);
    if (text.contains("=?"))
        return -1;
    QByteArray compact;
    compact.reserve(text.size());
    for (char c : text)
        if (!isSpace(c))
            compact.append(c);
    if (const int star = int(charset.indexOf('*')); star >= 0)
        charset.truncate(star); // RFC 2231 language: =?ISO-2022-JP*ja?B?…?=
    word->charset = charset.toLower();
    if (enc == 'b')
        word->bytes = QByteArray::fromBase64(compact);
    else
        word->qText = compact;
    return end + 2;
}

QString decodeUnfolded(const QByteArray &s)
{
    struct Piece {
        bool isWord;
        Word word;
        QByteArray raw;
    };
    QList<Piece> pieces;
    int i = 0;
    int literalStart = 0;
    const int n = int(s.size());
    while (i < n) {
        const int at = int(s.indexOf("=?", i));
        if (at < 0)
            break;
        Word word;
        const int next = parseWord(s, at, &word);
        if (next < 0) {
            i = at + 2;
            continue;
        }
        QByteArray literal = s.mid(literalStart, at - literalStart);
        bool onlySpace = true;
        for (char c : literal)
            if (!isSpace(c))
                onlySpace = false;
        // Whitespace between two encoded words is not part of the text.
        const bool dropSpace = onlySpace && !pieces.isEmpty() && pieces.last().isWord;
        if (!literal.isEmpty() && !dropSpace)
            pieces.append({false, {}, literal});
        if (!pieces.isEmpty() && pieces.last().isWord && pieces.last().word.charset == word.charset)
            pieces.last().word.append(word);
        else
            pieces.append({true, word, {}});
        i = next;
        literalStart = next;
    }
    if (literalStart < n)
        pieces.append({false, {}, s.mid(literalStart)});

    QString out;
    for (const Piece &p : pieces)
        out += p.isWord ? Charset::decode(p.word.allBytes(), p.word.charset) : Charset::guess(p.raw);
    return out;
}

// Splits at commas outside quotes, comments, angle brackets and encoded words.
QList<QByteArray> splitMailboxes(const QByteArray &s)
{
    QList<QByteArray> out;
    QByteArray current;
    bool quoted = false;
    int comment = 0;
    bool angle = false;
    for (int i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (quoted) {
            current.append(c);
            if (c == '\\' && i + 1 < s.size())
                current.append(s[++i]);
            else if (c == '"')
                quoted = false;
            continue;
        }
        if (c == '=' && i + 1 < s.size() && s[i + 1] == '?') {
            Word w;
            const int next = parseWord(s, i, &w);
            if (next > 0) {
                current.append(s.mid(i, next - i));
                i = next - 1;
                continue;
            }
        }
        if (c == '"' && comment == 0)
            quoted = true;
        else if (c == '(')
            ++comment;
        else if (c == ')' && comment > 0)
            --comment;
        else if (c == '<' && comment == 0)
            angle = true;
        else if (c == '>' && comment == 0)
            angle = false;
        if (c == ',' && !angle && comment == 0) {
            out.append(current);
            current.clear();
            continue;
        }
        current.append(c);
    }
    out.append(current);
    return out;
}

// Removes quoting: surrounding or inner quotes go, backslash pairs become their character.
QByteArray unquote(const QByteArray &s)
{
    QByteArray out;
    for (int i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size())
            out.append(s[++i]);
        else if (s[i] != '"')
            out.append(s[i]);
    }
    return out.trimmed();
}

QString mailboxText(const QByteArray &mailbox)
{
    QByteArray m = mailbox.trimmed();
    if (m.isEmpty())
        return {};
    QByteArray name;
    QByteArray address;
    int lt = -1;
    bool quoted = false;
    for (int i = 0; i < m.size(); ++i) {
        if (m[i] == '\\' && quoted) {
            ++i;
            continue;
        }
        if (m[i] == '"')
            quoted = !quoted;
        else if (m[i] == '<' && !quoted)
            lt = i;
    }
    if (lt >= 0) {
        name = m.left(lt).trimmed();
        int gt = int(m.indexOf('>', lt));
        address = (gt < 0 ? m.mid(lt + 1) : m.mid(lt + 1, gt - lt - 1)).trimmed();
    } else if (const int open = int(m.indexOf('(')); open >= 0) {
        const int close = int(m.lastIndexOf(')'));
        address = m.left(open).trimmed();
        name = m.mid(open + 1, (close > open ? close : m.size()) - open - 1).trimmed();
    } else {
        address = m;
    }
    const QString decodedName = MimeHeader::decode(unquote(name)).trimmed();
    const QString decodedAddress = MimeHeader::decode(address).trimmed();
    if (decodedName.isEmpty())
        return decodedAddress;
    if (decodedAddress.isEmpty())
        return decodedName;
    return decodedName + u" <"_s + decodedAddress + u'>';
}

bool isPlainAscii(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    return !text.contains(QLatin1String("=?"));
}

} // namespace

QByteArray MimeHeader::rawTextToUtf8(const QByteArray &value)
{
    return rawTextToUtf8Impl(value);
}

QString MimeHeader::decode(const QByteArray &rawValue)
{
    return decodeUnfolded(MimeHeader::rawTextToUtf8(unfold(rawValue)));
}

QString MimeHeader::decodeMailboxes(const QByteArray &rawValue)
{
    QStringList parts;
    for (const QByteArray &mailbox : splitMailboxes(MimeHeader::rawTextToUtf8(unfold(rawValue)))) {
        const QString text = mailboxText(mailbox);
        if (!text.isEmpty())
            parts.append(text);
    }
    return parts.join(u", "_s);
}

QByteArray MimeHeader::encode(const QString &text, int firstLineUsed, int maxLine)
{
    const int kMaxLine = maxLine;
    const int kMaxWord = maxLine - 1;
    if (isPlainAscii(text)) {
        // Folded before spaces; a run too long for any line goes as words below.
        const QList<QByteArray> tokens = text.toLatin1().split(' ');
        bool fits = true;
        for (const QByteArray &t : tokens)
            fits = fits && t.size() < kMaxLine;
        if (fits) {
            QByteArray out;
            int used = firstLineUsed;
            for (qsizetype i = 0; i < tokens.size(); ++i) {
                if (i > 0) {
                    if (used + 1 + tokens[i].size() > kMaxLine && used > 1) {
                        out += "\r\n";
                        used = 0;
                    }
                    out += ' ';
                    ++used;
                }
                out += tokens[i];
                used += int(tokens[i].size());
            }
            return out;
        }
    }
    bool jis = false;
    Charset::encodeIso2022Jp(text, &jis);
    const QByteArray prefix = jis ? QByteArrayLiteral("=?ISO-2022-JP?B?") : QByteArrayLiteral("=?UTF-8?B?");
    // Raw bytes per word: the first word shares its line with the field name.
    auto maxBytes = [&](bool first) {
        const int room = first ? std::min(kMaxWord, kMaxLine - firstLineUsed) : kMaxWord;
        return std::max(3, (room - int(prefix.size()) - 2) / 4 * 3);
    };

    auto encoded = [jis](const QString &chunk) {
        bool ok = true;
        return jis ? Charset::encodeIso2022Jp(chunk, &ok) : chunk.toUtf8();
    };
    QList<QByteArray> words;
    QString chunk;
    QByteArray chunkBytes;
    for (int i = 0; i < text.size();) {
        // One code point (a surrogate pair stays together).
        const int len = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QString next = chunk + text.mid(i, len);
        const QByteArray nextBytes = encoded(next);
        if (nextBytes.size() > maxBytes(words.isEmpty()) && !chunk.isEmpty()) {
            words.append(prefix + chunkBytes.toBase64() + "?=");
            chunk = text.mid(i, len);
            chunkBytes = encoded(chunk);
        } else {
            chunk = next;
            chunkBytes = nextBytes;
        }
        i += len;
    }
    if (!chunk.isEmpty())
        words.append(prefix + chunkBytes.toBase64() + "?=");
    return words.join("\r\n ");
}

} // namespace hollin
