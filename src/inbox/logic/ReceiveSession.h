#pragma once

#include "storage/Error.h"
#include "storage/KeepMailSettings.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <mutex>

namespace hollin {

class MailLib;
class RecordAppender;
class UidlList;
class ThreadIndex;

// Where a receive takes its server, account file and stores its mail.
struct ReceiveSettings {
    QString pop3Server;
    qint16 apopFlag = 0;          // non-zero: APOP
    QString idPassIniFile;        // ★MailData/iniIdPass.ini, read through AccountStore
    QString accountId;            // typed but not saved: used in place of the file
    QString accountPassword;
    QString receivedMailFile;     // ★MailData/hlmdata2.data
    QString receivedMailTemp;     // ★MailData/HLMDATA2.TMP
    QString attachmentFolder;     // 添付フォルダ
    QString uidlListFile;         // ★MailData/hlmuidl.txt
    QString storedMessageListFile;// ★MailData/hlmmsgid.txt
    KeepMailSettings keep = {};   // leave the mail on the server (needs UIDL)
    bool retrySkipped = false;    // fetch again the messages skipped after failed fetches
    // Asked (on the session's thread) before a login whose password would go
    // unencrypted; false ends the receive as cancelled. Unset: no question.
    std::function<bool(const QString &server)> confirmPlainLogin;
};

struct ReceiveResult {
    enum class Outcome {
        NoServer,      // no POP3 server set: nothing done
        NoConnection,  // the connection failed: nothing done
        NeedAccount,   // ID or password missing: nothing fetched
        AuthFailed,    // the server refused the login; error holds its text
        PlainRefused,  // the password would go in clear, not agreed to: no login
        Completed,     // every new message stored (and deleted unless kept)
        Stopped,       // a failure stopped the session; error says why
        Cancelled,     // the user cancelled; the stored ones are deleted
    };
    Outcome outcome = Outcome::NoServer;
    int count = 0;   // new messages on the server after login (not stored before)
    int stored = 0;  // messages stored (their records written)
    Error error;     // set for AuthFailed, PlainRefused, Stopped, and a failing close
};

// One receive: log in, and for every waiting message fetch it, extract its
// attachments and store it at the end of the received-mail file; once the
// files and records are flushed to disk (before QUIT), mark the stored
// messages for deletion. QUIT at the end commits exactly those deletions. Any
// failure stops at once (what was written is still flushed and deleted);
// nothing unstored is ever deleted.
//
// One receive runs at a time (ReceiveLock); the data folder's write lock is
// taken only while the session writes, never while it waits for the server,
// so that deletions, the address book and settings go on meanwhile. A
// deletion that compacts the record file between two messages first settles
// the session's pending UIDL lines (UidlList.h).
//
// Nothing is stored twice: the unique ids (UIDL) of stored messages are kept
// in the UIDL list of this server and account, so that messages a cut-off
// receive stored but could not delete are deleted unfetched by the next one.
// A server without UIDL gets a QUIT and a new login after every batch
// instead, so that at most one batch can come twice.
//
// With keep (KeepMailSettings) only the messages whose UIDL is not in the list
// are fetched, nothing fetched is deleted, and a stored one is deleted once it
// is the set number of days old. A server without usable UIDL cannot keep
// mail apart: the session then stops without fetching or deleting anything.
//
// A message whose fetch failed FailuresBeforeSkipping times in a row stays
// on the server and is skipped, so that it does not hold back later mail;
// every receive says so.
// run() blocks; the signals come from the thread that calls it.
class ReceiveSession : public QObject {
    Q_OBJECT
public:
    explicit ReceiveSession(const ReceiveSettings &settings, QObject *parent = nullptr);
    ~ReceiveSession() override;

    ReceiveResult run();
    static constexpr int FailuresBeforeSkipping = 3;

    // May be called from any thread; takes effect before the next message,
    // and ends a stalled transfer at once. Deletions of stored messages and
    // the QUIT that commits them still run to their end.
    void cancel();
    // At the program's end: like cancel(), and the deletions and the QUIT
    // are cut short too. Nothing is lost: the stored messages are listed,
    // so the next receive deletes them on the server unfetched.
    void abort();
    bool isCancelled() const { return m_cancelled; }


signals:
    // The account read from the account file (before it is checked).
    void accountRead(const QString &id, const QString &password);
    // Before message n of count is fetched.
    void progress(int n, int count);
    // A message box the session asks for; the session goes on after it.
    void notice(const QString &text);
    // A mail as stored, for the inbox boxes.
    void messageReceived(const QString &subject, const QString &from, const QString &date,
                         const QString &body);

private:
    struct Fetched {
        QString subject, date, from, header, body;
    };
    struct Ids {
        QString uid; // the server's, empty without UIDL
        QString key; // messageKey()
    };
    // Extracts and stores the message just fetched; the write lock is held.
    bool storeOne(MailLib &lib, int n, const Ids &ids, const Fetched &mail, RecordAppender &store,
                  UidlList *uidls, UidlList &keys, ThreadIndex &threads, Error *err);
    // Kept fragments of split mails stored before (see AttachmentExtractor).
    void removeStoredSplitSets(const UidlList &keys) const;
    // Server waits are cut at a cancel only while messages are fetched.
    void setFetching(bool fetching);

    ReceiveSettings m_settings;
    std::atomic_bool m_cancelled = false;
    std::atomic_bool m_cutWaits = false; // handed to the mail library
    std::mutex m_cancelMutex;            // m_fetching and m_cutWaits change together
    bool m_fetching = false;
    bool m_aborted = false;
    bool m_unflushedFiles = false; // files in the attachment folder not yet flushed
    bool m_incompleteSplit = false; // the mail just stored is a part of an incomplete set
    QStringList m_doneFragments;    // of split mails stored, removed once their records are durable
};

} // namespace hollin
