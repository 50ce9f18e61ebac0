#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class QProcess;

namespace hollin {

// Real mail servers for tests, on 127.0.0.1 and free ports, in a private
// temporary folder: a Dovecot POP3 server (plain USER/PASS and APOP) and an
// SMTP server (python3-aiosmtpd, tests/support/smtp_server.py) that delivers
// into the same Maildir, so a mail sent over SMTP can be received over POP3.
// Everything is stopped (and the folder removed) by stop() or the destructor.
//
// Needs root (Dovecot switches to the mail user "nobody"), /usr/sbin/dovecot,
// /usr/bin/python3 with aiosmtpd, and /usr/bin/openssl for the TLS variants.
// The servers are children of the thread that called start() and are killed
// when it ends, even by a crash: start them from the test's main thread.
//
//     TestMailServers servers;
//     QString error;
//     QVERIFY2(servers.start({}, &error), qPrintable(error));
//     servers.deliver("Subject: hi\r\n\r\nbody\r\n");
//     // ... talk to servers.pop3Server() / servers.smtpServer() ...
//     QCOMPARE(servers.mailboxMessages().size(), 0);
//
// TLS: with Options::tls the servers use a fresh self-signed certificate for
// "127.0.0.1" and "localhost" (caCertificatePath()); Dovecot then offers STLS
// on its plain port and listens for implicit TLS on pop3sServer(); the SMTP
// server offers STARTTLS on its plain port (AUTH only after it) and listens
// on smtpStartTlsServer() (STARTTLS required) and smtpsServer() (implicit TLS). Clients must trust caCertificatePath()
// explicitly (transport/TlsTrust.h: addExtraCaCertificates(), or the
// environment variable HOLLIN_EXTRA_CA_FILE).
class TestMailServers {
public:
    struct Options {
        bool pop3 = true;
        bool smtp = true;
        bool tls = false;                 // STLS/pop3s and STARTTLS/smtps listeners
        bool smtpAuthRequired = false;    // SMTP demands AUTH PLAIN/LOGIN with user()/password()
        QStringList refusedRecipients;    // RCPT TO these addresses gets "550 ..."
        bool smtpStrictHelo = false;      // RCPT after a non-FQDN EHLO name gets Postfix's "504 5.5.2"
        int smtpSizeLimit = 0;            // SIZE offered and enforced ("552"); 0 = aiosmtpd's default
        QString user = QStringLiteral("alice");
        QString password = QStringLiteral("secret1");
        QString address = QStringLiteral("alice@example.jp");
    };

    TestMailServers();
    ~TestMailServers();
    TestMailServers(const TestMailServers &) = delete;
    TestMailServers &operator=(const TestMailServers &) = delete;

    // Starts the servers asked for; false with a reason on failure.
    bool start(const Options &options, QString *error);
    // Stops every server (kills what does not stop) and removes the folder.
    void stop();
    // Stops only Dovecot, at once: sessions in progress lose their connection.
    void stopPop3();

    // "127.0.0.1:PORT"; empty when that server was not asked for.
    QString pop3Server() const;
    QString pop3sServer() const;        // implicit TLS (Options::tls)
    QString smtpServer() const;
    QString smtpStartTlsServer() const; // STARTTLS required (Options::tls)
    QString smtpsServer() const;        // implicit TLS (Options::tls)
    int pop3Port() const { return m_pop3Port; }
    int smtpPort() const { return m_smtpPort; }

    QString caCertificatePath() const;  // PEM; empty without Options::tls
    QString user() const { return m_options.user; }
    QString password() const { return m_options.password; }
    QString address() const { return m_options.address; }
    QString rootPath() const;           // the private folder
    QString maildirPath() const;

    // Puts one message into the mailbox, after every message already there
    // (POP3 numbers follow delivery order). CR LF becomes LF on disk, as a
    // real delivery agent stores it; POP3 serves it with CR LF again.
    bool deliver(const QByteArray &raw);
    // The raw bytes (LF line ends) of every message in the mailbox, in order.
    QList<QByteArray> mailboxMessages() const;

    // SMTP log, one line per command that reached the server:
    // "MAIL <peer port> <address>", "RCPT <peer port> <address>",
    // "DATA <peer port> <size>", and "HELO <peer port> <EHLO name>" before
    // each MAIL, "AUTH <peer port> tls|plain" for each AUTH. Refused RCPTs
    // are logged too.
    QStringList smtpLog() const;
    // Number of distinct connections that sent at least one MAIL command.
    int smtpConnectionCount() const;

private:
    bool startOnce(const Options &options, QString *error);
    bool startDovecot(QString *error);
    bool startSmtp(QString *error);
    bool makeCertificate(QString *error);
    bool writeFile(const QString &path, const QByteArray &data, QString *error);

    Options m_options;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_dovecot;
    std::unique_ptr<QProcess> m_smtp;
    int m_pop3Port = 0;
    int m_pop3sPort = 0;
    int m_smtpPort = 0;
    int m_smtpStartTlsPort = 0;
    int m_smtpsPort = 0;
    int m_deliveries = 0;
};

// A free TCP port on 127.0.0.1 (bound and released at once).
int freeLocalPort();

} // namespace hollin
