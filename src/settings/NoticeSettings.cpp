#include "NoticeSettings.h"

#include "storage/ProfileFile.h"

using namespace Qt::StringLiterals;

namespace hollin {

NoticeSettings::NoticeSettings(const QString &iniPath)
    : m_path(iniPath)
{
}

std::optional<bool> NoticeSettings::autoErase() const
{
    switch (ProfileFile(m_path).readInt(u"NUMBER4"_s)) {
    case 1: return true;
    case 0: return false;
    default: return std::nullopt;
    }
}

bool NoticeSettings::showNotice() const
{
    return ProfileFile(m_path).readInt(u"NUMBER5"_s) == 1;
}

QString NoticeSettings::hiddenValue() const
{
    return ProfileFile(m_path).readText(u"NUMBER2"_s);
}

bool NoticeSettings::writeHiddenValue(const QString &text, Error *err)
{
    return ProfileFile(m_path).writeText(u"NUMBER2"_s, text, err);
}

bool NoticeSettings::writeOnClose(const QString &hidden, bool autoErase, bool showNotice, Error *err)
{
    ProfileFile file(m_path);
    return file.writeText(u"NUMBER2"_s, hidden, err)
        && file.writeText(u"NUMBER4"_s, autoErase ? u"1"_s : u"0"_s, err)
        && file.writeText(u"NUMBER5"_s, showNotice ? u"1"_s : QString(), err);
}

} // namespace hollin
