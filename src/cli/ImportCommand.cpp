// import: messages from mbox or .eml files appended to the received mail,
// decoded, extracted and stored as a received mail would be.
#include "Command.h"

#include "inbox/logic/ReceivedRecord.h"
#include "storage/DataFolderLock.h"
#include "storage/MailRecordFile.h"
#include "transport/AttachmentExtractor.h"
#include "transport/MailDecoder.h"
#include "transport/Mbox.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

int runImport(const QStringList &args, AppState &state)
{
    if (args.isEmpty())
        return cli::badUsage(u"取り込む mbox または .eml ファイルを指定してください。"_s);

    // Read every file first, so that a missing one changes nothing.
    QList<QByteArray> messages;
    for (const QString &path : args) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return cli::failed({u"ファイルを読めません: "_s + path, file.errorString()});
        const QByteArray data = file.readAll();
        if (Mbox::looksLikeMbox(data))
            messages += Mbox::split(data);
        else
            messages.append(data);
    }

    // The whole import is one write: no other writer gets between its records.
    DataFolderLock lock(state.root.dataFolder(), u"取り込み"_s);
    MailRecordFile received(state.root.receivedMailFile(), state.root.receivedMailTemp());
    Error err;
    if (!lock.take(&err) || !received.recoverInterruptedCompaction(&err))
        return cli::failed(err);
    const int count = received.count(&err);
    if (count < 0)
        return cli::failed(err);
    if (count + messages.size() > MailRecordFile::MaxRecords)
        return cli::failed({u"受信メールの保存件数が上限（%1 件）を超えるため、取り込めません。"_s
                                .arg(MailRecordFile::MaxRecords),
                            u"%1 件 + %2 件"_s.arg(count).arg(messages.size())});

    const QString attachmentFolder = state.root.attachmentFolder();
    int stored = 0;
    for (const QByteArray &raw : std::as_const(messages)) {
        const DecodedMail mail = MailDecoder::decode(raw);
        QStringList written;
        Error extractError;
        const int extracted = AttachmentExtractor::extract(raw, attachmentFolder, &written, &extractError);
        if (extracted < 0)
            cli::printError(extractError.text());
        const QString whole = mail.limitHit ? AttachmentExtractor::saveWholeMessage(raw, attachmentFolder, &err)
                                            : QString();
        MailRecord record;
        if ((mail.limitHit && whole.isEmpty())
            || !ReceivedRecord::build({mail.subject, mail.date, mail.from, mail.body, extracted, whole},
                                      attachmentFolder, &record, &err)
            || received.append(record, &err) < 0) {
            cli::printError(u"%1 件を取り込んだところで止まりました。"_s.arg(stored));
            return cli::failed(err);
        }
        ++stored;
    }
    cli::print(u"%1 件のメールを取り込みました"_s.arg(stored));
    return cli::Ok;
}

} // namespace

CliCommand importCommand()
{
    return {u"import"_s, u"ファイル…（mbox または .eml）"_s, runImport};
}

} // namespace hollin
