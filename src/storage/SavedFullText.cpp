#include "SavedFullText.h"

#include "TextUtil.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

const QString kNoteStart = u"※このメールをそのまま保存できなかったため、全文を添付フォルダの「"_s;
const QString kNoteEnd = u"」に保存しました。"_s;

// The file the body's last line names, or an empty string when that line is
// no note or names something other than a plain file of the folder.
QString notedFileName(const QString &body)
{
    const QString text = trimSpaces(cutAtNul(trimSpaces(body)));
    const qsizetype lineStart = text.lastIndexOf(u'\n') + 1;
    const QStringView line = QStringView(text).mid(lineStart);
    if (!line.startsWith(kNoteStart) || !line.endsWith(kNoteEnd))
        return {};
    const QString name = line.mid(kNoteStart.size(), line.size() - kNoteStart.size() - kNoteEnd.size()).toString();
    if (name.isEmpty() || name.contains(u'/') || name.contains(u'\\') || name == u".."_s || name == u"."_s)
        return {};
    return name;
}

} // namespace

QString SavedFullText::note(const QString &fileName)
{
    return kNoteStart + fileName + kNoteEnd;
}

QString SavedFullText::bodyToShow(const MailRecord &record, const QString &attachmentFolder)
{
    const QString name = notedFileName(record.body);
    if (name.isEmpty())
        return record.body;
    // A file the user removed or cannot read leaves the record as it is: its
    // note says where the full text was.
    QFile file(attachmentFolder + u'/' + name);
    if (!file.open(QIODevice::ReadOnly))
        return record.body;
    const QString whole = QString::fromUtf8(file.readAll());
    const qsizetype date = whole.indexOf(u"\r\nDate: "_s);
    const qsizetype blank = date < 0 ? -1 : whole.indexOf(u"\r\n\r\n"_s, date + 2);
    if (!whole.startsWith(u"Subject: "_s) || blank < 0)
        return record.body;
    return whole.mid(blank + 4);
}

} // namespace hollin
