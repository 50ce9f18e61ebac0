// count, list, show, delete and delete-all on the received-mail file, or with
// --held on the held-mail file; list and show with --sent on the kept copies
// of sent mail.
#include "Command.h"

#include "compose/logic/HeldMailStore.h"
#include "compose/logic/SentCopy.h"
#include "storage/SentMailFile.h"

#include "storage/MailRecordFile.h"
#include "storage/SavedFullText.h"
#include "storage/TextUtil.h"

#include <optional>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// The file the arguments name: the held-mail file with --held, else the received-mail file.
MailRecordFile mailFile(QStringList *args, const AppState &state)
{
    return cli::takeFlag(args, u"--held"_s)
        ? MailRecordFile(state.root.heldMailFile(), state.root.heldMailTemp())
        : MailRecordFile(state.root.receivedMailFile(), state.root.receivedMailTemp());
}

bool isHeld(const QStringList &args)
{
    return args.contains(u"--held"_s);
}

// Refuses leftover arguments; the exit status when there are some.
std::optional<int> refuseArguments(const QStringList &args)
{
    if (!args.isEmpty())
        return cli::badUsage(u"余分な引数があります: %1"_s.arg(args.join(u' ')));
    return std::nullopt;
}

int runCount(const QStringList &arguments, AppState &state)
{
    QStringList args = arguments;
    MailRecordFile file = mailFile(&args, state);
    if (const std::optional<int> status = refuseArguments(args))
        return *status;
    Error err;
    const int count = file.count(&err);
    if (count < 0)
        return cli::failed(err);
    cli::print(QString::number(count));
    return cli::Ok;
}

QString sentFile(const AppState &state)
{
    return SentMailFile::pathIn(state.root.dataFolder());
}

// "N<TAB>宛先<TAB>件名<TAB>送信日時" per kept copy, oldest first.
int listSent(const QStringList &args, const AppState &state)
{
    if (const std::optional<int> status = refuseArguments(args))
        return *status;
    Error err;
    QList<SentCopy> copies;
    if (!SentCopies::readAll(sentFile(state), &copies, &err))
        return cli::failed(err);
    for (qsizetype i = 0; i < copies.size(); ++i)
        cli::print(QString::number(i + 1) + u'\t' + cli::listField(copies[i].to) + u'\t'
                   + cli::listField(copies[i].subject) + u'\t' + copies[i].sentAtText());
    return cli::Ok;
}

int showSent(const QStringList &args, const AppState &state)
{
    if (args.size() != 1)
        return cli::badUsage(u"メールの番号を一つ指定してください。"_s);
    bool ok = false;
    const int n = args.first().toInt(&ok);
    if (!ok)
        return cli::badUsage(u"メールの番号が正しくありません: %1"_s.arg(args.first()));
    Error err;
    SentCopy copy;
    if (!SentCopies::read(sentFile(state), n, &copy, &err))
        return cli::failed(err);
    cli::print(u"件名: "_s + copy.subject);
    cli::print(u"宛先: "_s + copy.to);
    if (!copy.cc.isEmpty())
        cli::print(u"Cc: "_s + copy.cc);
    cli::print(u"日付: "_s + copy.date);
    cli::print(QString());
    cli::print(QString(copy.body).replace(u"\r\n"_s, u"\n"_s));
    return cli::Ok;
}

int runList(const QStringList &arguments, AppState &state)
{
    QStringList args = arguments;
    if (cli::takeFlag(&args, u"--sent"_s))
        return listSent(args, state);
    MailRecordFile file = mailFile(&args, state);
    if (const std::optional<int> status = refuseArguments(args))
        return *status;
    Error err;
    QStringList lines;
    const bool ok = file.readAllHeads([&](int n, const MailRecord &r) {
        lines << QString::number(n) + u'\t' + cli::listField(r.subject) + u'\t' + cli::listField(r.address)
                + u'\t' + cli::listField(r.date);
        return true;
    }, &err);
    if (!ok)
        return cli::failed(err);
    for (const QString &line : std::as_const(lines))
        cli::print(line);
    return cli::Ok;
}

// The one record number argument, checked against the file.
bool recordArgument(QStringList *args, const MailRecordFile &file, int *number, Error *err)
{
    if (args->size() != 1)
        return fail(err, u"メールの番号を一つ指定してください。"_s);
    const int count = file.count(err);
    return count >= 0 && cli::parseRecordNumber(args->first(), count, number, err);
}

int runShow(const QStringList &arguments, AppState &state)
{
    QStringList args = arguments;
    if (cli::takeFlag(&args, u"--sent"_s))
        return showSent(args, state);
    const bool held = isHeld(args);
    MailRecordFile file = mailFile(&args, state);
    Error err;
    int n = 0;
    MailRecord r;
    if (!recordArgument(&args, file, &n, &err) || !file.read(n, &r, &err))
        return cli::failed(err);
    cli::print(u"件名: "_s + trimSpaces(r.subject));
    cli::print((held ? u"宛先: "_s : u"差出人: "_s) + trimSpaces(r.address));
    cli::print(u"日付: "_s + trimSpaces(r.date));
    cli::print(QString());
    const QString body = SavedFullText::bodyToShow(r, state.root.attachmentFolder());
    cli::print(trimSpaces(body).replace(u"\r\n"_s, u"\n"_s));
    return cli::Ok;
}

int runDelete(const QStringList &arguments, AppState &state)
{
    QStringList args = arguments;
    const bool held = isHeld(args);
    MailRecordFile file = mailFile(&args, state);
    Error err;
    int n = 0;
    if (!state.root.ensureTree(&err)
        || !cli::recoverKeepingNumbers(file.path(), [&](Error *e) { return file.recoverInterruptedCompaction(e); },
                                    u"メールのファイル"_s, &err)
        || !recordArgument(&args, file, &n, &err))
        return cli::failed(err);
    // A held mail goes with its extras (attachments, copies), and the later
    // ones keep theirs under their new numbers.
    if (held ? !HeldMailStore(state.root).remove(n, &err) : !file.deleteRecord(n, &err))
        return cli::failed(err);
    return cli::Ok;
}

int runDeleteAll(const QStringList &arguments, AppState &state)
{
    QStringList args = arguments;
    MailRecordFile file = mailFile(&args, state);
    if (const std::optional<int> status = refuseArguments(args))
        return *status;
    const bool held = isHeld(arguments);
    Error err;
    if (!state.root.ensureTree(&err) || !(held ? HeldMailStore(state.root).removeAll(&err) : file.deleteAll(&err)))
        return cli::failed(err);
    return cli::Ok;
}

} // namespace

CliCommand countCommand() { return {u"count"_s, u"[--held]"_s, runCount}; }
CliCommand listCommand() { return {u"list"_s, u"[--held | --sent]"_s, runList}; }
CliCommand showCommand() { return {u"show"_s, u"N [--held | --sent]"_s, runShow}; }
CliCommand deleteCommand() { return {u"delete"_s, u"N [--held]"_s, runDelete}; }
CliCommand deleteAllCommand() { return {u"delete-all"_s, u"[--held]"_s, runDeleteAll}; }

} // namespace hollin
