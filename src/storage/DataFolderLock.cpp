#include "DataFolderLock.h"

#include "FileIo.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

constexpr auto PollInterval = std::chrono::milliseconds(20);
constexpr int DescriptionSize = 256;

// The locks this thread holds, one entry per data folder.
struct Holding {
    quint64 device;
    quint64 inode;
    int fd;
    int count;
};
thread_local std::vector<Holding> t_holdings;

std::vector<Holding>::iterator holdingOf(quint64 device, quint64 inode)
{
    return std::find_if(t_holdings.begin(), t_holdings.end(), [&](const Holding &h) {
        return h.device == device && h.inode == inode;
    });
}

QString holderText(const QString &what)
{
    QString program = QCoreApplication::applicationName();
    if (program.isEmpty())
        program = QString::fromLocal8Bit(program_invocation_short_name);
    return u"%1（%2、pid %3）"_s.arg(what, program).arg(::getpid());
}

// What the holder wrote into the lock file; empty when nothing was ever written.
QString readHolder(int fd)
{
    char buffer[DescriptionSize];
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
    return n > 0 ? QString::fromUtf8(buffer, n).trimmed() : QString();
}

bool busy(Error *err, const QString &holder)
{
    const QString what = holder.isEmpty() ? QString() : u"："_s + holder;
    return fail(err, u"ほかの操作がデータを書き込み中です%1。終わってからもう一度お試しください。"_s.arg(what));
}

} // namespace

DataFolderLock::DataFolderLock(const QString &folder, const QString &what) : m_folder(folder), m_what(what) {}

DataFolderLock::~DataFolderLock()
{
    release();
}

DataFolderLock::DataFolderLock(DataFolderLock &&other) noexcept
    : m_folder(std::move(other.m_folder)), m_what(std::move(other.m_what)), m_held(other.m_held),
      m_device(other.m_device), m_inode(other.m_inode)
{
    other.m_held = false;
}

bool DataFolderLock::take(Error *err, int waitMs)
{
    if (m_held)
        return true;
    m_busy = false;
    struct stat folder;
    if (::stat(fileio::nativePath(m_folder).constData(), &folder) != 0)
        return fail(err, u"データフォルダ「%1」を開けません。"_s.arg(m_folder), fileio::errnoText(errno));
    m_device = folder.st_dev;
    m_inode = folder.st_ino;
    if (auto held = holdingOf(m_device, m_inode); held != t_holdings.end()) {
        ++held->count;
        m_held = true;
        return true;
    }

    const QString path = QDir(m_folder).filePath(QString::fromUtf16(FileName));
    fileio::Fd fd(::open(fileio::nativePath(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, fileio::PrivateFileMode));
    if (!fd.isOpen())
        return fail(err, u"ファイル「%1」を開けません。"_s.arg(path), fileio::errnoText(errno));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return fail(err, u"ファイル「%1」をロックできません。"_s.arg(path), fileio::errnoText(errno));
        if (std::chrono::steady_clock::now() >= deadline) {
            m_busy = true;
            return busy(err, readHolder(fd.get()));
        }
        std::this_thread::sleep_for(PollInterval);
    }
    // The description only helps a waiting writer to say who holds the lock:
    // a failure to write it does not stop this writer. It is written in place,
    // padded to a fixed size: a file that is truncated and rewritten is flushed
    // by the file system when closed, which would slow down every write.
    QByteArray holder = holderText(m_what).toUtf8().left(DescriptionSize - 1);
    holder += QByteArray(DescriptionSize - 1 - holder.size(), ' ') + '\n';
    (void)::pwrite(fd.get(), holder.constData(), size_t(holder.size()), 0);
    t_holdings.push_back({m_device, m_inode, fd.release(), 1});
    m_held = true;
    return true;
}

void DataFolderLock::release()
{
    if (!m_held)
        return;
    m_held = false;
    const auto held = holdingOf(m_device, m_inode);
    Q_ASSERT(held != t_holdings.end());
    if (held == t_holdings.end() || --held->count > 0)
        return;
    ::close(held->fd); // releases the flock
    t_holdings.erase(held);
}

} // namespace hollin
