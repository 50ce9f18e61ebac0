#include "reply/ReplyText.h"

#include "inbox/logic/ReceivedRecord.h"
#include "storage/TextUtil.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// The subject without the "Re:" marks already in front of it.
QString withoutReplyMarks(const QString &subject)
{
    static const QRegularExpression marks(u"^(\\s*re\\s*[:：])+\\s*"_s, QRegularExpression::CaseInsensitiveOption);
    return QString(subject).remove(marks);
}

// The body without the line the program added where a mail could not be kept
// whole: the note is the program's, not the correspondent's.
QString withoutFullTextNote(const QString &body)
{
    const QChar marker(0xFFFF);
    const QStringList noteParts = ReceivedRecord::fullTextLine(QString(marker)).split(marker);
    QStringList kept;
    bool removed = false;
    for (const QString &line : body.split(u'\n')) {
        const QString bare = trimSpaces(QString(line).remove(u'\r'));
        if (bare.startsWith(noteParts.first()) && bare.endsWith(noteParts.last()))
            removed = true;
        else
            kept << line;
    }
    QString text = kept.join(u'\n');
    // The note ended the stored body: no line break is left behind it.
    while (removed && (text.endsWith(u'\n') || text.endsWith(u'\r')))
        text.chop(1);
    return text;
}

} // namespace

ReplyText ReplyText::prefill(const QString &subject, const QString &sender, const QString &body)
{
    return ReplyText{trimSpaces(sender), u"Re:  "_s + withoutReplyMarks(trimSpaces(subject)),
                     trimSpaces(withoutFullTextNote(body))};
}

} // namespace hollin
