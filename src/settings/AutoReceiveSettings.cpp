#include "AutoReceiveSettings.h"

#include "storage/ProfileFile.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace hollin {

AutoReceiveSettings::AutoReceiveSettings(const QString &iniPath)
    : m_path(iniPath)
{
}

bool AutoReceiveSettings::enabled() const
{
    return ProfileFile(m_path).readInt(u"AUTORECEIVE"_s) == 1;
}

int AutoReceiveSettings::minutes() const
{
    const int stored = ProfileFile(m_path).readInt(u"AUTORECEIVEMINUTES"_s, DefaultMinutes);
    return std::clamp(stored, MinMinutes, MaxMinutes);
}

bool AutoReceiveSettings::write(bool enabled, int minutes, Error *err) const
{
    ProfileFile file(m_path);
    return file.writeText(u"AUTORECEIVE"_s, enabled ? u"1"_s : u"0"_s, err)
        && file.writeText(u"AUTORECEIVEMINUTES"_s, QString::number(minutes), err);
}

} // namespace hollin
