#include "InboxText.h"

#include "storage/Cp932.h"
#include "storage/FileIo.h"
#include "storage/TextUtil.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace hollin {

QString headerBlock(const QString &subject, const QString &from, const QString &date,
                    const QString &body)
{
    return u"Subject:  "_s + subject + u"\r\nFrom:  "_s + from + u"\r\nDate:  "_s + date
           + u"\r\nBody:  "_s + body;
}

QString QuickSave::fileNameFor(const QString &subject)
{
    static const QString forbidden = u"\\/:*?\"<>|"_s;
    QString name;
    name.reserve(subject.size());
    for (const QChar c : subject)
        name += (c.unicode() < 0x20 || c.unicode() == 0x7F || forbidden.contains(c)) ? u'_' : c;
    // Ordinary spaces and dots at either end (".." and hidden names included).
    qsizetype begin = 0, end = name.size();
    while (begin < end && (name[begin] == u' ' || name[begin] == u'.'))
        ++begin;
    while (end > begin && (name[end - 1] == u' ' || name[end - 1] == u'.'))
        --end;
    name = name.mid(begin, end - begin);
    // Keep the name well inside the 255 bytes a file name may have.
    while (name.toUtf8().size() > 200)
        name.chop(1);
    if (name.isEmpty())
        name = u"無題"_s;
    return name + u".txt"_s;
}

bool QuickSave::write(const QString &folder, const QString &fileName, const QString &subject,
                      const QString &from, const QString &date, const QString &body, Error *err)
{
    if (!fileio::makeFolders(folder, err))
        return false;
    QSaveFile file(QDir(folder).filePath(fileName));
    const bool existed = QFileInfo::exists(file.fileName());
    // Every line ends in CR LF, the body's own lines too (the window gives them as LF).
    QString text = headerBlock(subject, from, date, body) + u"\n"_s;
    text.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n').replace(u"\n"_s, u"\r\n"_s);
    const QByteArray bytes = Cp932::encode(text);
    if (file.open(QIODevice::WriteOnly) && !fileio::makePrivateIfNew(file, existed, err))
        return false;
    if (!file.isOpen() || file.write(bytes) != bytes.size() || !file.commit())
        return fail(err, u"テキストファイルを保存できませんでした。"_s,
                    file.fileName() + u": "_s + file.errorString());
    return true;
}

InboxLayout InboxLayout::compute(int width, int height)
{
    InboxLayout l;
    const int listHeight = height / 4;
    l.list = QRect(0, 0, width * 99 / 100, listHeight);
    const int boxTop = listHeight + 940;
    const int subjectLeft = BodyLeft - 15;
    const int boxHeight = 300;
    l.subject = QRect(subjectLeft, boxTop, width / 2, boxHeight);
    l.from = QRect(l.subject.left() + l.subject.width(), boxTop, width * 3 / 10, boxHeight);
    l.date = QRect(l.from.left() + l.from.width(), boxTop, width / 5, boxHeight);
    l.body = QRect(BodyLeft, listHeight + 1300, width * 99 / 100, (height - listHeight) * 62 / 100);
    l.picture = QRect(0, listHeight + 60, width, 840);
    l.copyButton = QPoint(1880, 80);
    l.copyBox = QPoint(1880 + 3380, 80);
    return l;
}

} // namespace hollin
