// export-mbox: every stored record as an RFC 5322 message in one mboxrd file.
#include "Command.h"

#include "storage/FileIo.h"
#include "storage/MailRecordFile.h"
#include "storage/ServerSettings.h"
#include "storage/TextUtil.h"
#include "transport/Mbox.h"

#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

int runExportMbox(const QStringList &arguments, AppState &state)
{
    QStringList args = arguments;
    const bool held = cli::takeFlag(&args, u"--held"_s);
    if (args.size() != 1)
        return cli::badUsage(u"書き出すファイルを一つ指定してください。"_s);
    MailRecordFile file = held ? MailRecordFile(state.root.heldMailFile(), state.root.heldMailTemp())
                               : MailRecordFile(state.root.receivedMailFile(), state.root.receivedMailTemp());
    Error err;
    const QString ownAddress = held ? ServerSettings::read(state.root.serverSettingsFile()).mailAddress : QString();

    QByteArray mbox;
    int count = 0;
    const bool ok = file.readAll([&](int, const MailRecord &record) {
        const QString address = trimSpaces(record.address);
        const QString sender = held ? ownAddress : address.section(u'<', -1).section(u'>', 0, 0);
        Mbox::append(&mbox, RecordMessage::build(record, held, ownAddress), sender,
                     RecordMessage::parseDate(trimSpaces(record.date)));
        ++count;
        return true;
    }, &err);
    if (!ok)
        return cli::failed(err);

    // All the mail in one file: a new one is the owner's alone, whatever the umask.
    QSaveFile out(args.first());
    const bool existed = QFileInfo::exists(args.first());
    if (!out.open(QIODevice::WriteOnly))
        return cli::failed({u"mbox ファイルを書き込めません: "_s + args.first(), out.errorString()});
    if (!fileio::makePrivateIfNew(out, existed, &err))
        return cli::failed(err);
    if (out.write(mbox) != mbox.size() || !out.commit())
        return cli::failed({u"mbox ファイルを書き込めません: "_s + args.first(), out.errorString()});
    cli::print(u"%1 件のメールを書き出しました"_s.arg(count));
    return cli::Ok;
}

} // namespace

CliCommand exportMboxCommand()
{
    return {u"export-mbox"_s, u"ファイル [--held]"_s, runExportMbox};
}

} // namespace hollin
