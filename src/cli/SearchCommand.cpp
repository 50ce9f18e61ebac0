// search: the rows of the received-mail file (or with --held the held-mail
// file) that hold a word, printed as list prints them, as they are found.
#include "Command.h"

#include "storage/MailSearch.h"

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

int runSearch(const QStringList &arguments, AppState &state)
{
    QStringList args = arguments;
    const bool held = cli::takeFlag(&args, u"--held"_s);
    MailRecordFile file = held ? MailRecordFile(state.root.heldMailFile(), state.root.heldMailTemp())
                               : MailRecordFile(state.root.receivedMailFile(), state.root.receivedMailTemp());
    if (args.size() != 1)
        return cli::badUsage(u"検索する語を一つ指定してください。"_s);
    const MailSearch search(args.first());
    if (search.isBlank())
        return cli::badUsage(u"検索する語が空白です。"_s);
    Error err;
    int found = 0;
    const bool ok = search.run(file.path(), [&found](int n, const MailRecord &r) {
        cli::print(QString::number(n) + u'\t' + cli::listField(r.subject) + u'\t' + cli::listField(r.address)
                   + u'\t' + cli::listField(r.date));
        ++found;
    }, nullptr, &err);
    if (!ok)
        return cli::failed(err);
    return found > 0 ? cli::Ok : cli::Failed; // as grep: 1 when nothing matched

}

} // namespace

CliCommand searchCommand() { return {u"search"_s, u"語 [--held]"_s, runSearch}; }

} // namespace hollin
