#include "ReceivedRecord.h"

#include "storage/Cp932.h"
#include "storage/FileIo.h"
#include "storage/SavedFullText.h"
#include "storage/TextUtil.h"
#include "transport/FolderHandle.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace hollin {

QString ReceivedRecord::attachmentLine()
{
    return u"♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪"_s;
}

QString ReceivedRecord::wholeMessageLine(const QString &fileName)
{
    return u"※このメールは入れ子が深すぎて一部を取り出せなかったため、メール全体を添付フォルダの「%1」に保存しました。"_s
        .arg(fileName);
}

QString ReceivedRecord::fullTextLine(const QString &fileName)
{
    return SavedFullText::note(fileName);
}

bool ReceivedRecord::build(const ReceivedMail &mail, const QString &attachmentFolder, MailRecord *record,
                           Error *err, FullText *fullText)
{
    // A character CP932 lacks becomes 〓 in every field; when the sender's
    // text lost one, or the body does not fit, the whole mail is kept as text.
    bool subjectLost = false, dateLost = false, fromLost = false, bodyLost = false;
    const QString subject = trimSpaces(cutAtNul(mail.subject));
    const QString date = trimSpaces(cutAtNul(mail.date));
    const QString from = trimSpaces(cutAtNul(mail.from));
    record->subject = Cp932::storable(subject, &subjectLost);
    record->date = Cp932::storable(date, &dateLost);
    record->address = Cp932::storable(from, &fromLost);
    // A NUL inside the body is no end of it: the text after it is kept.
    const QString text = trimSpaces(QString(mail.body).replace(QChar(0), QChar(0xFFFD)));
    QString tail = mail.extracted == 1 ? u"\r\n"_s + attachmentLine() : QString();
    if (!mail.wholeMessageFile.isEmpty())
        tail += u"\r\n"_s + wholeMessageLine(mail.wholeMessageFile);
    const QString body = trimSpaces(text + tail);
    bool unencodable = false;
    qsizetype bodySize = Cp932::encodedSize(body, &unencodable);
    record->body = body;
    if (unencodable) {
        record->body = Cp932::storable(body, &bodyLost);
        bodySize = Cp932::encodedSize(record->body);
    }
    const bool cut = bodySize > MailRecordFile::BodyWidth;
    if (subjectLost || dateLost || fromLost || bodyLost || cut) {
        // Keep the whole text beside the attachments and store as much as
        // fits, ending with where the rest is.
        const QString whole = u"Subject: "_s + subject + u"\r\nFrom: "_s + from + u"\r\nDate: "_s + date
            + u"\r\n\r\n"_s + body;
        FullText saved;
        if (!saveFullBody(whole, attachmentFolder, fullText != nullptr, &saved, err))
            return false;
        const QString fileName = saved.name;
        if (fullText)
            *fullText = std::move(saved);
        const QString ending = tail + u"\r\n"_s + fullTextLine(fileName);
        const int room = MailRecordFile::BodyWidth - int(Cp932::encode(ending).size());
        const QString head = trimSpaces(Cp932::decode(Cp932::encodeField(Cp932::storable(text), room)));
        record->body = head + ending;
    }
    return true;
}

bool ReceivedRecord::saveFullBody(const QString &body, const QString &attachmentFolder, bool unnamed, FullText *out,
                                  Error *err)
{
    auto failed = [&](const QString &detail) {
        return fail(err, u"長い本文を添付フォルダに保存できませんでした。"_s, detail);
    };
    const FolderHandle folder = FolderHandle::open(attachmentFolder, err);
    if (!folder.isOpen())
        return false;
    const QString stem = u"本文_"_s + QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s);
    const QByteArray bytes = body.toUtf8();
    bool unsupported = false; // by the file system: the file is then named at once
    if (unnamed && !folder.createUnnamed(bytes, &out->unnamed, &unsupported, err) && !unsupported)
        return false;
    for (int i = 1; i < 1000; ++i) {
        const QString name = i == 1 ? stem + u".txt"_s : u"%1_%2.txt"_s.arg(stem).arg(i);
        if (folder.exists(name))
            continue;
        bool taken = false;
        // Written unnamed already: nameFullText() gives it this name.
        if (!out->unnamed.isOpen() && !folder.createFile(name, bytes, &taken, err)) {
            if (taken)
                continue;
            return false;
        }
        struct stat st;
        const QByteArray path = fileio::nativePath(folder.pathOf(name));
        if (out->unnamed.isOpen() ? ::fstat(out->unnamed.get(), &st) != 0 : ::lstat(path.constData(), &st) != 0)
            return failed(folder.pathOf(name) + u": "_s + fileio::errnoText(errno));
        out->name = name;
        out->identity = fileio::identityOf(st);
        return true;
    }
    return failed(stem);
}

bool ReceivedRecord::nameFullText(const QString &attachmentFolder, const FullText &fullText, Error *err)
{
    if (!fullText.unnamed.isOpen())
        return true;
    const FolderHandle folder = FolderHandle::open(attachmentFolder, err);
    bool taken = false;
    if (folder.isOpen() && folder.nameFile(fullText.unnamed.get(), fullText.name, &taken, err))
        return true;
    if (taken)
        fail(err, u"長い本文を添付フォルダに保存できませんでした。"_s, folder.pathOf(fullText.name) + u": exists"_s);
    return false;
}

} // namespace hollin
