// decode: what the mail library makes of one message file, as one JSON object.
// Its attachments go to --attach-dir, or else to a scratch folder removed at
// the end: decode never writes into the data root, which it does not lock.
#include "Command.h"

#include "transport/AttachmentExtractor.h"
#include "transport/MailDecoder.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

int runDecode(const QStringList &arguments, AppState &)
{
    QStringList args = arguments;
    QTemporaryDir scratch;
    QString folder;
    if (const qsizetype at = args.indexOf(u"--attach-dir"_s); at >= 0) {
        if (at + 1 >= args.size())
            return cli::badUsage(u"--attach-dir の後にフォルダを指定してください。"_s);
        folder = args[at + 1];
        args.remove(at, 2);
    }
    if (args.size() != 1)
        return cli::badUsage(u"メールのファイルを一つ指定してください。"_s);
    if (folder.isEmpty()) {
        if (!scratch.isValid())
            return cli::failed({u"作業用のフォルダを作れません"_s, scratch.errorString()});
        folder = scratch.path();
    }

    QFile file(args.first());
    if (!file.open(QIODevice::ReadOnly))
        return cli::failed({u"メールのファイルを読めません"_s, file.fileName() + u": "_s + file.errorString()});
    const QByteArray raw = file.readAll();

    const DecodedMail mail = MailDecoder::decode(raw);
    QStringList written;
    Error err;
    const int result = AttachmentExtractor::extract(raw, folder, &written, &err);
    if (err.isSet())
        cli::printError(err.text());

    const QJsonObject out{
        {u"subject"_s, mail.subject},
        {u"from"_s, mail.from},
        {u"date"_s, mail.date},
        {u"body"_s, mail.body},
        {u"result"_s, result},
        {u"attachments"_s, QJsonArray::fromStringList(written)},
    };
    cli::print(QString::fromUtf8(QJsonDocument(out).toJson(QJsonDocument::Compact)));
    return cli::Ok;
}

} // namespace

CliCommand decodeCommand()
{
    return {u"decode"_s, u"ファイル [--attach-dir フォルダ]"_s, runDecode};
}

} // namespace hollin
