// import: messages from mbox or .eml files appended to the received mail,
// decoded, extracted and stored as a received mail would be.
#include "Command.h"

#include "inbox/logic/ReceivedRecord.h"
#include "storage/DataFolderLock.h"
#include "storage/ThreadIndex.h"
#include "storage/FileIo.h"
#include "storage/MailRecordFile.h"
#include "storage/RecordAppender.h"
#include "storage/UidlList.h"
#include "transport/AttachmentExtractor.h"
#include "transport/MailDecoder.h"
#include "transport/MimeTree.h"
#include "transport/MessageKey.h"
#include "transport/Mbox.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// One message of the input, and where it was: for naming it when it cannot be stored.
struct InputMessage {
    QString file;
    int number; // 1-based, within its file
    QByteArray raw;
};

// Removes the files written for a mail that is not stored; a file that
// stays is added to err, which says why the mail was not stored.
void removeFiles(const QString &folder, const QStringList &names, Error *err)
{
    for (const QString &name : names) {
        QFile file(folder + u'/' + name); // a plain join: a name from mail may look like a Qt path
        if (!file.remove())
            err->detail += u"\n"_s + u"書き込んだ添付ファイルを消せませんでした: "_s + file.fileName() + u": "_s
                + file.errorString();
    }
}

// Stores one mail: its attachments, written without names, then noted with
// the mail's key and the names they get, named, and its record (so that an
// import killed and run again recognises the mail, and removes the files of
// one it did not store). When any of it fails, the files written for it are
// removed again and nothing of it is stored. The records reach the disk with
// the appender's flush at the end.
bool store(const QByteArray &raw, const DecodedMail &mail, const QString &attachmentFolder,
           RecordAppender &received, UidlList &keys, ThreadIndex &threads, QStringList *doneFragments, Error *err)
{
    QStringList written;
    std::vector<AttachmentExtractor::HeldFile> held;
    QStringList fragments;
    Error extractError;
    const int extracted = AttachmentExtractor::extractHeld(raw, MimeMessage(raw), attachmentFolder, &written, &held,
                                                           &extractError, &fragments);
    if (extracted == AttachmentExtractor::CannotCreate) {
        *err = extractError; // the extractor has removed what it wrote
        return false;
    }
    if (extracted < 0)
        cli::printError(extractError.text());
    QString whole;
    if (mail.limitHit) {
        whole = AttachmentExtractor::saveWholeMessage(raw, attachmentFolder, err);
        if (whole.isEmpty()) {
            removeFiles(attachmentFolder, written, err);
            return false;
        }
        written.append(whole);
    }
    MailRecord record;
    ReceivedRecord::FullText fullText;
    if (!ReceivedRecord::build({mail.subject, mail.date, mail.from, mail.body, extracted, whole}, attachmentFolder,
                               &record, err, &fullText)) {
        removeFiles(attachmentFolder, written, err);
        return false;
    }
    if (!fullText.name.isEmpty() && !fullText.unnamed.isOpen())
        written.append(fullText.name); // the file system has no unnamed files: named at once
    // The files a record tells of reach the disk before the record does.
    const bool wroteFiles =
        extracted != AttachmentExtractor::NoAttachments || !written.isEmpty() || !fullText.name.isEmpty();
    const QString key = messageKey(raw);
    const QByteArray bytes = MailRecordFile::encode(record);
    const int number = received.nextNumber();
    const QStringList names = AttachmentExtractor::freeNames(attachmentFolder, held, err);
    QList<UidlList::NotedFile> noted;
    for (size_t i = 0; i < held.size() && names.size() == qsizetype(held.size()); ++i)
        noted.append({attachmentFolder + u'/' + names[qsizetype(i)], held[i].identity});
    for (const QString &name : std::as_const(written)) // named at once: the whole message, the full text
        noted.append(UidlList::notedFile(attachmentFolder + u'/' + name));
    if (fullText.unnamed.isOpen())
        noted.append({attachmentFolder + u'/' + fullText.name, fullText.identity});
    if (names.size() != qsizetype(held.size()) || !keys.addPending(key, number, bytes, err, noted)
        || !AttachmentExtractor::nameHeld(attachmentFolder, held, names, err)) {
        keys.dropPending(key);
        removeFiles(attachmentFolder, written, err);
        return false;
    }
    written << names;
    if (!ReceivedRecord::nameFullText(attachmentFolder, fullText, err)) {
        keys.dropPending(key);
        removeFiles(attachmentFolder, written, err);
        return false;
    }
    if (fullText.unnamed.isOpen())
        written << fullText.name;
    // Before the record: a kill between the two cannot leave it unthreaded.
    // Only a reply's threading depends on it: a failure is told, the mail is kept.
    Error threadErr;
    if (!threads.add(ThreadIndex::digest(bytes), headerValue(raw, "message-id"),
                     headerValue(raw, "references"), &threadErr))
        cli::printError(u"Message-ID を保存できませんでした（件名「%1」）: %2"_s.arg(mail.subject.trimmed(), threadErr.text()));
    if ((wroteFiles && !fileio::flushFileSystemOf(attachmentFolder, err)) || !received.append(bytes, err)) {
        keys.dropPending(key);
        removeFiles(attachmentFolder, written, err);
        return false;
    }
    *doneFragments << fragments;
    return true;
}

int runImport(const QStringList &args, AppState &state)
{
    if (args.isEmpty())
        return cli::badUsage(u"取り込む mbox または .eml ファイルを指定してください。"_s);

    // Read every file first, so that a missing one changes nothing.
    QList<InputMessage> messages;
    for (const QString &path : args) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return cli::failed({u"ファイルを読めません: "_s + path, file.errorString()});
        const QByteArray data = file.readAll();
        const QList<QByteArray> parts = Mbox::looksLikeMbox(data) ? Mbox::split(data) : QList<QByteArray>{data};
        for (qsizetype i = 0; i < parts.size(); ++i)
            messages.append({path, int(i + 1), parts.at(i)});
    }

    // The whole import is one write: no other writer gets between its records.
    DataFolderLock lock(state.root.dataFolder(), u"取り込み"_s);
    RecordAppender received(state.root.receivedMailFile(), state.root.receivedMailTemp());
    Error err;
    if (!state.root.ensureTree(&err) || !lock.take(&err) || !received.sync(&err))
        return cli::failed(err);
    const int count = received.count();
    if (count + messages.size() > MailRecordFile::MaxRecords)
        return cli::failed({u"受信メールの保存件数が上限（%1 件）を超えるため、取り込めません。"_s
                                .arg(MailRecordFile::MaxRecords),
                            u"%1 件 + %2 件"_s.arg(count).arg(messages.size())});

    const QString attachmentFolder = state.root.attachmentFolder();
    UidlList keys(state.root.storedMessageListFile(), state.root.receivedMailFile(),
                  QString::fromUtf16(UidlList::StoredMessages));
    if (!keys.load(&err))
        return cli::failed(err);
    AttachmentExtractor::removeStoredSets(attachmentFolder,
                                          [&keys](const QByteArray &raw) { return keys.isKnown(messageKey(raw)); });
    ThreadIndex threads(ThreadIndex::pathIn(state.root.dataFolder()));
    int stored = 0;
    int skipped = 0;
    // The records written reach the disk, then their keys become stored (a
    // kill before this leaves them pending, which the next load settles).
    // A split mail's fragments go only once its record is durable.
    QStringList doneFragments;
    auto finish = [&](Error *why) {
        // What names the records (their keys, their thread lines) is durable before they are.
        if (!keys.flushPending(why) || !threads.flush(why) || !received.flush(why))
            return false;
        Error fragmentsLeft;
        AttachmentExtractor::removeFragments(doneFragments, &fragmentsLeft);
        if (!keys.commit(why))
            return false;
        *why = fragmentsLeft;
        return !fragmentsLeft.isSet();
    };
    for (const InputMessage &message : std::as_const(messages)) {
        if (keys.isKnown(messageKey(message.raw))) { // imported or received before, or twice in the input
            ++skipped;
            continue;
        }
        const DecodedMail mail = MailDecoder::decode(message.raw);
        if (!store(message.raw, mail, attachmentFolder, received, keys, threads, &doneFragments, &err)) {
            cli::printError(u"%1 の %2 通目のメール（件名「%3」）を保存できませんでした。"
                            u"このメールとそれ以降のメールは取り込んでいません。"_s
                                .arg(message.file)
                                .arg(message.number)
                                .arg(mail.subject.trimmed()));
            Error finishErr;
            if (!finish(&finishErr))
                return cli::failed(finishErr);
            cli::printError(u"%1 件を取り込んだところで止まりました。"_s.arg(stored));
            return cli::failed(err);
        }
        ++stored;
    }
    if (!finish(&err))
        return cli::failed(err);
    cli::print(u"%1 件のメールを取り込みました"_s.arg(stored));
    if (skipped > 0)
        cli::print(u"%1 件は保存済みのため取り込みませんでした"_s.arg(skipped));
    return cli::Ok;
}

} // namespace

CliCommand importCommand()
{
    return {u"import"_s, u"ファイル…（mbox または .eml）"_s, runImport};
}

} // namespace hollin
