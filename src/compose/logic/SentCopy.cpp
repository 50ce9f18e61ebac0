#include "SentCopy.h"

#include "storage/DataFolderLock.h"
#include "storage/SentMailFile.h"
#include "transport/AttachmentExtractor.h"
#include "transport/MailDecoder.h"
#include "transport/MessageKey.h"
#include "transport/MimeHeader.h"

#include <QDateTime>
#include <QDir>

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
        out->last().number = int(out->size());
    }
    return true;
}

bool SentCopies::readRaw(const QString &sentFile, int n, QByteArray *raw, qint64 *sentAt, Error *err)
{
    const SentMailFile file(sentFile);
    QList<SentMailFile::Entry> entries;
    if (!file.list(&entries, err))
        return false;
    if (n < 1 || n > entries.size())
        return fail(err, u"送信済みメールの %1 件目はありません（%2 件あります）。"_s.arg(n).arg(entries.size()));
    *sentAt = entries.at(n - 1).sentAt;
    return file.read(entries.at(n - 1), raw, err);
}

bool SentCopies::read(const QString &sentFile, int n, SentCopy *out, Error *err)
{
    QByteArray raw;
    qint64 sentAt = 0;
    if (!readRaw(sentFile, n, &raw, &sentAt, err))
        return false;
    *out = SentCopy::decode(raw, sentAt);
    out->number = n;
    return true;
}

bool SentCopies::extractAttachments(const QString &sentFile, int n, const QString &dataFolder,
                                    const QString &attachmentFolder, QStringList *paths, Error *err)
{
    paths->clear();
    QByteArray raw;
    qint64 sentAt = 0;
    if (!readRaw(sentFile, n, &raw, &sentAt, err))
        return false;
    DataFolderLock lock(dataFolder, u"再送信するメールの添付ファイルの取り出し"_s);
    if (!lock.take(err))
        return false;
    QStringList written;
    if (AttachmentExtractor::extract(raw, attachmentFolder, &written, err) < 0)
        return false;
    for (const QString &name : std::as_const(written))
        paths->append(QDir(attachmentFolder).filePath(name));
    return true;
}

} // namespace hollin
