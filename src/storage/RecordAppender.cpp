#include "RecordAppender.h"

#include "storage/FileIo.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {
constexpr int WritebackEvery = 32;

QString errnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}
} // namespace

RecordAppender::RecordAppender(const QString &dataPath, const QString &tempPath)
    : m_dataPath(dataPath), m_tempPath(tempPath)
{
}

RecordAppender::~RecordAppender()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RecordAppender::openNamedFile(Error *err)
{
    struct stat st;
    if (m_fd >= 0 && ::stat(QFile::encodeName(m_dataPath).constData(), &st) == 0 && st.st_dev == m_device
        && st.st_ino == m_inode)
        return true;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = ::open(QFile::encodeName(m_dataPath).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, fileio::PrivateFileMode);
    if (m_fd < 0)
        return fail(err, u"受信メールのファイル「%1」を開けませんでした。"_s.arg(m_dataPath), errnoText(errno));
    if (::fstat(m_fd, &st) != 0)
        return fail(err, u"受信メールのファイル「%1」の大きさを調べられません。"_s.arg(m_dataPath), errnoText(errno));
    m_device = st.st_dev;
    m_inode = st.st_ino;
    return true;
}

bool RecordAppender::sync(Error *err)
{
    // Runs before every mail: the recovery (which looks for the lists beside
    // the file) only when a compaction's temporary file is there at all.
    struct stat st;
    const bool tempLeft = ::stat(QFile::encodeName(m_tempPath).constData(), &st) == 0 || errno != ENOENT;
    if ((tempLeft && !MailRecordFile(m_dataPath, m_tempPath).recoverInterruptedCompaction(err)) || !openNamedFile(err))
        return false;
    if (::fstat(m_fd, &st) != 0)
        return fail(err, u"受信メールのファイル「%1」の大きさを調べられません。"_s.arg(m_dataPath), errnoText(errno));
    const qint64 whole = st.st_size - st.st_size % MailRecordFile::RecordSize;
    if (whole != st.st_size && ::ftruncate(m_fd, whole) != 0)
        return fail(err, u"受信メールを保存できませんでした。"_s, m_dataPath + u": "_s + errnoText(errno));
    m_count = int(std::min<qint64>(whole / MailRecordFile::RecordSize, MailRecordFile::MaxRecords));
    return true;
}

bool RecordAppender::append(const QByteArray &bytes, Error *err)
{
    if (isFull())
        return fail(err, u"受信メールの保存件数が上限（%1 件）に達しています。不要なメールを削除してから受信して下さい。"_s
                             .arg(MailRecordFile::MaxRecords));
    const off_t at = off_t(m_count) * MailRecordFile::RecordSize;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(m_fd, bytes.constData() + done, size_t(bytes.size() - done), at + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int why = n < 0 ? errno : ENOSPC;
            // No partial record stays behind (cutting needs no free space).
            if (done > 0)
                (void)::ftruncate(m_fd, at);
            return fail(err, u"受信メールを保存できませんでした。"_s, m_dataPath + u": "_s + errnoText(why));
        }
        done += n;
    }
    ++m_count;
    // The disk starts on every few records now, so that flush() mostly waits
    // for what is already written instead of writing everything at the end.
    if (m_count % WritebackEvery == 0) {
        const off_t span = off_t(WritebackEvery) * MailRecordFile::RecordSize;
        ::sync_file_range(m_fd, at + bytes.size() - span, span, SYNC_FILE_RANGE_WRITE);
    }
    return true;
}

bool RecordAppender::flush(Error *err)
{
    if (!openNamedFile(err))
        return false;
    if (::fsync(m_fd) != 0)
        return fail(err, u"受信メールを保存できませんでした。"_s, m_dataPath + u": "_s + errnoText(errno));
    return true;
}

} // namespace hollin
