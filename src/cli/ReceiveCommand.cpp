// hollin-cli receive: the receive session without windows.
#include "Command.h"

#include "inbox/logic/ReceiveSession.h"
#include "storage/AccountStore.h"
#include "transport/PlainLoginConsent.h"

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// Why the receive had no account: nothing saved, or a password in a keyring
// that cannot be reached from here (cron, ssh: outside the desktop session).
Error missingAccount(const AppState &state)
{
    AccountStore store(state.root.idPassIniFile());
    const AccountStore::Account saved = store.load();
    if (saved.id.isEmpty() || store.keyringProblem().isEmpty())
        return {u"ID またはパスワードが保存されていません（iniIdPass.ini の NAME と、キーリングまたは NAME2）。"_s, {}};
    return {u"パスワードはキーリングに保存されていますが、読めませんでした。キーリングはデスクトップに"
            u"ログインしているあいだ、そのセッションの中からしか使えません（cron や ssh からは使えません）。"
            u"定期的な受信には systemd のユーザータイマー hollin-receive.timer を使うか、"
            u"hollin-cli password-to-file でパスワードをファイルに置いてください（hollin-cli(1)）。"_s,
            store.keyringProblem()};
}

int receive(const QStringList &arguments, AppState &state)
{
    QStringList args = arguments;
    const bool keep = cli::takeFlag(&args, u"--keep"_s);
    const bool quiet = cli::takeFlag(&args, u"--quiet"_s);
    const bool allowPlain = cli::takeFlag(&args, u"--allow-plain"_s);
    const bool retrySkipped = cli::takeFlag(&args, u"--retry-skipped"_s);
    if (!args.isEmpty())
        return cli::badUsage(u"receive に使える引数は --keep、--quiet、--allow-plain、--retry-skipped だけです。"_s);
    Error err;
    if (!state.root.ensureTree(&err) || !cli::loadServerValues(state, &err))
        return cli::failed(err);

    ReceiveSettings settings;
    settings.pop3Server = state.pop3Server;
    settings.apopFlag = state.apopFlag;
    settings.idPassIniFile = state.root.idPassIniFile();
    settings.receivedMailFile = state.root.receivedMailFile();
    settings.receivedMailTemp = state.root.receivedMailTemp();
    settings.uidlListFile = state.root.uidlListFile();
    settings.storedMessageListFile = state.root.storedMessageListFile();
    settings.attachmentFolder = state.root.attachmentFolder();
    settings.keep = KeepMailSettings::read(state.root.iniFile());
    settings.keep.keepOnServer = settings.keep.keepOnServer || keep;
    settings.retrySkipped = retrySkipped;
    // A password in clear: only with --allow-plain, or when the user said
    // yes to it for this server in the program.
    settings.confirmPlainLogin = [allowPlain, apop = state.apopFlag != 0,
                                  ini = state.root.iniFile()](const QString &server) {
        if (allowPlain || PlainLoginConsent(ini).isGiven(server, apop))
            return true;
        cli::printError(PlainLoginConsent::warning(server, apop)
                        + u"\nそれでも受信するには --allow-plain を付けてください。"_s);
        return false;
    };

    ReceiveSession session(settings);
    // Progress is for someone watching; under cron only the summary is mailed.
    if (cli::stderrIsTerminal()) {
        QObject::connect(&session, &ReceiveSession::progress, [](int n, int count) {
            cli::printError(u"受信中 %1 / %2"_s.arg(n).arg(count));
        });
    }
    QObject::connect(&session, &ReceiveSession::notice, [](const QString &text) { cli::printError(text); });
    const ReceiveResult r = session.run();

    using Outcome = ReceiveResult::Outcome;
    switch (r.outcome) {
    case Outcome::NoServer:
        return cli::failed({u"POP3 サーバーが設定されていません（hlmail.ini の POP3=）。"_s, {}});
    case Outcome::NeedAccount:
        return cli::failed(missingAccount(state));
    case Outcome::NoConnection:
    case Outcome::AuthFailed:
    case Outcome::PlainRefused:
        return cli::failed(r.error);
    case Outcome::Completed:
    case Outcome::Stopped:
    case Outcome::Cancelled:
        break;
    }
    // Under cron every line on stdout is a mail to the user: --quiet keeps
    // "nothing arrived" to itself.
    if (r.stored > 0 || !quiet)
        cli::print(u"%1 件の新着メールを受信しました"_s.arg(r.stored));
    if (r.outcome != Outcome::Completed)
        return cli::failed({u"受信を中断しました（%1 件中 %2 件を保存しました）。"_s.arg(r.count).arg(r.stored),
                            r.error.text()});
    return cli::Ok;
}

} // namespace

CliCommand receiveCommand()
{
    return {u"receive"_s,
            u"[--keep]（受信したメールをサーバーに残す） [--quiet]（新着がなければ何も表示しない） "
            u"[--allow-plain]（暗号化できないサーバーからも受信する） "
            u"[--retry-skipped]（何度も受け取れずに飛ばしているメールも、もう一度受け取ってみる）"_s,
            &receive};
}

} // namespace hollin
