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
    AccountInUse inUse;
    if (!storeAccount(state.root, id, password, save, &inUse, err))
        return false;
    useAccount(state, inUse);
    return true;
}

bool storeAccount(const DataRoot &root, const QString &id, const QString &password, bool save,
                  AccountInUse *inUse, Error *err)
{
    AccountStore store(root.idPassIniFile());
    if (save && !store.save(id, password, err))
        return false;
    if (!save && !store.markNotSaved(err))
        return false;
    // A complete saved account stays the one in use: what was typed and not
    // saved never replaces it behind the user's back.
    const Account saved = save ? Account{} : store.load();
    const bool keepSaved = !saved.id.isEmpty() && !saved.password.isEmpty();
    inUse->account = keepSaved ? saved : Account{id, password};
    inUse->unsaved = !save && !keepSaved;
    return true;
}

void useAccount(AppState &state, const AccountInUse &inUse)
{
    state.accountId = inUse.account.id;
    state.accountPassword = inUse.account.password;
    state.accountUnsaved = inUse.unsaved;
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
