// hollin-cli check: the connection test of the server dialog, without windows.
#include "Command.h"

#include "transport/ConnectionCheck.h"
#include "transport/PlainLoginConsent.h"

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

int check(const QStringList &arguments, AppState &state)
{
    QStringList args = arguments;
    bool pop3 = cli::takeFlag(&args, u"--pop3"_s);
    bool smtp = cli::takeFlag(&args, u"--smtp"_s);
    const bool allowPlain = cli::takeFlag(&args, u"--allow-plain"_s);
    if (!args.isEmpty())
        return cli::badUsage(u"check に使える引数は --pop3、--smtp、--allow-plain だけです。"_s);
    if (!pop3 && !smtp)
        pop3 = smtp = true;
    Error err;
    if (!cli::loadServerValues(state, &err))
        return cli::failed(err);

    ConnectionCheck c([](const QString &line) { cli::print(line); });
    // The rule of receive: unencrypted only with --allow-plain or the consent
    // the user gave for this server in the program.
    c.setPlainLoginConsent([allowPlain, ini = state.root.iniFile()](const QString &server, bool apop) {
        if (allowPlain || PlainLoginConsent(ini).isGiven(server, apop))
            return true;
        cli::printError(u"それでもログインを確かめるには --allow-plain を付けてください。"_s);
        return false;
    });
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
    return {u"check"_s, u"[--pop3] [--smtp]（サーバーへの接続を確かめる。受信・送信はしない） "
                          u"[--allow-plain]（暗号化できないサーバーにもログインする）"_s, &check};
}

} // namespace hollin
