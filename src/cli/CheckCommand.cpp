// hollin-cli check: the connection test of the server dialog, without windows.
#include "Command.h"

#include "transport/ConnectionCheck.h"

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

int check(const QStringList &arguments, AppState &state)
{
    QStringList args = arguments;
    bool pop3 = cli::takeFlag(&args, u"--pop3"_s);
    bool smtp = cli::takeFlag(&args, u"--smtp"_s);
    if (!args.isEmpty())
        return cli::badUsage(u"check に使える引数は --pop3 と --smtp だけです。"_s);
    if (!pop3 && !smtp)
        pop3 = smtp = true;
    Error err;
    if (!cli::loadServerValues(state, &err))
        return cli::failed(err);

    ConnectionCheck c([](const QString &line) { cli::print(line); });
    bool ok = true;
    if (pop3)
        ok = c.checkPop3(state.pop3Server, state.accountId, state.accountPassword, state.apopFlag != 0, &err) && ok;
    if (smtp)
        ok = c.checkSmtp(state.smtpServer, state.accountId, state.accountPassword, &err) && ok;
    return ok ? cli::Ok : cli::Failed; // each failure was reported as its step's line
}

} // namespace

CliCommand checkCommand()
{
    return {u"check"_s, u"[--pop3] [--smtp]（サーバーへの接続を確かめる。受信・送信はしない）"_s, &check};
}

} // namespace hollin
