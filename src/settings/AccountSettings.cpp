#include "AccountSettings.h"

#include "storage/AppState.h"
#include "storage/DataRoot.h"
#include "storage/ProfileFile.h"

using namespace Qt::StringLiterals;

namespace hollin {

Account savedAccount(const DataRoot &root)
{
    const ProfileFile file(root.idPassIniFile(), true);
    return {file.readText(u"NAME"_s), file.readText(u"NAME2"_s)};
}

bool acceptAccount(AppState &state, const QString &id, const QString &password, bool save,
                   Error *err)
{
    state.accountId = id;
    state.accountPassword = password;
    ProfileFile file(state.root.idPassIniFile(), true);
    if (!save)
        return file.writeText(u"NAME3"_s, u"0"_s, err);
    return file.writeText(u"NAME"_s, id, err)
        && file.writeText(u"NAME2"_s, password, err)
        && file.writeText(u"NAME3"_s, u"1"_s, err);
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
    state.smtpServer = settings.smtpServer;
    state.pop3Server = settings.pop3Server;
    state.mailAddress = settings.mailAddress;
    state.apopFlag = settings.apopFlag;
    return settings.write(state.root.serverSettingsFile(), err);
}

} // namespace hollin
