#pragma once

#include "storage/AppState.h"
#include "storage/Error.h"

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

class QThread;

namespace hollin {

// One pass of a send: one call of MailLib::smtpSendMail.
struct SendRecipient {
    QString shown;   // what the recipient box shows during the pass
    QString address; // what the library gets as the recipient (one address or a list)
};

// Everything a send passes to the library.
struct SendRequest {
    QString smtpServer;
    QString from;             // the user's own address, with the sender name: "名前 <addr>"
    QString accountId;        // SMTP AUTH, used when the server offers it
    QString accountPassword;
    QList<SendRecipient> recipients; // one pass each, in this order
    QString subject;
    QString body;             // plain text
    QString attachments;      // full paths joined by ","; empty for none
    QString cc;               // address lists sent with every pass; empty for none
    QString bcc;
    // The answered mail's Message-ID and References (a reply); empty for none.
    QString inReplyTo;
    QString references;
    // Where each mail the server accepted is kept (SentMailFile); empty: not kept.
    QString sentFile;

    // Server, sender and account from the program-wide values; the sender
    // name (差出人名) from hollin.ini; the accepted mails are kept in the data
    // folder's sent-mail file.
    static SendRequest fromState(const AppState &state);
    // "name <addr>" for the stored address and sender name; the address as
    // stored when there is no name (or no address to put it with).
    static QString senderOf(const QString &address, const QString &name);

    // One pass to the recipient exactly as typed (no trimming).
    static QList<SendRecipient> single(const QString &recipient);
    // One pass per address-book record in record order: shown = EntryAddress as
    // stored (full width), address = EntryAddress without trailing blanks.
    // A missing file gives no recipients.
    static bool addressBook(const DataRoot &root, QList<SendRecipient> *out, Error *err = nullptr);
};

struct SendFailure {
    int pass = 0;       // 1-based
    QString recipient;  // the address given to the library; for a refusal, the refused addresses
    QString message;    // the library's own text (MailLib::getMessage)
};

struct SendResult {
    int passes = 0;     // passes planned
    int attempted = 0;  // passes run (fewer when cancelled or stopped)
    QList<SendFailure> failures;
    // Passes that went out, but not to every recipient: the server refused some.
    QList<SendFailure> refusals;
    bool cancelled = false;
    // A pass failed on the way to the server (a timeout, a drop): the passes
    // after it were not run, since each would wait for the same failure.
    bool stoppedAtConnection = false;
    QString smtpServer; // the server text after the last library call
    // Passes that went out but whose copy could not be kept, and why the first did not.
    int notKept = 0;
    Error keepError;

    // Every planned pass ran and reached every recipient, and there was at least one.
    bool succeeded() const;
    // The bare addresses the server refused in passes that went out to others.
    QStringList refusedAddresses() const;
    // The status line after the send:
    //   "送信完了です。" when succeeded();
    //   "送信先がありません。送信しませんでした。" when there was nothing to send;
    //   "送信を中止しました。%n 件中 %k 件を送信しました。" when cancelled;
    //   "サーバーとの接続に失敗したため、…" when stoppedAtConnection;
    //   "送信しましたが、受け付けられなかった宛先があります（%r 件）。" when
    //   only refusals went wrong;
    //   "%n 件中 %f 件の送信に失敗しました。" otherwise.
    QString statusText() const;
    // The text of the "送信エラー" box: a Japanese sentence first, then the
    // library's own words as detail; with several failures, one paragraph per
    // failed pass naming its recipient. Refusals are told the same way.
    QString errorText() const;
    // When notKept: "送信しましたが、送信済みメールの控えを保存できませんでした…"
    // with the cause; else empty. The send's own result is told apart from it.
    QString keepErrorText() const;
    // The recipients that did not get the mail: the failed passes and those
    // never run (cancelled), in pass order. sent = the request's recipients.
    QList<SendRecipient> undelivered(const QList<SendRecipient> &sent) const;
    // The passes that reached their recipient, in pass order.
    QList<SendRecipient> delivered(const QList<SendRecipient> &sent) const;
    // Asked before the next send of the same mail: resend only to those.
    static QString resendQuestion(const QList<SendRecipient> &undelivered);
};

// A send: MailLib::smtpSendMail once per recipient on a worker thread, one
// MailLib and one SMTP connection for all passes (closed at the end). A failed
// pass is not retried; the next one runs, unless the failure was the
// connection's: then the send stops there. Every mail the server took (for at
// least one recipient) is kept in the request's sentFile right after the pass.
// Used by the compose window (one
// recipient, or every address-book entry), the reply window and hollin-cli.
//
//   auto *job = new SendJob(request, this);
//   connect(job, &SendJob::passStarted, ...);   // show SendJob::progressText(k, n)
//   connect(job, &SendJob::finished, ...);      // read job->result(), then deleteLater()
//   job->start();
class SendJob : public QObject {
    Q_OBJECT
public:
    explicit SendJob(SendRequest request, QObject *parent = nullptr);
    // Cancels and waits for the worker.
    ~SendJob() override;

    // Runs the passes on a worker thread; signals arrive on this object's thread.
    void start();
    bool isRunning() const;
    // Stops before the next pass; the pass in progress finishes.
    void cancel();
    // Valid after finished().
    const SendResult &result() const { return m_result; }

    // The whole send on the calling thread (hollin-cli, the worker). The
    // callbacks run on that thread; cancelled is read before every pass.
    static SendResult run(const SendRequest &request,
                          const std::function<void(int pass, int passes, const SendRecipient &)> &passStarted = {},
                          const std::atomic_bool *cancelled = nullptr);

    static QString sendingText();          // "メールを送信中です。しばらくお待ち下さい。"
    static QString progressText(int pass, int passes); // "送信中 k / n"
    static QString errorTitle();           // "送信エラー"

signals:
    void passStarted(int pass, int passes, const QString &shownRecipient);
    void finished();

private:
    SendRequest m_request;
    SendResult m_result;
    QThread *m_thread = nullptr;
    std::atomic_bool m_cancelled{false};
};

} // namespace hollin
