#pragma once

#include "storage/Error.h"

#include <QString>
#include <functional>

namespace hollin {

// The connection test: logs in to a POP3 server (STAT only, never RETR or
// DELE) and greets an SMTP server (EHLO, STARTTLS, AUTH, never MAIL), and
// reports each step as one Japanese line: connected, TLS and certificate,
// login, what the server offers. Blocking; the server dialog runs it on a
// worker thread, hollin-cli check directly. Without a user name or a
// password the login step is skipped (and said so). A POP3 login that would go unencrypted
// follows the rule of the receive: it is made only when the consent function
// says yes (PlainLoginConsent), else the test stops after CAPA.
class ConnectionCheck {
public:
    using Report = std::function<void(const QString &line)>;
    // Asked (on the checking thread) before an unencrypted POP3 login.
    using Consent = std::function<bool(const QString &server, bool apop)>;
    explicit ConnectionCheck(Report report) : m_report(std::move(report)) {}

    // Unset: no unencrypted login at all.
    void setPlainLoginConsent(Consent consent) { m_consent = std::move(consent); }

    void setTimeouts(int connectMs, int replyMs);
    // False at the first step that fails: err says why, and so does the last line.
    bool checkPop3(const QString &server, const QString &user, const QString &password, bool apop, Error *err);
    bool checkSmtp(const QString &server, const QString &user, const QString &password, Error *err);

private:
    bool failed(const QString &protocol, const Error &error, Error *err);
    void reportCaFileProblem(const QString &protocol);
    static QString noAccountText(const QString &protocol);

    Report m_report;
    Consent m_consent;
    int m_connectMs = 15000;
    int m_replyMs = 60000;
};

} // namespace hollin
