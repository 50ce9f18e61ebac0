#pragma once

#include "storage/Error.h"
#include "storage/MailRecordFile.h"

#include <sys/types.h>

namespace hollin {

// Appends received mail to the end of a record file in batches: each append
// writes the record, flush() makes every record written so far durable with
// one fsync. The receive session deletes messages on the server only after
// the flush that covers them. The caller holds the data folder's write lock
// for as long as the appender is open; a flush still fails when the path no
// longer names the file it wrote into (replaced under it).
class RecordAppender {
public:
    RecordAppender(const QString &dataPath, const QString &tempPath);
    ~RecordAppender();
    RecordAppender(const RecordAppender &) = delete;
    RecordAppender &operator=(const RecordAppender &) = delete;

    // Finishes an interrupted compaction and sets aside a partial tail, then opens (or creates) the file.
    bool open(Error *err);
    bool isFull() const { return m_count >= MailRecordFile::MaxRecords; }
    // The number the next appended record gets.
    int nextNumber() const { return m_count + 1; }
    // Writes a record (the bytes of MailRecordFile::encode()) after the last
    // one; false when full or failing.
    bool append(const QByteArray &bytes, Error *err);
    bool flush(Error *err);

private:
    QString m_dataPath;
    QString m_tempPath;
    int m_fd = -1;
    int m_count = 0;
    dev_t m_device = 0; // of the file opened
    ino_t m_inode = 0;
};

} // namespace hollin
