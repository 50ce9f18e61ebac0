#include "ProfileFile.h"

#include "Cp932.h"
#include "DataFolderLock.h"
#include "FileIo.h"

#include <QFileInfo>
#include <QList>

#include <optional>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

constexpr int MaxTextLength = 255;

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// One line of the file: its raw bytes (kept as they were when not rewritten)
// and what it means.
struct Line {
    QByteArray raw; // without the line break
    enum Kind { Other, Section, Key } kind = Other;
    QString name;   // section name or key
    QString value;
};

QList<Line> parse(const QByteArray &bytes)
{
    QList<Line> lines;
    if (bytes.isEmpty())
        return lines;
    for (QByteArray raw : bytes.split('\n')) {
        if (raw.endsWith('\r'))
            raw.chop(1);
        Line line;
        line.raw = raw;
        const QString text = trimBlanks(Cp932::decode(raw));
        if (text.startsWith(u'[')) {
            const qsizetype close = text.indexOf(u']');
            line.kind = Line::Section;
            line.name = trimBlanks(text.mid(1, close < 0 ? -1 : close - 1));
        } else if (const qsizetype eq = text.indexOf(u'='); eq > 0) {
            line.kind = Line::Key;
            line.name = trimBlanks(text.left(eq));
            line.value = trimBlanks(text.mid(eq + 1));
        }
        lines.append(line);
    }
    // A file ending in a line break has no line after it.
    if (lines.last().raw.isEmpty() && bytes.endsWith('\n'))
        lines.removeLast();
    return lines;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Index of the key line in section EXEINI, if any.
std::optional<qsizetype> findKey(const QList<Line> &lines, const QString &key)
{
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Line &line = lines.at(i);
        if (line.kind == Line::Section)
            inSection = sameName(line.name, QString::fromUtf16(ProfileFile::Section));
        else if (inSection && line.kind == Line::Key && sameName(line.name, trimBlanks(key)))
            return i;
    }
    return std::nullopt;
}

QList<Line> load(const QString &path)
{
    QByteArray bytes;
    if (!fileio::readWhole(path, &bytes, nullptr, nullptr))
        return {};
    return parse(bytes);
}

} // namespace

ProfileFile::ProfileFile(const QString &path, bool ownerOnly) : m_path(path), m_ownerOnly(ownerOnly)
{
}

int ProfileFile::readInt(const QString &key, int defaultValue) const
{
    const QList<Line> lines = load(m_path);
    const auto at = findKey(lines, key);
    if (!at || lines.at(*at).value.isEmpty())
        return defaultValue;
    // The leading decimal number, with its sign; 0 when the value starts otherwise.
    const QString &value = lines.at(*at).value;
    qsizetype i = 0;
    bool negative = false;
    if (value.at(0) == u'-' || value.at(0) == u'+') {
        negative = value.at(0) == u'-';
        ++i;
    }
    quint32 number = 0;
    for (; i < value.size() && value.at(i) >= u'0' && value.at(i) <= u'9'; ++i)
        number = number * 10 + quint32(value.at(i).unicode() - u'0');
    return negative ? -int(number) : int(number);
}

QString ProfileFile::readText(const QString &key, const QString &defaultValue) const
{
    const QList<Line> lines = load(m_path);
    const auto at = findKey(lines, key);
    return (at ? lines.at(*at).value : defaultValue).left(MaxTextLength);
}

bool ProfileFile::hasKey(const QString &key) const
{
    return findKey(load(m_path), key).has_value();
}

bool ProfileFile::writeText(const QString &key, const QString &value, Error *err)
{
    // Read, change and write back as one step for other writers.
    const QFileInfo file(m_path);
    DataFolderLock lock(file.absolutePath(), u"%1 への書き込み"_s.arg(file.fileName()));
    QByteArray bytes;
    if (!lock.take(err) || !fileio::readWhole(m_path, &bytes, nullptr, err))
        return false;
    QList<Line> lines = parse(bytes);

    // A line break inside the value would start a line of its own.
    QString flat = value;
    flat.replace(u'\r', u' ').replace(u'\n', u' ');
    const QString name = trimBlanks(key);

    if (const auto at = findKey(lines, name)) {
        Line &line = lines[*at];
        line.raw = Cp932::encode(line.name + u'=' + flat);
    } else {
        // After the last key of the first EXEINI section, or in a new section at the end.
        std::optional<qsizetype> insertAt;
        bool inSection = false;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const Line &line = lines.at(i);
            if (line.kind == Line::Section) {
                if (inSection)
                    break;
                inSection = sameName(line.name, QString::fromUtf16(Section));
                if (inSection)
                    insertAt = i + 1;
            } else if (inSection && line.kind != Line::Other) {
                insertAt = i + 1;
            }
        }
        Line line;
        line.raw = Cp932::encode(name + u'=' + flat);
        if (insertAt) {
            lines.insert(*insertAt, line);
        } else {
            Line header;
            header.raw = Cp932::encode(u'[' + QString::fromUtf16(Section) + u']');
            lines.append(header);
            lines.append(line);
        }
    }

    QByteArray out;
    for (const Line &line : std::as_const(lines))
        out += line.raw + "\r\n";
    return fileio::writeWholeAtomically(m_path, out, m_ownerOnly ? 0600 : -1, err);
}

bool ProfileFile::writeInt(const QString &key, int value, Error *err)
{
    return writeText(key, QString::number(value), err);
}

} // namespace hollin
