#include "PanelSettings.h"

#include "storage/MailRecordFile.h"
#include "storage/ProfileFile.h"

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// The key stem of Form1 … Form5 in "Form.ini" (NUMBERF9L / NUMBERF9T for Form1 …).
constexpr const char16_t *FloatingKeys[5] = {u"NUMBERF9", u"NUMBERF4", u"NUMBERF8", u"NUMBERF5",
                                             u"NUMBERF7"};

QString floatingKey(int index, QChar edge)
{
    return QString::fromUtf16(FloatingKeys[index]) + edge;
}

} // namespace

PanelSettings::PanelSettings(const DataRoot &root)
    : m_root(root)
{
}

std::optional<bool> PanelSettings::checkState(int stored)
{
    if (stored == 1)
        return true;
    if (stored == 0)
        return false;
    return std::nullopt;
}

std::optional<bool> PanelSettings::initialExplanations() const
{
    return checkState(ProfileFile(m_root.iniFile()).readInt(u"NUMBER"_s));
}

std::optional<bool> PanelSettings::initialAutoView() const
{
    return checkState(ProfileFile(m_root.iniFile()).readInt(u"NUMBER2"_s));
}

bool PanelSettings::noticeAutoDismiss() const
{
    return ProfileFile(m_root.iniFile()).readInt(u"NUMBER4"_s) == 1;
}

// Absent until the first exit; then NUMBER / NUMBER2 decide.
std::optional<bool> PanelSettings::savedExplanations() const
{
    const ProfileFile ini(m_root.iniFile());
    return ini.hasKey(u"NUMBER8"_s) ? checkState(ini.readInt(u"NUMBER8"_s)) : std::nullopt;
}

std::optional<bool> PanelSettings::savedAutoView() const
{
    const ProfileFile ini(m_root.iniFile());
    return ini.hasKey(u"NUMBER9"_s) ? checkState(ini.readInt(u"NUMBER9"_s)) : std::nullopt;
}

std::optional<QColor> PanelSettings::backgroundColour() const
{
    return colourFromText(ProfileFile(m_root.iniFile()).readText(u"NAME"_s));
}

std::optional<QColor> PanelSettings::colourFromText(const QString &stored)
{
    bool ok = false;
    const qlonglong value = stored.trimmed().toLongLong(&ok, 10);
    if (!ok || value < 0 || value > 0xFFFFFF)
        return std::nullopt;
    // 0x00BBGGRR
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

int PanelSettings::toBgr(const QColor &colour)
{
    return colour.red() | (colour.green() << 8) | (colour.blue() << 16);
}

int PanelSettings::pictureSet() const
{
    const int n = ProfileFile(m_root.iniFile()).readInt(u"NUMBER6"_s);
    return n >= 1 && n <= 5 ? n : 0;
}

PanelSize PanelSettings::panelSize() const
{
    switch (ProfileFile(m_root.iniFile()).readInt(u"NUMBER7"_s)) {
    case 1:
        return PanelSize::Small;
    case 2:
        return PanelSize::Large;
    default:
        return PanelSize::Designed;
    }
}

WindowPositions PanelSettings::positions() const
{
    const ProfileFile form(m_root.formIniFile());
    WindowPositions p;
    p.panel = QPoint(form.readInt(u"NUMBERW"_s), form.readInt(u"NUMBERH"_s));
    for (int i = 0; i < 5; ++i)
        p.floating[i] = QPoint(form.readInt(floatingKey(i, u'L')), form.readInt(floatingKey(i, u'T')));
    return p;
}

bool PanelSettings::hasFloatingPositions() const
{
    const ProfileFile form(m_root.formIniFile());
    for (int i = 0; i < 5; ++i) {
        if (form.hasKey(floatingKey(i, u'L')) || form.hasKey(floatingKey(i, u'T')))
            return true;
    }
    return false;
}

bool PanelSettings::writePositions(const WindowPositions &positions, Error *err) const
{
    ProfileFile form(m_root.formIniFile());
    if (!form.writeInt(u"NUMBERW"_s, positions.panel.x(), err)
        || !form.writeInt(u"NUMBERH"_s, positions.panel.y(), err))
        return false;
    for (int i = 0; i < 5; ++i) {
        if (!form.writeInt(floatingKey(i, u'L'), positions.floating[i].x(), err)
            || !form.writeInt(floatingKey(i, u'T'), positions.floating[i].y(), err))
            return false;
    }
    return true;
}

bool PanelSettings::writeChecks(bool explanations, bool autoView, Error *err) const
{
    ProfileFile ini(m_root.iniFile());
    return ini.writeText(u"NUMBER8"_s, explanations ? u"1"_s : u"0"_s, err)
        && ini.writeText(u"NUMBER9"_s, autoView ? u"1"_s : u"0"_s, err);
}

bool PanelSettings::writeColour(int bgr, Error *err) const
{
    return ProfileFile(m_root.iniFile()).writeInt(u"NAME"_s, bgr, err);
}

bool PanelSettings::writePictureSet(int n, Error *err) const
{
    return ProfileFile(m_root.iniFile()).writeInt(u"NUMBER6"_s, n, err);
}

bool PanelSettings::writePanelSize(PanelSize size, Error *err) const
{
    return ProfileFile(m_root.iniFile()).writeInt(u"NUMBER7"_s, int(size), err);
}

qint64 PanelSettings::recordsForLength(qint64 fileLength)
{
    constexpr qint64 size = MailRecordFile::RecordSize;
    const qint64 whole = fileLength / size;
    const qint64 twiceRest = 2 * (fileLength % size);
    if (twiceRest > size || (twiceRest == size && whole % 2 == 1))
        return whole + 1;
    return whole;
}

} // namespace hollin
