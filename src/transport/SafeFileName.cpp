#include "transport/SafeFileName.h"

#include "transport/Charset.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

constexpr int kMaxBytes = 200; // leaves room for " (n)" under NAME_MAX (255 bytes)

// Index of the extension's dot, or -1 (a leading dot starts no extension).
qsizetype extensionDot(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || name.size() - dot > 16)
        return -1;
    return dot;
}

QString cutToBytes(QString text, int maxBytes)
{
    while (text.toUtf8().size() > maxBytes) {
        text.chop(1);
        if (!text.isEmpty() && text.back().isHighSurrogate())
            text.chop(1);
    }
    return text;
}

} // namespace

QString SafeFileName::fallback()
{
    return u"添付ファイル"_s;
}

QString SafeFileName::make(const QString &name)
{
    QString clean;
    clean.reserve(name.size());
    for (QChar c : Charset::composed(name)) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F))
            continue;
        clean += c;
    }
    // A leading path ("/", "C:\", "../") is no part of the name; a separator
    // inside it is ("経費精算_2024/03分.csv") and keeps its meaning in full width.
    static const QRegularExpression leadingPath(u"^(\\s*([A-Za-z]:)?[/\\\\]|\\s*\\.{1,2}[/\\\\])+"_s);
    clean.remove(leadingPath);
    while (clean.endsWith(u'/') || clean.endsWith(u'\\'))
        clean.chop(1);
    clean.replace(u'/', QChar(0xFF0F)).replace(u'\\', QChar(0xFF3C));
    clean = clean.trimmed();
    if (clean.isEmpty() || clean == u"."_s || clean == u".."_s)
        return fallback();
    if (clean.toUtf8().size() > kMaxBytes) {
        const qsizetype dot = extensionDot(clean);
        const QString ext = dot < 0 ? QString() : clean.mid(dot);
        const QString base = dot < 0 ? clean : clean.left(dot);
        clean = cutToBytes(base, kMaxBytes - int(ext.toUtf8().size())) + ext;
    }
    return clean;
}

QString SafeFileName::numbered(const QString &name, int n)
{
    if (n <= 1)
        return name;
    const qsizetype dot = extensionDot(name);
    const QString suffix = u" ("_s + QString::number(n) + u')';
    if (dot < 0)
        return name + suffix;
    return name.left(dot) + suffix + name.mid(dot);
}

} // namespace hollin
