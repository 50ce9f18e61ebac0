#pragma once

#include "Error.h"

#include <QString>

namespace hollin {

// Whether a receive leaves the mail on the server, kept in ini.ini under keys
// of this program's own (absent in older files, which then read as off):
//   KEEPMAIL  "1" / "0": received mail stays on the server
//   KEEPDAYS  days after its first receive that a kept mail is deleted on
//             the server; 0 keeps it for ever
struct KeepMailSettings {
    static constexpr int MaxDays = 3650;

    bool keepOnServer = false;
    int deleteAfterDays = 0;

    static KeepMailSettings read(const QString &iniPath);
    bool write(const QString &iniPath, Error *err) const;
};

} // namespace hollin
