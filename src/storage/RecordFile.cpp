#include "RecordFile.h"

#include "FileIo.h"
#include "StorageNotice.h"
#include "UidlList.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace hollin {

using fileio::Fd;

namespace {

struct Run {
    qint64 offset;
    qint64 length;
};

qint16 flagOf(const char *bytes)
{
    return qint16(quint16(static_cast<unsigned char>(bytes[0]))
                  | quint16(quint16(static_cast<unsigned char>(bytes[1])) << 8));
}

// The copy goes to disk piece by piece while it runs, so that the flush at
// its end finds little left to write.
constexpr qint64 WritebackPiece = 32 << 20;

void startWriteback(int fd, qint64 offset, qint64 length)
{
    // Only a hint: the flush before the rename is what makes the copy durable.
    ::sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE);
}

// Copies `length` bytes at `from` in src to the end position `to` of dst,
// in the kernel when it can, by reading and writing otherwise.
bool copyRange(int src, qint64 from, int dst, qint64 to, qint64 length, const QString &srcPath,
               const QString &dstPath, Error *err)
{
    loff_t in = from;
    loff_t out = to;
    while (length > 0) {
        const ssize_t n = ::copy_file_range(src, &in, dst, &out, size_t(std::min(length, WritebackPiece)), 0);
        if (n > 0) {
            length -= n;
            startWriteback(dst, out - n, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            return fail(err, u"ファイル「%1」が途中で終わっています。"_s.arg(srcPath));
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            return fail(err, u"ファイル「%1」に書き込めません。"_s.arg(dstPath), fileio::errnoText(errno));
        break;
    }
    QByteArray buffer(int(std::min<qint64>(length, 1 << 20)), Qt::Uninitialized);
    while (length > 0) {
        const qint64 chunk = std::min<qint64>(length, buffer.size());
        if (!fileio::readAt(src, buffer.data(), chunk, in, srcPath, err)
            || !fileio::writeAt(dst, buffer.constData(), chunk, out, dstPath, err))
            return false;
        startWriteback(dst, out, chunk);
        in += chunk;
        out += chunk;
        length -= chunk;
    }
    return true;
}

// A second name for the file at path, the first free numbered name: the
// file keeps what it holds under that name once path is replaced. Nothing is
// copied, and no existing file is overwritten.
bool linkNewName(const QString &path, const QString &base, QString *kept, Error *err)
{
    const QByteArray from = fileio::nativePath(path);
    for (int i = 1;; ++i) {
        *kept = fileio::numberedName(base, i);
        if (::link(from.constData(), fileio::nativePath(*kept).constData()) == 0)
            return fileio::flushFolderOf(*kept, err);
        if (errno != EEXIST)
            return fail(err, u"ファイル「%1」を「%2」として残せません。"_s.arg(path, *kept), fileio::errnoText(errno));
    }
}

} // namespace

RecordFile::RecordFile(const QString &dataPath, const QString &tempPath, Layout layout)
    : m_dataPath(dataPath), m_tempPath(tempPath), m_layout(layout)
{
}

void RecordFile::putFlag(char *at, qint16 flag)
{
    at[0] = char(quint16(flag) & 0xFF);
    at[1] = char(quint16(flag) >> 8);
}

int RecordFile::count(Error *err) const
{
    bool missing = false;
    Fd fd = fileio::openForReading(m_dataPath, &missing, err);
    if (!fd.isOpen())
        return missing ? 0 : -1;
    const qint64 size = fileio::sizeOf(fd.get(), m_dataPath, err);
    return size < 0 ? -1 : int(size / m_layout.recordSize);
}

bool RecordFile::checkNumber(int n, int count, Error *err) const
{
    if (n >= 1 && n <= count)
        return true;
    return fail(err, u"%1 番のレコードはありません（全 %2 件）。"_s.arg(n).arg(count));
}

bool RecordFile::read(int n, int offset, int length, QByteArray *out, Error *err) const
{
    bool missing = false;
    Fd fd = fileio::openForReading(m_dataPath, &missing, err);
    if (!fd.isOpen())
        return missing ? checkNumber(n, 0, err) : false;
    const qint64 size = fileio::sizeOf(fd.get(), m_dataPath, err);
    if (size < 0 || !checkNumber(n, int(size / m_layout.recordSize), err))
        return false;
    out->resize(length);
    return fileio::readAt(fd.get(), out->data(), length, qint64(n - 1) * m_layout.recordSize + offset,
                          m_dataPath, err);
}

bool RecordFile::readEach(int offset, int length, const std::function<bool(int, const QByteArray &)> &visit,
                          Error *err) const
{
    bool missing = false;
    Fd fd = fileio::openForReading(m_dataPath, &missing, err);
    if (!fd.isOpen())
        return missing;
    const qint64 size = fileio::sizeOf(fd.get(), m_dataPath, err);
    if (size < 0)
        return false;
    const int count = int(size / m_layout.recordSize);
    // Reading a slice of each record: tell the kernel not to read ahead into the rest.
    ::posix_fadvise(fd.get(), 0, 0, length < m_layout.recordSize ? POSIX_FADV_RANDOM : POSIX_FADV_SEQUENTIAL);
    QByteArray bytes(length, Qt::Uninitialized);
    for (int n = 1; n <= count; ++n) {
        if (!fileio::readAt(fd.get(), bytes.data(), length, qint64(n - 1) * m_layout.recordSize + offset,
                            m_dataPath, err))
            return false;
        if (!visit(n, bytes))
            break;
    }
    return true;
}

DataFolderLock RecordFile::writeLock() const
{
    const QFileInfo file(m_dataPath);
    return DataFolderLock(file.absolutePath(), u"%1 への書き込み"_s.arg(file.fileName()));
}

bool RecordFile::write(int n, const QByteArray &record, Error *err)
{
    Q_ASSERT(record.size() == m_layout.recordSize);
    DataFolderLock lock = writeLock();
    if (!lock.take(err) || !recover(err))
        return false;
    Fd fd = fileio::openOrCreate(m_dataPath, true, err);
    if (!fd.isOpen())
        return false;
    const qint64 size = fileio::sizeOf(fd.get(), m_dataPath, err);
    if (size < 0)
        return false;
    const qint64 count = size / m_layout.recordSize;
    if (n < 1 || n > count + 1)
        return fail(err, u"%1 番のレコードには書き込めません（全 %2 件）。"_s.arg(n).arg(count));
    if (n > m_layout.maxRecords)
        return fail(err, u"レコードが上限の %1 件に達しているため、これ以上追加できません。"_s.arg(m_layout.maxRecords));
    const qint64 offset = qint64(n - 1) * m_layout.recordSize;
    const bool extending = n == count + 1;
    if (extending && !setAsideTail(fd.get(), size, err))
        return false;
    if (fileio::writeAt(fd.get(), record.constData(), record.size(), offset, m_dataPath, err)
        && fileio::flush(fd.get(), m_dataPath, err))
        return true;
    // A new record that is not known to be on disk is taken back whole: no
    // partial record stays, and trying again does not store it twice.
    if (extending)
        (void)::ftruncate(fd.get(), offset);
    return false;
}

int RecordFile::append(const QByteArray &record, Error *err)
{
    DataFolderLock lock = writeLock();
    if (!lock.take(err) || !recover(err))
        return -1;
    const int n = count(err);
    if (n < 0)
        return -1;
    if (n >= m_layout.maxRecords) {
        fail(err, u"レコードが上限の %1 件に達しているため、これ以上追加できません。"_s.arg(m_layout.maxRecords));
        return -1;
    }
    return write(n + 1, record, err) ? n + 1 : -1;
}

bool RecordFile::compact(std::optional<int> drop, bool keepNone, Error *err)
{
    // The temporary file is about to be overwritten: it must not be the only copy.
    // Only whole records are copied: a partial tail is kept aside first.
    DataFolderLock lock = writeLock();
    if (!lock.take(err) || !recover(err) || !setAsidePartialTail(err))
        return false;
    for (const QString &list : std::as_const(m_pendingLists)) {
        if (!UidlList::settle(list, m_dataPath, err))
            return false;
    }
    Fd src = fileio::openOrCreate(m_dataPath, false, err);
    if (!src.isOpen())
        return false;
    struct stat st;
    if (::fstat(src.get(), &st) != 0)
        return fail(err, u"ファイル「%1」の大きさを調べられません。"_s.arg(m_dataPath), fileio::errnoText(errno));
    const int count = int(st.st_size / m_layout.recordSize);
    if (drop && !checkNumber(*drop, count, err))
        return false;

    // The kept records as runs of neighbours, so that they are copied in large pieces.
    std::vector<Run> runs;
    if (!keepNone) {
        ::posix_fadvise(src.get(), 0, 0, POSIX_FADV_RANDOM);
        for (int n = 1; n <= count; ++n) {
            const qint64 offset = qint64(n - 1) * m_layout.recordSize;
            char flag[2];
            if (!fileio::readAt(src.get(), flag, 2, offset + m_layout.flagOffset, m_dataPath, err))
                return false;
            if (n == drop || flagOf(flag) == 0)
                continue;
            if (!runs.empty() && runs.back().offset + runs.back().length == offset)
                runs.back().length += m_layout.recordSize;
            else
                runs.push_back({offset, m_layout.recordSize});
        }
        ::posix_fadvise(src.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }

    const QByteArray tempNative = fileio::nativePath(m_tempPath);
    // The copy keeps the file's mode exactly, whatever the umask.
    Fd dst(::open(tempNative.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777));
    if (!dst.isOpen())
        return fail(err, u"一時ファイル「%1」を作れません。"_s.arg(m_tempPath), fileio::errnoText(errno));
    if (::fchmod(dst.get(), st.st_mode & 07777) != 0) {
        fail(err, u"一時ファイル「%1」の権限を設定できません。"_s.arg(m_tempPath), fileio::errnoText(errno));
        dst.reset();
        fileio::remove(m_tempPath, nullptr);
        return false;
    }
    qint64 written = 0;
    for (const Run &run : runs) {
        if (!copyRange(src.get(), run.offset, dst.get(), written, run.length, m_dataPath, m_tempPath, err)) {
            dst.reset();
            fileio::remove(m_tempPath, nullptr);
            return false;
        }
        written += run.length;
    }
    if (!fileio::flush(dst.get(), m_tempPath, err)) {
        dst.reset();
        fileio::remove(m_tempPath, nullptr);
        return false;
    }
    dst.reset();
    const bool replaced = fileio::rename(m_tempPath, m_dataPath, err);
    // Closing the replaced file makes the kernel drop its cached pages and free
    // its space, which takes about as long as the flush. Nothing waits for it:
    // the deletion is complete, so the last close runs on a thread of its own.
    if (replaced)
        std::thread([old = std::move(src)]() mutable { old.reset(); }).detach();
    return replaced;
}

bool RecordFile::recover(Error *err)
{
    // Without a temporary file there is nothing to do. A temporary file may
    // belong to a compaction under way in another process, which the lock waits for.
    struct stat st;
    if (::stat(fileio::nativePath(m_tempPath).constData(), &st) != 0 && errno == ENOENT)
        return true;
    DataFolderLock lock = writeLock();
    if (!lock.take(err))
        return false;
    Fd temp(::open(fileio::nativePath(m_tempPath).constData(), O_RDONLY | O_CLOEXEC));
    if (!temp.isOpen()) {
        if (errno == ENOENT)
            return true;
        return fail(err, u"一時ファイル「%1」を開けません。"_s.arg(m_tempPath), fileio::errnoText(errno));
    }
    const qint64 tempSize = fileio::sizeOf(temp.get(), m_tempPath, err);
    if (tempSize < 0)
        return false;
    temp.reset();
    qint64 dataSize = 0;
    if (::stat(fileio::nativePath(m_dataPath).constData(), &st) == 0)
        dataSize = st.st_size;
    else if (errno != ENOENT)
        return fail(err, u"ファイル「%1」を開けません。"_s.arg(m_dataPath), fileio::errnoText(errno));

    const qint64 tempRecords = tempSize / m_layout.recordSize;
    const qint64 dataRecords = dataSize / m_layout.recordSize;
    if (tempRecords <= dataRecords)
        return fileio::remove(m_tempPath, err);
    // The data file may be a partial rewrite, or newer than a copy left long
    // ago: nothing tells them apart, so it is kept under a new name before
    // the copy replaces it (one atomic rename). Then the deletion that was
    // under way is finished.
    QString keptPath;
    if (dataSize > 0 && !linkNewName(m_dataPath, m_dataPath + u".before-restore-"_s + fileio::timeStamp(), &keptPath, err))
        return false;
    if (!fileio::rename(m_tempPath, m_dataPath, err))
        return false;
    int added = 0;
    if (!keptPath.isEmpty() && !addMissingRecords(keptPath, &added, err))
        return false;
    if (!keptPath.isEmpty())
        storagenotice::tell(u"ファイル「%1」を、前回途中で止まった削除の一時ファイル「%2」から元に戻しました（%3 件）。"
                            u"それまでのファイル（%4 件）は「%5」として残し、そのうち一時ファイルになかった %6 件は"
                            u"元に戻したファイルの最後に加えました。"_s
                                .arg(m_dataPath, QFileInfo(m_tempPath).fileName())
                                .arg(tempRecords)
                                .arg(dataRecords)
                                .arg(QFileInfo(keptPath).fileName())
                                .arg(added));
    return compact(std::nullopt, false, err);
}

bool RecordFile::addMissingRecords(const QString &otherPath, int *added, Error *err)
{
    // A record is the same whatever its live flag says.
    auto keyOf = [this](QByteArray record) {
        record[m_layout.flagOffset] = 0;
        record[m_layout.flagOffset + 1] = 0;
        return record;
    };
    QSet<QByteArray> present;
    if (!readEach(0, m_layout.recordSize, [&](int, const QByteArray &record) {
            present.insert(keyOf(record));
            return true;
        }, err))
        return false;
    QByteArray missing;
    if (!RecordFile(otherPath, m_tempPath, m_layout).readEach(0, m_layout.recordSize, [&](int, const QByteArray &record) {
            if (flagOf(record.constData() + m_layout.flagOffset) != 0 && !present.contains(keyOf(record))) {
                missing += record;
                ++*added;
            }
            return true;
        }, err))
        return false;
    if (missing.isEmpty())
        return true;
    Fd fd = fileio::openOrCreate(m_dataPath, true, err);
    const qint64 size = fd.isOpen() ? fileio::sizeOf(fd.get(), m_dataPath, err) : -1;
    const qint64 end = size - size % m_layout.recordSize;
    return size >= 0 && setAsideTail(fd.get(), size, err)
        && fileio::writeAt(fd.get(), missing.constData(), missing.size(), end, m_dataPath, err)
        && fileio::flush(fd.get(), m_dataPath, err);
}

bool RecordFile::setAsidePartialTail(Error *err)
{
    DataFolderLock lock = writeLock();
    if (!lock.take(err))
        return false;
    Fd fd = fileio::openOrCreate(m_dataPath, true, err);
    if (!fd.isOpen())
        return false;
    const qint64 size = fileio::sizeOf(fd.get(), m_dataPath, err);
    return size >= 0 && setAsideTail(fd.get(), size, err);
}

bool RecordFile::setAsideTail(int fd, qint64 size, Error *err)
{
    const qint64 whole = size - size % m_layout.recordSize;
    if (whole == size)
        return true;
    QByteArray tail(size - whole, Qt::Uninitialized);
    QString keptPath;
    const QString base = m_dataPath + u".partial-"_s + fileio::timeStamp();
    if (!fileio::readAt(fd, tail.data(), tail.size(), whole, m_dataPath, err)
        || !fileio::writeNewFile(base, tail, &keptPath, err))
        return false;
    if (::ftruncate(fd, whole) != 0)
        return fail(err, u"ファイル「%1」に書き込めません。"_s.arg(m_dataPath), fileio::errnoText(errno));
    if (!fileio::flush(fd, m_dataPath, err))
        return false;
    storagenotice::tell(u"ファイル「%1」の最後のレコードは途中までしか書かれていませんでした（%2 バイト）。"
                        u"その部分を「%3」に移して残しました。"_s
                            .arg(m_dataPath).arg(tail.size()).arg(QFileInfo(keptPath).fileName()));
    return true;
}

} // namespace hollin
