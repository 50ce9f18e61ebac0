// password-to-file: the saved password out of the keyring into the account
// file, for receives that run where the keyring cannot be reached (cron, ssh).
#include "Command.h"

#include "storage/AccountStore.h"

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

int passwordToFile(const QStringList &args, AppState &state)
{
    if (!args.isEmpty())
        return cli::badUsage(u"password-to-file に引数はありません。"_s);
    Error err;
    AccountStore store(state.root.idPassIniFile()); // each file write takes the data folder's lock
    if (!store.movePasswordToFile(&err))
        return cli::failed(err);
    cli::print(u"パスワードをファイル「%1」（自分だけが読める設定）に保存しました。"_s.arg(state.root.idPassIniFile()));
    return cli::Ok;
}

} // namespace

CliCommand passwordToFileCommand()
{
    return {u"password-to-file"_s,
            u"（キーリングのパスワードをファイルに移す。cron や ssh から受信するため）"_s, &passwordToFile};
}

} // namespace hollin
