#pragma once

#include "storage/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace hollin {

// Sends finished RFC 5322 messages over SMTP with libcurl. One sender keeps
// its connection open between sends, so consecutive mails to the same server
// share one connection (and one login); disconnect() or the destructor ends it
// with QUIT. Blocking; use one sender from one thread.
//
// Server text: "host" or "host:port" (plain, port 25), "smtp://host[:port]"
// (port 587, STARTTLS required), "smtps://host[:port]" (implicit TLS, port 465).
// Certificates are verified (system CAs plus those of TlsTrust.h).
// AUTH is used only when the server offers it and credentials are set.
class SmtpSender {
public:
    SmtpSender();
    ~SmtpSender();
    SmtpSender(const SmtpSender &) = delete;
    SmtpSender &operator=(const SmtpSender &) = delete;

    // Defaults: 15 s to connect (with TLS and greeting), 60 s for each reply
    // or for an upload that stops moving.
    void setTimeouts(int connectMs, int replyMs);
    void setCredentials(const QString &user, const QString &password);

    // from, recipients: bare addresses. Nothing is sent when one of them is
    // empty or holds a line break, a blank or angle brackets.
    bool send(const QString &server, const QString &from, const QStringList &recipients,
              const QByteArray &message, Error *err);
    void disconnect();

private:
    static size_t readCallback(char *buffer, size_t size, size_t count, void *self);
    static size_t headerCallback(char *buffer, size_t size, size_t count, void *self);
    QString serverReply() const;

    void *m_curl = nullptr; // CURL*
    QByteArray m_data;
    qsizetype m_sent = 0;
    QStringList m_replies;
    QString m_user;
    QString m_password;
    int m_connectMs = 15000;
    int m_replyMs = 60000;
};

} // namespace hollin
