#pragma once

#include "storage/Error.h"

#include <QString>

namespace hollin {

// The servers to which the user agreed to send the POP3 password
// unencrypted (a bare host whose server offers no STLS), kept in ini.ini
// under a key of this program's own, so that the question comes once per
// server:
//   PLAINLOGIN  "host:port" of each such server, separated by blanks
class PlainLoginConsent {
public:
    explicit PlainLoginConsent(const QString &iniPath) : m_path(iniPath) {}

    bool isGiven(const QString &server) const;
    bool give(const QString &server, Error *err);

    // The warning shown before the first such login (Japanese).
    static QString warning(const QString &server);

private:
    QString m_path;
};

} // namespace hollin
