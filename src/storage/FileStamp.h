#pragma once

#include <QString>

namespace hollin {

// Size, modification time and inode of a file: what a window remembers of the
// record file it listed, so that it notices when another process appended,
// deleted (a compaction makes a new inode) or rewrote records since.
struct FileStamp {
    qint64 size = -1; // -1: the file is missing
    qint64 modifiedNs = 0;
    quint64 device = 0;
    quint64 inode = 0;

    static FileStamp of(const QString &path);
    bool operator==(const FileStamp &) const = default;
};

} // namespace hollin
