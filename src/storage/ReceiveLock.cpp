#include "ReceiveLock.h"

#include <QCoreApplication>
#include <QDir>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace hollin {

bool ReceiveLock::take(Error *err)
{
    const QString path = QDir(m_folder).filePath(QString::fromUtf16(FileName));
    fileio::Fd fd(::open(fileio::nativePath(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, fileio::PrivateFileMode));
    if (!fd.isOpen())
        return fail(err, u"ファイル「%1」を開けません。"_s.arg(path), fileio::errnoText(errno));
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return fail(err, u"ファイル「%1」をロックできません。"_s.arg(path), fileio::errnoText(errno));
        char holder[128] = {};
        const ssize_t n = ::pread(fd.get(), holder, sizeof holder - 1, 0);
        return fail(err, u"ほかのプログラムが受信中です（%1）。終わってからもう一度受信して下さい。"_s
                             .arg(QString::fromUtf8(holder, n > 0 ? n : 0).trimmed()));
    }
    QString program = QCoreApplication::applicationName();
    if (program.isEmpty())
        program = QString::fromLocal8Bit(program_invocation_short_name);
    const QByteArray holder = u"%1、pid %2"_s.arg(program).arg(::getpid()).toUtf8();
    // Only tells a second receive who holds the lock: a failure changes nothing.
    if (::ftruncate(fd.get(), 0) == 0)
        (void)::pwrite(fd.get(), holder.constData(), size_t(holder.size()), 0);
    m_fd = std::move(fd);
    return true;
}

} // namespace hollin
