#pragma once

#include "Error.h"

#include <QString>

namespace hollin {

// The one write lock of a data folder: every write to a record or settings
// file holds it, so that two writers (two processes, or two threads of one)
// never interleave. It is an exclusive flock on "hollin-write.lock" inside the
// folder, one open file description per holder, released when the holder ends
// (also when its process dies). The holder writes one line into the file that
// says what it does, e.g. "受信（hollin-cli、pid 1234）", which a waiting writer
// shows when it gives up.
//
// Re-entrant per thread: while a thread holds the lock of a folder, taking it
// again on that thread only counts, so a receive session that holds it for the
// whole session can still call record-file writes that take it themselves.
//
//     DataFolderLock lock(root.dataFolder(), u"削除"_s);
//     if (!lock.take(&err))
//         return false;   // err: "ほかの操作がデータを書き込み中です：受信（hollin-cli、pid 1234）…"
class DataFolderLock {
public:
    static constexpr int DefaultWaitMs = 2000;
    static constexpr const char16_t *FileName = u"hollin-write.lock";

    // what: the operation, for a writer that has to wait ("受信", "削除", …).
    DataFolderLock(const QString &folder, const QString &what);
    ~DataFolderLock();
    DataFolderLock(DataFolderLock &&other) noexcept;
    DataFolderLock &operator=(DataFolderLock &&) = delete;
    DataFolderLock(const DataFolderLock &) = delete;
    DataFolderLock &operator=(const DataFolderLock &) = delete;

    // Waits up to waitMs for another holder, then fails with what that holder does.
    bool take(Error *err, int waitMs = DefaultWaitMs);
    bool isHeld() const { return m_held; }
    // After a failed take(): true when another holder kept the lock past the wait.
    bool wasBusy() const { return m_busy; }
    void release();

private:
    QString m_folder;
    QString m_what;
    bool m_held = false;
    bool m_busy = false;
    quint64 m_device = 0; // of the folder: two spellings of one folder are one lock
    quint64 m_inode = 0;
};

} // namespace hollin
