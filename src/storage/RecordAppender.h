#pragma once

#include "Error.h"
#include "MailRecordFile.h"

#include <sys/types.h>

namespace hollin {

// The one writer of the received-mail file's end: a receive and an import
// append through it. Each append writes the record, flush() makes every
// record written so far durable with one fsync; a receive deletes messages
// on the server only after the flush that covers them.
//
// The caller holds the data folder's write lock around each call, not in
// between, and calls sync() first in every hold: while the lock was free
// another writer may have appended (an import) or compacted (a deletion),
// so where the file ends is read from the file, never kept.
class RecordAppender {
public:
    RecordAppender(const QString &dataPath, const QString &tempPath);
    ~RecordAppender();
    RecordAppender(const RecordAppender &) = delete;
    RecordAppender &operator=(const RecordAppender &) = delete;

    // Finishes an interrupted compaction, opens (or creates) the file the
    // path names now and finds its end; a record that a killed writer left
    // partial is cut off (its mail is still on the server or in the file it
    // was imported from: its pending line never settles).
    bool sync(Error *err);
    bool isFull() const { return m_count >= MailRecordFile::MaxRecords; }
    // The number the next appended record gets (valid until the lock is released).
    int nextNumber() const { return m_count + 1; }
    // Records in the file at the last sync() and since.
    int count() const { return m_count; }
    // Writes a record (the bytes of MailRecordFile::encode()) after the last
    // one; false when full or failing, and then the file ends at the last
    // whole record again.
    bool append(const QByteArray &bytes, Error *err);
    // Makes the records written durable (in the file the path names now: a
    // compaction copied them into it).
    bool flush(Error *err);

private:
    bool openNamedFile(Error *err);

    QString m_dataPath;
    QString m_tempPath;
    int m_fd = -1;
    int m_count = 0;
    dev_t m_device = 0; // of the file opened
    ino_t m_inode = 0;
};

} // namespace hollin
