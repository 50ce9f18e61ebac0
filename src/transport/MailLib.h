#pragma once

#include "transport/AttachmentExtractor.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

namespace hollin {

class Pop3Session;
class SmtpSender;

// The mail library: POP3 receive, SMTP send, MIME decode and attachment
// extraction behind the calls the program has always made. Every call blocks
// until it is done (with timeouts: 15 s to connect; a POP3 reply must end or
// bring 64 KB within every 60 s, so a stalled or dripping server ends it),
// so callers run it off the user-interface thread (see ReceiveJob / SendJob).
// One instance belongs to one thread: create it, use it and destroy it on the
// same thread (its sockets are bound to the thread that opened them).
//
// POP3 deletions take effect only at pop3Close() (QUIT); pop3Abort() and the
// destructor leave every message on the server. When the server offers
// PIPELINING, fetching message n also sends the RETRs of the next messages,
// and a refused DELE is reported by pop3Close().
//
// TLS certificates are verified; extra trusted CAs: transport/TlsTrust.h.
//
// Sentinels: a connection handle of -1 means no connection; a negative count
// or result means failure, and getMessage() then tells why in Japanese.
class MailLib {
public:
    MailLib();
    ~MailLib();
    MailLib(const MailLib &) = delete;
    MailLib &operator=(const MailLib &) = delete;

    // Start-up and shut-down of the library (process-wide init of its parts).
    void initializeWinSock();
    void setOption(int option, int value);
    void endWinSock();
    // Connect (with TLS and greeting) and reply timeouts; 15000 / 60000 ms by default.
    void setTimeouts(int connectMs, int replyMs);
    // A flag that another thread may set to end the POP3 connect, its TLS
    // handshake or a stalled transfer at once (the connection then closes
    // without QUIT). Set before pop3Connect.
    void setCancelFlag(const std::atomic_bool *cancel);

    // Server: "host", "host:port" (STLS whenever offered), "pop3://host[:port]"
    // (STLS required), "pop3s://host[:port]". Returns a handle, or -1.
    int pop3Connect(const QString &server);
    // apopFlag: -1 = APOP, 0 = USER/PASS; never the other one. Returns the
    // number of messages (>= 0) or a negative value.
    int pop3Authenticate(int handle, const QString &accountId, const QString &password, int apopFlag);
    // Decoded subject, date and sender, and the raw header of message n (1-based).
    int pop3GetMailStatus(int handle, int n, QString *subject, QString *date, QString *from, QString *header);
    // Size in octets of message n, negative on failure.
    int pop3GetMailSize(int handle, int n);
    // Fetches message n: decoded subject, date, sender, the raw header and the body text.
    // Returns 0, or a negative value on failure. The raw message is kept for
    // attachmentFileFirst().
    int pop3GetMail(int handle, int n, QString *subject, QString *date, QString *from,
                    QString *header, QString *body);
    // Unique ids (UIDL) of every message: uids->at(n - 1) for message n.
    // Returns their number; 0 with uids empty when the server has no UIDL;
    // negative on failure.
    int pop3GetUidl(int handle, QStringList *uids);
    // Marks message n for deletion; the server removes it only at pop3Close().
    // A message marked before it is fetched is not fetched ahead.
    int pop3DeleteMail(int handle, int n);
    // Whether the connection still stands (after a failed call: the server
    // refused that one command, the next may go on).
    bool pop3IsConnected(int handle) const;
    // The connection is encrypted (pop3s, or STLS taken).
    bool pop3IsEncrypted(int handle) const;
    // QUIT: commits every deletion, then closes.
    int pop3Close(int handle);
    // Closes without QUIT: every message stays on the server.
    int pop3Abort(int handle);

    // Extracts the attachments of the last fetched message into attachmentFolder
    // (the other texts are those of the fetch, kept for the caller's record).
    // 1 = at least one file written; -5 = a file cannot be created;
    // -6 = a part of a split message whose set is still incomplete; 0 = none.
    int attachmentFileFirst(const QString &subject, const QString &date, const QString &from,
                            const QString &header, const QString &body,
                            const QString &attachmentFolder, const QString &textFilePath,
                            const QString &messageText);
    void attachmentFileClose();
    // From now on attachmentFileFirst() writes attachments without names
    // where the file system allows; takeHeldAttachments() hands them over to
    // be named (AttachmentExtractor::nameHeld()). Unnamed files vanish with
    // the process.
    void setHoldAttachments(bool hold);
    std::vector<AttachmentExtractor::HeldFile> takeHeldAttachments();
    // With held attachments: the kept fragments of the split set the last
    // message completed, for AttachmentExtractor::removeFragments() once its
    // record is durable.
    QStringList takeDoneFragments();
    // messageKey() of the last fetched message (before attachmentFileClose()).
    QString lastMessageKey() const;
    // Names of the files the last attachmentFileFirst() wrote, in order.
    QStringList lastAttachmentFiles() const;
    // When decoding the last message hit a limit (nesting too deep) and parts
    // of it could not be taken out, attachmentFileFirst() saves the whole
    // message as a .eml file in the folder; its name, else empty.
    QString lastWholeMessageFile() const;

    // Account used for SMTP AUTH when the server offers it over TLS.
    void setSmtpCredentials(const QString &accountId, const QString &password);
    // Sends one mail. Server: "host", "host:port" (STARTTLS whenever offered,
    // else no AUTH), "smtp://host[:port]" (STARTTLS required on 587),
    // "smtps://host[:port]". A recipient with a line break is refused. attachments: full
    // paths joined by ",". to, cc, bcc: address lists as RecipientList reads
    // them (cc and bcc may be empty); all go in one SMTP transaction, bcc
    // only in the envelope. Returns 0 when every recipient took the mail; the
    // number of refused recipients (> 0) when the server took it for the
    // others (refusedRecipients() and getMessage() name them); a negative
    // value when nobody got it. Consecutive sends to the same server share
    // one connection.
    int smtpSendMail(QString &server, const QString &to, const QString &cc, const QString &bcc,
                     const QString &from, const QString &subject, const QString &body,
                     const QString &reserved, const QString &attachments, int flags);
    // Sent as In-Reply-To and References by the following smtpSendMail()
    // calls (message ids with their angle brackets; empty: not sent).
    void setThreadHeaders(const QString &inReplyTo, const QString &references);
    // The RFC 5322 bytes of the last smtpSendMail() that the server took
    // (for at least one recipient); empty after one that nobody got.
    QByteArray lastSentMessage() const;
    // The bare addresses refused by the last smtpSendMail().
    QStringList refusedRecipients() const;
    // The last smtpSendMail() failed on the way to the server (no connection,
    // a timeout or a drop, TLS, the login), not on the mail: the next would too.
    bool smtpConnectionFailed() const;
    // Ends the shared SMTP connection (QUIT).
    void smtpDisconnect();

    // Japanese text of the last failure, naming host and port, the server's
    // reply line or the library's error.
    QString getMessage() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace hollin
