#pragma once

#include "storage/Error.h"
#include "storage/FileIo.h"

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
// Lines (ASCII, LF):
//   <uidl> <first stored, unix seconds>                          stored
//   <uidl> <unix seconds> <record number> <SHA-1 of the record>  pending
// A pending line is appended just before its record is written (no flush);
// commit(), called once the records are flushed, rewrites the file
// atomically with every pending entry stored. load() settles what a killed
// receive left pending: an entry whose record is in the file byte for byte is
// stored (the record file is flushed first), the others are dropped and
// their messages fetched again. A line without its LF was cut by the kill and
// is ignored: its record was never written.
class UidlList {
public:
    UidlList(const QString &path, const QString &recordFile);

    bool load(Error *err);
    // When uid was first stored (unix seconds), or -1 when it is not stored.
    qint64 storedSince(const QString &uid) const { return m_stored.value(uid, -1); }

    // Notes uid as pending before recordBytes are written as recordNumber.
    bool addPending(const QString &uid, int recordNumber, const QByteArray &recordBytes, Error *err);
    // Every pending entry becomes stored; the records must be flushed.
    bool commit(Error *err);
    // Forgets the stored ids that are not in onServer (after a QUIT).
    bool prune(const QSet<QString> &onServer, Error *err);

    // A unique id this file can hold: 1 to 70 printable ASCII characters.
    static bool isUsableId(const QString &uid);

private:
    bool recordMatches(int recordNumber, const QByteArray &sha1) const;
    bool rewrite(Error *err);

    QString m_path;
    QString m_recordFile;
    QHash<QString, qint64> m_stored; // uid -> first stored
    QHash<QString, qint64> m_pending;
    fileio::Fd m_append;             // the file as last written, for pending lines
};

} // namespace hollin
