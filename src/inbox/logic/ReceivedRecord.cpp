#include "ReceivedRecord.h"

#include "storage/Cp932.h"
#include "storage/FileIo.h"
#include "storage/SavedFullText.h"
#include "storage/TextUtil.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

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
                           Error *err, QString *fullTextFile)
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
        const QString fileName = saveFullBody(whole, attachmentFolder, err);
        if (fileName.isEmpty())
            return false;
        if (fullTextFile)
            *fullTextFile = fileName;
        const QString ending = tail + u"\r\n"_s + fullTextLine(fileName);
        const int room = MailRecordFile::BodyWidth - int(Cp932::encode(ending).size());
        const QString head = trimSpaces(Cp932::decode(Cp932::encodeField(Cp932::storable(text), room)));
        record->body = head + ending;
    }
    return true;
}

QString ReceivedRecord::saveFullBody(const QString &body, const QString &attachmentFolder, Error *err)
{
    const QDir folder(attachmentFolder);
    const QString stem = u"本文_"_s + QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s);
    const QByteArray bytes = body.toUtf8();
    for (int i = 1; i < 1000; ++i) {
        const QString name = i == 1 ? stem + u".txt"_s : u"%1_%2.txt"_s.arg(stem).arg(i);
        QFile file(folder.filePath(name));
        if (file.exists())
            continue;
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (file.exists())
                continue;
            fail(err, u"長い本文を添付フォルダに保存できませんでした。"_s, file.fileName() + u": "_s + file.errorString());
            return {};
        }
        if (!fileio::makePrivateIfNew(file, false, err)) {
            file.close();
            file.remove();
            return {};
        }
        if (file.write(bytes) != bytes.size() || !file.flush()) {
            fail(err, u"長い本文を添付フォルダに保存できませんでした。"_s, file.fileName() + u": "_s + file.errorString());
            file.close();
            file.remove();
            return {};
        }
        return name;
    }
    fail(err, u"長い本文を添付フォルダに保存できませんでした。"_s, stem);
    return {};
}

} // namespace hollin
