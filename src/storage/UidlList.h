#pragma once

#include "Error.h"
#include "FileIo.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

namespace hollin {

// The POP3 messages already stored, by their unique id (UIDL), in one small
// line-based file in ★MailData. A receive cut off before its QUIT (killed,
// connection lost) leaves its stored messages on the server; the next receive
// finds them here and deletes them instead of storing them again.
//
// Ids are only unique on one server for one account, so every line names the
// account it belongs to (accountKey()); the lines of other accounts are kept
// as they are. Lines (ASCII, LF):
//   <uidl> <first stored, unix seconds> <account>                          stored
//   <uidl> <unix seconds> <account> <record number> <SHA-1 of the record>  pending
//     [<identity>:<hex of the UTF-8 path>,…]   files written for that record
//     (fileio::identityOf())
//   <uidl> F<failed fetches> <account>                                     failing
// Lines of earlier versions have no account ("<uidl> <time>", and pending
// "<uidl> <time> <number> <SHA-1>"): the first account that loads the list
// takes them over.
//
// A pending line is appended just before its record is written (no flush);
// commit(), called once the records are flushed, rewrites the file
// atomically with every pending entry stored. Another writer may have
// rewritten the list while the lock was free (an import adds keys, a
// compaction settles pending lines): every rewrite after the load first
// reads the file again and keeps what it finds there. A record write that fails
// drops its entry (dropPending()), so only a written record ever becomes
// stored. settle() turns what a killed receive left pending into stored
// entries when the record is in the file byte for byte (the record file is
// flushed first) and drops the others, whose messages are fetched again,
// removing the files written for them.
// Record numbers change when the record file is compacted, so every
// compaction settles the list first, under the data folder's lock. A line
// without its LF was cut by a kill and is ignored: its record was never
// written.
class UidlList {
public:
    // account: accountKey() of the account this receive uses, or
    // StoredMessages for the list of message keys (messageKey()).
    UidlList(const QString &path, const QString &recordFile, const QString &account);

    // The stored-message list keeps the keys of this many messages at most,
    // the newest: more than the record file holds at once.
    static constexpr int StoredMessagesKept = 65536;
    static constexpr const char16_t *StoredMessages = u"messages";

    // A short, stable name of a server and login (no password).
    static QString accountKey(const QString &server, const QString &id);

    // Reads the list and settles what a killed receive left pending.
    bool load(Error *err);
    // Settles the pending lines of every account in the list at path, whose
    // record numbers refer to recordFile. Nothing to do without a list.
    static bool settle(const QString &path, const QString &recordFile, Error *err);

    // When uid was first stored (unix seconds), or -1 when it is not stored.
    qint64 storedSince(const QString &uid) const { return m_stored.value(uid, -1); }
    // Stored, or its record written in this run: the same mail twice in one
    // receive or one import is stored once.
    bool isKnown(const QString &uid) const { return m_stored.contains(uid) || m_pending.contains(uid); }
    // Lines of the list that could not be read (damaged), at the last load,
    // and the file beside the list they were moved into.
    int unreadableLines() const { return m_unreadable; }
    QString keptAside() const { return m_keptAside; }
    // How often fetching uid failed since it last succeeded.
    int failures(const QString &uid) const { return m_failures.value(uid, 0); }

    // A file written for a record still to come: removed again when the
    // record never came (if it is still the same file).
    struct NotedFile {
        QString path;
        QByteArray identity; // fileio::identityOf()
    };
    // The entry for a file that is there now; empty path when it is not.
    static NotedFile notedFile(const QString &path);
    // Notes uid as pending before recordBytes are written as recordNumber,
    // with the files that belong to that record.
    bool addPending(const QString &uid, int recordNumber, const QByteArray &recordBytes, Error *err,
                    const QList<NotedFile> &files = {});
    // uid is stored already under another id (found by its message key):
    // stored at the next commit() without a record of its own.
    void markStored(const QString &uid);
    // The record of a pending uid could not be written: it never becomes stored.
    void dropPending(const QString &uid) { m_pending.remove(uid); }
    // Counts a failed fetch of uid (written at once).
    bool noteFailure(const QString &uid, Error *err);
    // Makes the pending lines appended so far durable: before the records
    // they name are, or a power cut could keep a record whose line is gone,
    // and its mail, still on the server, would be stored again.
    bool flushPending(Error *err);
    // Every pending entry becomes stored; the records must be flushed.
    bool commit(Error *err);
    // Forgets the ids of this account that are not in onServer (after a QUIT).
    bool prune(const QSet<QString> &onServer, Error *err);

    // A unique id this file can hold: 1 to 70 printable ASCII characters.
    static bool isUsableId(const QString &uid);

private:
    bool openForAppend(Error *err);
    // Before a rewrite, under the write lock: what other writers wrote since
    // the load is kept (see takeInOtherWrites() in the source).
    bool takeInOtherWrites(Error *err);
    static void removeNotedFiles(const QByteArray &field);
    bool rewrite(Error *err);

    QString m_path;
    QString m_recordFile;
    QByteArray m_account;
    QHash<QString, qint64> m_stored;   // uid -> first stored
    struct Pending {
        qint64 time;
        QByteArray line; // as appended: a rewrite before commit() keeps it
    };
    QHash<QString, Pending> m_pending;
    QHash<QString, int> m_failures;    // uid -> failed fetches
    QList<QByteArray> m_otherAccounts; // lines kept as they are
    QSet<QString> m_forgotten;         // pruned: not taken in again from the file
    int m_unreadable = 0;
    QString m_keptAside;
    fileio::Fd m_append;               // the file as last written, for pending lines
    bool m_created = false;            // m_append made the file: its name is not durable yet
};

} // namespace hollin
