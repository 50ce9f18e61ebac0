// hollin-cli send: the compose window's send without windows.
#include "Command.h"

#include "compose/logic/SendJob.h"
#include "storage/Cp932.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// The value after option in args (removed with it); false when option is
// present without a value.
bool takeValue(QStringList *args, const QString &option, QString *value, bool *present)
{
    const qsizetype at = args->indexOf(option);
    *present = at >= 0;
    if (!*present)
        return true;
    if (at + 1 >= args->size())
        return false;
    *value = args->at(at + 1);
    args->remove(at, 2);
    return true;
}

// A body file is UTF-8 text; a file that is not valid UTF-8 is read as Shift-JIS.
// "-" is the standard input (a body piped in from another program).
bool readBodyFile(const QString &path, QString *body, Error *err)
{
    QFile file(path);
    const bool opened = path == u"-" ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly);
    if (!opened)
        return fail(err, u"本文のファイル「%1」を読めません。"_s.arg(path), file.errorString());
    const QByteArray bytes = file.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    *body = utf8.hasError() ? Cp932::decode(bytes) : text;
    return true;
}

// After a whole-address-book send that went wrong: who has the mail and who not.
void printRecipients(const QList<SendRecipient> &delivered, const QList<SendRecipient> &undelivered)
{
    for (const auto &[title, list] : {std::pair{u"届いた宛先"_s, delivered}, std::pair{u"届いていない宛先"_s, undelivered}}) {
        cli::printError(u"%1（%2 件）:"_s.arg(title).arg(list.size()));
        for (const SendRecipient &r : list)
            cli::printError(u"  "_s + r.address);
    }
}

int send(const QStringList &arguments, AppState &state)
{
    QStringList args = arguments;
    const bool all = cli::takeFlag(&args, u"--all"_s);
    QString to, cc, bcc, subject, body, bodyFile;
    bool hasTo = false, hasCc = false, hasBcc = false, hasSubject = false, hasBody = false, hasBodyFile = false;
    if (!takeValue(&args, u"--to"_s, &to, &hasTo) || !takeValue(&args, u"--cc"_s, &cc, &hasCc)
        || !takeValue(&args, u"--bcc"_s, &bcc, &hasBcc) || !takeValue(&args, u"--subject"_s, &subject, &hasSubject)
        || !takeValue(&args, u"--body"_s, &body, &hasBody)
        || !takeValue(&args, u"--body-file"_s, &bodyFile, &hasBodyFile))
        return cli::badUsage(u"オプションの後に値を指定してください。"_s);
    QStringList attachments;
    for (bool present = true; present;) {
        QString path;
        if (!takeValue(&args, u"--attach"_s, &path, &present))
            return cli::badUsage(u"--attach の後にファイルを指定してください。"_s);
        if (present)
            attachments.append(QFileInfo(path).absoluteFilePath());
    }
    if (!args.isEmpty())
        return cli::badUsage(u"「%1」は使えない引数です。"_s.arg(args.first()));
    if (all == hasTo)
        return cli::badUsage(u"--to と --all のどちらか一方を指定してください。"_s);
    if (all && (hasCc || hasBcc)) // one copy per address-book entry would reach them
        return cli::badUsage(u"--cc と --bcc は --to と一緒に指定してください。"_s);
    if (!hasSubject)
        return cli::badUsage(u"--subject で件名を指定してください。"_s);
    if (hasBody == hasBodyFile)
        return cli::badUsage(u"--body と --body-file のどちらか一方を指定してください。"_s);
    for (const QString &path : std::as_const(attachments)) {
        // The library takes the paths joined by commas.
        if (path.contains(u','))
            return cli::badUsage(u"「,」を含むパスは添付できません：%1"_s.arg(path));
    }

    Error err;
    if (hasBodyFile && !readBodyFile(bodyFile, &body, &err))
        return cli::failed(err);
    if (!cli::loadServerValues(state, &err))
        return cli::failed(err);

    SendRequest request = SendRequest::fromState(state);
    if (all) {
        if (!SendRequest::addressBook(state.root, &request.recipients, &err))
            return cli::failed(err);
    } else {
        request.recipients = SendRequest::single(to);
    }
    request.subject = subject;
    request.body = body;
    request.attachments = attachments.join(u',');
    request.cc = cc;
    request.bcc = bcc;

    const SendResult result = SendJob::run(request, [all](int pass, int passes, const SendRecipient &r) {
        if (all)
            cli::printError(SendJob::progressText(pass, passes) + u"  "_s + r.address);
    });
    if (result.notKept > 0)
        cli::printError(result.keepErrorText());
    if (!result.succeeded()) {
        if (!result.failures.isEmpty() || !result.refusals.isEmpty())
            cli::printError(SendJob::errorTitle() + u": "_s + result.errorText());
        cli::printError(result.statusText());
        if (all && result.attempted > 0)
            printRecipients(result.delivered(request.recipients), result.undelivered(request.recipients));
        return cli::Failed;
    }
    cli::print(result.statusText());
    return cli::Ok;
}

} // namespace

CliCommand sendCommand()
{
    return {u"send"_s,
            u"(--to 宛先 | --all) [--cc 宛先] [--bcc 宛先] --subject 件名 (--body 本文 | --body-file ファイル) "
            u"[--attach ファイル]…（宛先は「,」「、」「;」で区切って複数可）"_s,
            &send};
}

} // namespace hollin
