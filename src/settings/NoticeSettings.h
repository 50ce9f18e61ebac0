#pragma once

#include "storage/Error.h"

#include <QString>
#include <optional>

namespace hollin {

// The new-mail notice options of the settings window, kept in ini.ini:
//   NUMBER2  the hidden field's text (written, read back but not used)
//   NUMBER4  "1" / "0": the notice board closes itself after one second
//   NUMBER5  "1" / "": show the notice board after a receive that fetched mail
class NoticeSettings {
public:
    explicit NoticeSettings(const QString &iniPath);

    // NUMBER4: 1 → true, 0 (or missing) → false, any other value → none
    // (the check box keeps its designed state).
    std::optional<bool> autoErase() const;
    // NUMBER5 is 1.
    bool showNotice() const;
    QString hiddenValue() const;

    bool writeHiddenValue(const QString &text, Error *err);
    // NUMBER2 = hidden, NUMBER4 = "1"/"0", NUMBER5 = "1" or an empty value, in that order.
    bool writeOnClose(const QString &hidden, bool autoErase, bool showNotice, Error *err);

private:
    QString m_path;
};

} // namespace hollin
