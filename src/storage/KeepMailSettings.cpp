#include "KeepMailSettings.h"

#include "ProfileFile.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace hollin {

KeepMailSettings KeepMailSettings::read(const QString &iniPath)
{
    const ProfileFile file(iniPath);
    KeepMailSettings s;
    s.keepOnServer = file.readInt(u"KEEPMAIL"_s) == 1;
    s.deleteAfterDays = std::clamp(file.readInt(u"KEEPDAYS"_s), 0, MaxDays);
    return s;
}

bool KeepMailSettings::write(const QString &iniPath, Error *err) const
{
    ProfileFile file(iniPath);
    return file.writeText(u"KEEPMAIL"_s, keepOnServer ? u"1"_s : u"0"_s, err)
        && file.writeInt(u"KEEPDAYS"_s, deleteAfterDays, err);
}

} // namespace hollin
