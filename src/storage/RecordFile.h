#pragma once

#include "DataFolderLock.h"
#include "Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace hollin {

// A file of fixed-length records, 1-based, with a 16-bit little-endian live
// flag inside each record. The mail and address-book files are built on it.
// Every write is flushed to disk before it returns; the file is opened and
// closed within each call. Every write holds the write lock of the file's
// folder (DataFolderLock); reads take no lock and see whole records only.
class RecordFile {
public:
    struct Layout {
        int recordSize;
        int flagOffset;
        int maxRecords;
    };

    RecordFile(const QString &dataPath, const QString &tempPath, Layout layout);

    // Stores a LiveFlag value: 16 bits, little-endian.
    static void putFlag(char *at, qint16 flag);

    // Whole records (a partial tail is ignored); -1 on failure. Creates a missing file.
    int count(Error *err) const;

    // `length` bytes at `offset` inside record n.
    bool read(int n, int offset, int length, QByteArray *out, Error *err) const;

    // `length` bytes at `offset` of every record in order; the visitor returns false to stop.
    bool readEach(int offset, int length, const std::function<bool(int, const QByteArray &)> &visit,
                  Error *err) const;

    // Writes record n, 1 <= n <= count + 1. A partial tail is set aside before extending.
    bool write(int n, const QByteArray &record, Error *err);
    // Returns the new record number, or -1.
    int append(const QByteArray &record, Error *err);

    // Lists whose pending lines name records of this file by number
    // (UidlList): every compaction settles them first, while the numbers hold.
    void setPendingLists(const QStringList &paths) { m_pendingLists = paths; }

    // Rewrites the file with every live record except number `drop`,
    // or with no record at all when keepNone is set. The kept records go to the
    // temporary file, which is flushed and renamed over the data file.
    bool compact(std::optional<int> drop, bool keepNone, Error *err);

    // A temporary file holding more records than the data file is what an
    // interrupted copy-then-rewrite left: it becomes the data file again (and is
    // then compacted, dropping records that were marked). Otherwise it is removed.
    // A data file that is not empty is never thrown away: it stays beside,
    // named "<data file>.before-restore-<yyyyMMdd-HHmmss>" (or with "-2", "-3" …
    // when that exists), and the user is told once (storagenotice).
    // Every write runs this first, so a leftover copy is never overwritten or
    // outgrown; readers never run it and read the data file as it is.
    bool recover(Error *err);

    // Bytes after the last whole record (left by a writer that died halfway)
    // are moved into a new file beside the data file, named
    // "<data file>.partial-<yyyyMMdd-HHmmss>", and the user is told once
    // (storagenotice). Every write that extends or compacts the file runs this first.
    bool setAsidePartialTail(Error *err);

private:
    bool checkNumber(int n, int count, Error *err) const;
    bool setAsideTail(int fd, qint64 size, Error *err);
    // Appends the live records of the file at otherPath that this file lacks
    // (newer than the copy it was restored from); *added: how many.
    bool addMissingRecords(const QString &otherPath, int *added, Error *err);
    // The lock of the folder that holds the file, not yet taken.
    DataFolderLock writeLock() const;

    QString m_dataPath;
    QString m_tempPath;
    Layout m_layout;
    QStringList m_pendingLists;
};

} // namespace hollin
