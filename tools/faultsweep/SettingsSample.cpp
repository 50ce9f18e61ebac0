#include "SettingsSample.h"

#include "storage/KeepMailSettings.h"
#include "storage/ProfileFile.h"
#include "storage/ServerSettings.h"

using namespace Qt::StringLiterals;

namespace hollin::settingssample {

namespace {

const QString UntouchedKey = u"FSUNTOUCHED"_s;
const QString UntouchedValue = u"そのまま"_s;

ServerSettings serverOf(int tag)
{
    ServerSettings s;
    s.smtpServer = u"smtp%1.example.jp"_s.arg(tag);
    s.pop3Server = u"pop%1.example.jp"_s.arg(tag);
    s.mailAddress = u"user%1@example.jp"_s.arg(tag);
    s.apopFlag = qint16(tag % 2);
    return s;
}

KeepMailSettings keepOf(int tag)
{
    KeepMailSettings k;
    k.keepOnServer = tag % 2 == 0;
    k.deleteAfterDays = tag;
    return k;
}

void compare(QStringList *out, const QString &what, const QString &read, const QString &written)
{
    if (read != written)
        *out << u"%1 reads \"%2\", written \"%3\""_s.arg(what, read, written);
}

} // namespace

bool write(const DataRoot &root, int tag, Error *err)
{
    ProfileFile account(root.idPassIniFile(), true);
    return serverOf(tag).write(root.serverSettingsFile(), err)
        && account.writeText(u"NAME"_s, u"user%1"_s.arg(tag), err)
        && account.writeText(u"NAME2"_s, u"pass%1"_s.arg(tag), err) && keepOf(tag).write(root.iniFile(), err);
}

bool writeUntouchedKey(const DataRoot &root, Error *err)
{
    return ProfileFile(root.iniFile()).writeText(UntouchedKey, UntouchedValue, err);
}

QStringList differences(const DataRoot &root, int tag)
{
    QStringList out;
    Error err;
    const ServerSettings server = ServerSettings::read(root.serverSettingsFile(), &err);
    if (err.isSet())
        out << u"hlmail.ini: "_s + err.text();
    const ServerSettings want = serverOf(tag);
    compare(&out, u"SMTP="_s, server.smtpServer, want.smtpServer);
    compare(&out, u"POP3="_s, server.pop3Server, want.pop3Server);
    compare(&out, u"MAIL="_s, server.mailAddress, want.mailAddress);
    compare(&out, u"APOP="_s, QString::number(server.apopFlag), QString::number(want.apopFlag));
    const ProfileFile account(root.idPassIniFile(), true);
    compare(&out, u"NAME"_s, account.readText(u"NAME"_s), u"user%1"_s.arg(tag));
    compare(&out, u"NAME2"_s, account.readText(u"NAME2"_s), u"pass%1"_s.arg(tag));
    const KeepMailSettings keep = KeepMailSettings::read(root.iniFile());
    compare(&out, u"KEEPMAIL"_s, QString::number(keep.keepOnServer), QString::number(keepOf(tag).keepOnServer));
    compare(&out, u"KEEPDAYS"_s, QString::number(keep.deleteAfterDays), QString::number(tag));
    compare(&out, UntouchedKey, ProfileFile(root.iniFile()).readText(UntouchedKey), UntouchedValue);
    return out;
}

} // namespace hollin::settingssample
