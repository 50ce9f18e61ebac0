#include "AccountSettings.h"

#include "storage/AppState.h"
#include "storage/Cp932.h"
#include "storage/DataRoot.h"

using namespace Qt::StringLiterals;

namespace hollin {

Account savedAccount(const DataRoot &root)
{
    return AccountStore(root.idPassIniFile()).load();
}

bool acceptAccount(AppState &state, const QString &id, const QString &password, bool save,
                   Error *err)
{
    AccountStore store(state.root.idPassIniFile());
    if (save && !store.save(id, password, err))
        return false;
    state.accountId = id;
    state.accountPassword = password;
    state.accountUnsaved = !save;
    return save || store.markNotSaved(err);
}

ServerSettings serverSettingsOf(const AppState &state)
{
    ServerSettings s;
    s.smtpServer = state.smtpServer;
    s.pop3Server = state.pop3Server;
    s.mailAddress = state.mailAddress;
    s.apopFlag = state.apopFlag;
    return s;
}

bool acceptServerSettings(AppState &state, const ServerSettings &settings, Error *err)
{
    if (!(Cp932::canEncode(settings.smtpServer) && Cp932::canEncode(settings.pop3Server)
          && Cp932::canEncode(settings.mailAddress)))
        return fail(err, u"サーバー名またはメールアドレスに、保存できない文字（Shift-JIS にない文字）が含まれています。"_s);
    state.smtpServer = settings.smtpServer;
    state.pop3Server = settings.pop3Server;
    state.mailAddress = settings.mailAddress;
    state.apopFlag = settings.apopFlag;
    return settings.write(state.root.serverSettingsFile(), err);
}

} // namespace hollin
