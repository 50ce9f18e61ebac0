#pragma once

#include "storage/Error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace hollin {

// Sends finished RFC 5322 messages over SMTP with libcurl. One sender keeps
// its connection open between sends, so consecutive mails to the same server
// share one connection (and one login); disconnect() or the destructor ends it
// with QUIT. Blocking; use one sender from one thread.
//
// Server text: "host" or "host:port" (port 25; STARTTLS whenever the server
// offers it, and a server that offers none gets the mail without AUTH),
// "smtp://host[:port]" (port 587, STARTTLS required), "smtps://host[:port]"
// (implicit TLS, port 465); a bare "host:465" is implicit TLS too
// (ServerAddress::implicitTls()), and a plain connection that gets no greeting
// from a port that speaks TLS fails naming smtps://. AUTH is used only over TLS, when the server offers
// it and credentials are set: a password never crosses an unencrypted
// connection. Certificates are verified (system CAs plus those of
// TlsTrust.h); a failed check is an error, never a fall-back to plain.
//
// The EHLO name is the machine's fully qualified name, else an address
// literal of the local address that reaches the server ("[192.0.2.1]",
// "[IPv6:2001:db8::1]"), which servers checking HELO names accept.
//
// A failure is reported by what the server refused (its reply code and the
// command it answered), with the server's own line; after a failure the
// connection is dropped at once, without waiting for QUIT.
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

    // A recipient the server would not take, with the server's reply line.
    struct Refusal {
        QString address;
        QString reply;
    };

    // from, recipients: bare addresses. Nothing is sent when one of them is
    // empty or holds a line break, a blank or angle brackets.
    // Without refused, any refused recipient fails the send before DATA.
    // With refused, the mail goes to the recipients the server took and
    // *refused names the others; it fails only when none was taken.
    bool send(const QString &server, const QString &from, const QStringList &recipients,
              const QByteArray &message, Error *err, QList<Refusal> *refused = nullptr);
    // What check() saw of the server.
    struct Greeting {
        QString hostPort;
        QString greeting;         // the server's first line
        bool encrypted = false;   // STARTTLS or implicit TLS
        bool implicitTls = false;
        QStringList certificate;  // "Subject: …", "Issuer: …", "Expire date: …" of the server's own
        QStringList extensions;   // what the last EHLO offered, one keyword line each
        bool authenticated = false; // the server took AUTH (credentials set)
    };
    // Greets the server as send() would (EHLO, STARTTLS, AUTH with the
    // credentials) and ends with QUIT: no MAIL is sent. False with the reason
    // when a step fails; *out then holds what was seen up to it.
    bool check(const QString &server, Greeting *out, Error *err);

    // The last send failed on the way to the server, not on this mail: no
    // connection, a timeout, a dropped connection, TLS or the login, or the
    // server closing its service (421). A further send would meet it too.
    bool connectionFailed() const { return m_connectionFailed; }
    void disconnect();

private:
    enum class Security { Plain, StartTls, Implicit };
    // A reply line of the server and the command it answered ("" for the greeting).
    struct Reply {
        QByteArray command;
        QString line;
    };

    int perform(const QByteArray &url, Security security, const QByteArray &from, void *recipients,
                bool allowRefusals, char *errorBuffer, bool connectOnly = false);
    void describe(Security security, Greeting *out) const;
    QList<Refusal> refusals(const QStringList &recipients) const;
    bool offeredStartTls() const;
    const Reply *lastErrorReply() const;
    // curlError: libcurl's own text of the failure.
    QString errorText(int rc, const char *curlError, const QString &hostPort, Security security,
                      const QString &from, const QStringList &recipients, const QString &ehloName) const;
    void dropConnection();
    friend struct SmtpCallbacks; // libcurl's callbacks, in the source file

    void *m_curl = nullptr; // CURL*
    QString m_plainServer;  // a bare server without STARTTLS, while its connection lasts
    QByteArray m_data;
    qsizetype m_sent = 0;
    QByteArray m_lastCommand;
    QList<Reply> m_replies;
    QList<QString> m_rcptReplies; // the final reply line to each RCPT, in order
    bool m_connectionFailed = false;
    QString m_user;
    QString m_password;
    int m_connectMs = 15000;
    int m_replyMs = 60000;
};

} // namespace hollin
