#pragma once

#include "storage/Error.h"

#include <QString>

namespace hollin {

// The automatic receive, kept in ini.ini; files without the keys read as off:
//   AUTORECEIVE         "1" / "0": receive every few minutes while the program runs
//   AUTORECEIVEMINUTES  the minutes between two receives, 5 … 120
class AutoReceiveSettings {
public:
    static constexpr int MinMinutes = 5;
    static constexpr int MaxMinutes = 120;
    static constexpr int DefaultMinutes = 15;

    explicit AutoReceiveSettings(const QString &iniPath);

    bool enabled() const;
    // Kept in range; DefaultMinutes when missing.
    int minutes() const;
    // The minutes when enabled, 0 when off.
    int activeMinutes() const { return enabled() ? minutes() : 0; }

    bool write(bool enabled, int minutes, Error *err) const;

private:
    QString m_path;
};

} // namespace hollin
