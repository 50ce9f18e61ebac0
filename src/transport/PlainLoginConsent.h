#pragma once

#include "storage/Error.h"

#include <QString>

namespace hollin {

// The POP3 servers with which the user agreed to talk unencrypted (a bare
// host whose server offers no STLS), kept in ini.ini under a key of this
// program's own, so that the question comes once per server:
//   PLAINLOGIN  "host:port" of each server that may get the password in
//               clear, "host:port/apop" of each that may get only the APOP
//               digest, separated by blanks
// A login in clear reveals more than APOP, so agreeing to it covers APOP too.
// The receive, the connection test and the command line all ask here.
class PlainLoginConsent {
public:
    explicit PlainLoginConsent(const QString &iniPath) : m_path(iniPath) {}

    bool isGiven(const QString &server, bool apop = false) const;
    bool give(const QString &server, bool apop, Error *err);
    bool give(const QString &server, Error *err) { return give(server, false, err); }

    // The warning shown before the first unencrypted login (Japanese): the
    // password in clear, or with APOP the mail in clear and a weak digest.
    static QString warning(const QString &server, bool apop = false);
    // Why no login was made when the answer was no (Japanese).
    static QString refusal();

private:
    QString m_path;
};

} // namespace hollin
