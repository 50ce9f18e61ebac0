#pragma once

#include "storage/Error.h"
#include "storage/MailRecordFile.h"

#include <sys/types.h>

namespace hollin {

// Appends received mail to the end of a record file in batches: each append
// writes the record, flush() makes every record written so far durable with
// one fsync. The receive session deletes messages on the server only after
// the flush that covers them. The caller holds the data folder's write lock
// around each call, not in between: a deletion may compact the file between
// two appends, so every call first finds the file the path names now.
class RecordAppender {
public:
    RecordAppender(const QString &dataPath, const QString &tempPath);
    ~RecordAppender();
    RecordAppender(const RecordAppender &) = delete;
    RecordAppender &operator=(const RecordAppender &) = delete;

    // Finishes an interrupted compaction and cuts off a record that a killed
    // write left partial (its mail is still on the server), then opens (or
    // creates) the file.
    bool open(Error *err);
    // Follows the path to the file now there when a compaction replaced the
    // one opened (the records written before were copied into it).
    bool reopenIfReplaced(Error *err);
    bool isFull() const { return m_count >= MailRecordFile::MaxRecords; }
    // The number the next appended record gets.
    int nextNumber() const { return m_count + 1; }
    // Writes a record (the bytes of MailRecordFile::encode()) after the last
    // one; false when full or failing, and then the file ends at the last
    // whole record again.
    bool append(const QByteArray &bytes, Error *err);
    bool flush(Error *err);

private:
    bool openFile(Error *err);

    QString m_dataPath;
    QString m_tempPath;
    int m_fd = -1;
    int m_count = 0;
    dev_t m_device = 0; // of the file opened
    ino_t m_inode = 0;
};

} // namespace hollin
