#pragma once

#include "Error.h"
#include "FileIo.h"

#include <QString>

namespace hollin {

// One receive at a time per data folder, across processes: two receives
// would fetch and store the same messages. An exclusive flock on
// "hollin-receive.lock" in the data folder, held for the whole receive and
// released when the holder ends (also when its process dies). Separate from
// the write lock (DataFolderLock), which a receive takes only while it writes,
// so that other writers go on while it waits for the server.
class ReceiveLock {
public:
    static constexpr const char16_t *FileName = u"hollin-receive.lock";

    explicit ReceiveLock(const QString &folder) : m_folder(folder) {}

    // Fails at once when another receive holds it, saying which.
    bool take(Error *err);

private:
    QString m_folder;
    fileio::Fd m_fd;
};

} // namespace hollin
