#pragma once

#include "Error.h"

#include <QByteArray>
#include <QString>

class QFileDevice;
struct stat;

// Small POSIX file helpers shared by the storage classes. Every write that
// returns true has reached the disk.
namespace hollin::fileio {

// An open file descriptor, closed when it goes out of scope.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(Fd &&other) noexcept : m_fd(other.release()) {}
    Fd &operator=(Fd &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = other.release();
        }
        return *this;
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset();

private:
    int m_fd = -1;
};

// What the data folder's files and folders are created with: the owner's mail
// is nobody else's to read.
constexpr int PrivateFileMode = 0600;
constexpr int PrivateFolderMode = 0700;

QByteArray nativePath(const QString &path);
QString errnoText(int errnum);

// Creates folder and any missing folder above it, each owner-only; folders
// that exist keep their modes.
bool makeFolders(const QString &folder, Error *err);

// Called on a just-opened QFile or QSaveFile: one that creates its file makes
// it owner-only; a file that existed keeps its mode.
bool makePrivateIfNew(QFileDevice &file, bool existed, Error *err);

// Opens path for reading (readWrite: for reading and writing); a missing file is
// created empty first, and its folder entry is flushed.
Fd openOrCreate(const QString &path, bool readWrite, Error *err);

// Whether users other than the owner may read path (a missing file: no).
bool othersCanRead(const QString &path);
// Leaves path readable and writable by its owner only.
bool makeOwnerOnly(const QString &path, Error *err);

// Opens path for reading. A missing file is created empty; where it cannot be
// (its folder missing or not the user's to write) *missing is set and that is
// no error: a reader works on a data folder it may not write to.
Fd openForReading(const QString &path, bool *missing, Error *err);

// Size in bytes, or -1 with err set.
qint64 sizeOf(int fd, const QString &path, Error *err);

bool readAt(int fd, char *data, qint64 size, qint64 offset, const QString &path, Error *err);
bool writeAt(int fd, const char *data, qint64 size, qint64 offset, const QString &path, Error *err);
bool flush(int fd, const QString &path, Error *err);
// Flushes the folder that holds path, so a create, rename or delete there is durable.
bool flushFolderOf(const QString &path, Error *err);
// Flushes everything written on the file system that holds folder: one call
// for many new files, where a flush of each would cost a disk commit each.
bool flushFileSystemOf(const QString &folder, Error *err);

bool rename(const QString &from, const QString &to, Error *err);
bool remove(const QString &path, Error *err);

// What tells a file apart from one that later got its inode (ext4 hands a
// freed inode out again at once): inode, modification time and size.
QByteArray identityOf(const struct ::stat &st);

// The i-th name tried for a new file beside others: base, base-2, base-3 …
QString numberedName(const QString &base, int i);
// Now, for the names of files kept aside: yyyyMMdd-HHmmss.
QString timeStamp();
// A new file holding bytes, at the first free numbered name of base (never
// an existing one), flushed with its folder: what cannot be read is kept
// there instead of being dropped. *path: the name it got.
bool writeNewFile(const QString &base, const QByteArray &bytes, QString *path, Error *err);

// Whole contents; a missing file gives an empty array and *missing = true.
bool readWhole(const QString &path, QByteArray *out, bool *missing, Error *err);

// Replaces path with bytes through a temporary file in the same folder that is
// flushed and renamed over it, so the old or the new content survives a crash.
// The temporary file is "<path>.hollin-tmp.XXXXXX"; those that a killed
// earlier write left behind are removed first, so the caller must hold the
// folder's write lock (DataFolderLock), under which no other write is under way.
// mode: permission bits of the result (-1: keep the old file's, 0600 when new).
bool writeWholeAtomically(const QString &path, const QByteArray &bytes, int mode, Error *err);
// Removes the temporary files of earlier writes of path that a kill cut
// short; the caller holds the folder's write lock.
bool removeStaleTemporaries(const QString &path, Error *err);

} // namespace hollin::fileio
