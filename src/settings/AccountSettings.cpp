#include "AccountSettings.h"

#include "storage/AppState.h"
#include "storage/Cp932.h"
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
    // The file is CP932: a character it cannot hold would come back as "?",
    // and the next login would use a different account.
    if (save && !(Cp932::canEncode(id) && Cp932::canEncode(password)))
        return fail(err, u"IDまたはパスワードに、保存できない文字（Shift-JIS にない文字）が含まれています。"_s);
    state.accountId = id;
    state.accountPassword = password;
    state.accountUnsaved = !save;
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
