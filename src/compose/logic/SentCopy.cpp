#include "SentCopy.h"

#include "storage/SentMailFile.h"
#include "transport/MailDecoder.h"
#include "transport/MessageKey.h"
#include "transport/MimeHeader.h"

#include <QDateTime>

using namespace Qt::StringLiterals;

namespace hollin {

SentCopy SentCopy::decode(const QByteArray &raw, qint64 sentAt)
{
    const DecodedMail mail = MailDecoder::decode(raw);
    SentCopy copy;
    copy.sentAt = sentAt;
    copy.to = MimeHeader::decodeMailboxes(headerValue(raw, "to"));
    copy.cc = MimeHeader::decodeMailboxes(headerValue(raw, "cc"));
    copy.subject = mail.subject;
    copy.date = mail.date;
    copy.body = mail.body;
    return copy;
}

QString SentCopy::sentAtText() const
{
    return QDateTime::fromSecsSinceEpoch(sentAt).toString(u"yyyy/MM/dd HH:mm"_s);
}

bool SentCopies::readAll(const QString &sentFile, QList<SentCopy> *out, Error *err)
{
    out->clear();
    const SentMailFile file(sentFile);
    QList<SentMailFile::Entry> entries;
    if (!file.list(&entries, err))
        return false;
    for (const SentMailFile::Entry &entry : std::as_const(entries)) {
        QByteArray raw;
        if (!file.read(entry, &raw, err))
            return false;
        out->append(SentCopy::decode(raw, entry.sentAt));
    }
    return true;
}

bool SentCopies::read(const QString &sentFile, int n, SentCopy *out, Error *err)
{
    const SentMailFile file(sentFile);
    QList<SentMailFile::Entry> entries;
    if (!file.list(&entries, err))
        return false;
    if (n < 1 || n > entries.size())
        return fail(err, u"送信済みメールの %1 件目はありません（%2 件あります）。"_s.arg(n).arg(entries.size()));
    QByteArray raw;
    if (!file.read(entries.at(n - 1), &raw, err))
        return false;
    *out = SentCopy::decode(raw, entries.at(n - 1).sentAt);
    return true;
}

} // namespace hollin
