#include "TextUtil.h"

namespace hollin {

QString cutAtNul(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

QString trimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.mid(begin, end - begin);
}

QString trimTrailingSpaces(const QString &text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == u' ')
        --end;
    return text.left(end);
}

namespace {
qsizetype lastSeparator(const QString &path)
{
    return std::max(path.lastIndexOf(u'\\'), path.lastIndexOf(u'/'));
}
} // namespace

QString fileNameOf(const QString &path)
{
    const qsizetype sep = lastSeparator(path);
    return sep < 0 ? path : path.mid(sep + 1);
}

QString folderOf(const QString &path)
{
    const qsizetype sep = lastSeparator(path);
    return sep < 0 ? path : path.left(sep + 1);
}

} // namespace hollin
