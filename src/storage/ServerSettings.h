#pragma once

#include "Error.h"

#include <QString>

namespace hollin {

// The server-settings file "hlmail.ini": CP932 lines ended by CR LF,
//   SMTP=<smtp server>
//   POP3=<pop3 server>
//   MAIL=<own address>
//   APOP=<1 or 0>
// The reader looks at the first five characters of each line (case-sensitive),
// keeps at most 100 characters after them, ignores other lines, and lets a
// later line of the same key win. The APOP value is its leading number.
struct ServerSettings {
    QString smtpServer;
    QString pop3Server;
    QString mailAddress;
    qint16 apopFlag = 0;

    // A missing file gives empty texts and 0.
    static ServerSettings read(const QString &path, Error *err = nullptr);
    bool write(const QString &path, Error *err = nullptr) const;
};

} // namespace hollin
