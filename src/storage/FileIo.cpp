#include "FileIo.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace hollin::fileio {

void Fd::reset()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

QString errnoText(int errnum)
{
    return QString::fromLocal8Bit(std::strerror(errnum));
}

namespace {

bool failErrno(Error *err, const QString &message, const QString &path, int errnum)
{
    return fail(err, message.arg(path), errnoText(errnum));
}

QString folderPath(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

constexpr const char *TemporarySuffix = ".hollin-tmp.";
constexpr int TemporaryRandomLength = 6; // the XXXXXX of mkostemp

} // namespace

bool removeStaleTemporaries(const QString &path, Error *err)
{
    const QFileInfo file(path);
    const QString prefix = file.fileName() + QLatin1StringView(TemporarySuffix);
    const QStringList names = file.dir().entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (name.size() == prefix.size() + TemporaryRandomLength && name.startsWith(prefix)
            && !remove(file.dir().filePath(name), err))
            return false;
    }
    return true;
}

bool makeFolders(const QString &folder, Error *err)
{
    const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    qsizetype end = 0;
    while (end < absolute.size()) {
        end = absolute.indexOf(u'/', end + 1);
        if (end < 0)
            end = absolute.size();
        const QByteArray native = nativePath(absolute.left(end));
        struct stat st;
        if (::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        if (::mkdir(native.constData(), PrivateFolderMode) != 0 && errno != EEXIST)
            return failErrno(err, u"フォルダ「%1」を作れません。"_s, absolute.left(end), errno);
    }
    return true;
}

bool makePrivateIfNew(QFileDevice &file, bool existed, Error *err)
{
    if (existed || file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return true;
    return fail(err, u"ファイル「%1」の権限を設定できません。"_s.arg(file.fileName()), file.errorString());
}

Fd openOrCreate(const QString &path, bool readWrite, Error *err)
{
    const QByteArray native = nativePath(path);
    const int flags = (readWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    int fd = ::open(native.constData(), flags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC, PrivateFileMode);
        if (fd >= 0 && !flushFolderOf(path, err)) {
            ::close(fd);
            return {};
        }
    }
    if (fd < 0) {
        failErrno(err, u"ファイル「%1」を開けません。"_s, path, errno);
        return {};
    }
    return Fd(fd);
}

bool othersCanRead(const QString &path)
{
    struct stat st;
    return ::stat(nativePath(path).constData(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

bool makeOwnerOnly(const QString &path, Error *err)
{
    if (::chmod(nativePath(path).constData(), PrivateFileMode) == 0)
        return true;
    return failErrno(err, u"ファイル「%1」の権限を変えられません。"_s, path, errno);
}

Fd openForReading(const QString &path, bool *missing, Error *err)
{
    *missing = false;
    const QByteArray native = nativePath(path);
    int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC, PrivateFileMode);
        if (fd < 0 && (errno == ENOENT || errno == EACCES || errno == EPERM || errno == EROFS)) {
            *missing = true;
            return {};
        }
        if (fd >= 0 && !flushFolderOf(path, err)) {
            ::close(fd);
            return {};
        }
    }
    if (fd < 0)
        failErrno(err, u"ファイル「%1」を開けません。"_s, path, errno);
    return Fd(fd);
}

qint64 sizeOf(int fd, const QString &path, Error *err)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        failErrno(err, u"ファイル「%1」の大きさを調べられません。"_s, path, errno);
        return -1;
    }
    return st.st_size;
}

bool readAt(int fd, char *data, qint64 size, qint64 offset, const QString &path, Error *err)
{
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size_t(size), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failErrno(err, u"ファイル「%1」を読めません。"_s, path, errno);
        if (n == 0)
            return fail(err, u"ファイル「%1」が途中で終わっています。"_s.arg(path));
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

bool writeAt(int fd, const char *data, qint64 size, qint64 offset, const QString &path, Error *err)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size_t(size), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failErrno(err, u"ファイル「%1」に書き込めません。"_s, path, errno);
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

bool flush(int fd, const QString &path, Error *err)
{
    if (::fsync(fd) != 0)
        return failErrno(err, u"ファイル「%1」をディスクに書き出せません。"_s, path, errno);
    return true;
}

bool flushFolderOf(const QString &path, Error *err)
{
    const QString folder = folderPath(path);
    Fd fd(::open(nativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.isOpen())
        return failErrno(err, u"フォルダ「%1」を開けません。"_s, folder, errno);
    if (::fsync(fd.get()) != 0)
        return failErrno(err, u"フォルダ「%1」をディスクに書き出せません。"_s, folder, errno);
    return true;
}

bool flushFileSystemOf(const QString &folder, Error *err)
{
    Fd fd(::open(nativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.isOpen())
        return failErrno(err, u"フォルダ「%1」を開けません。"_s, folder, errno);
    if (::syncfs(fd.get()) != 0)
        return failErrno(err, u"フォルダ「%1」をディスクに書き出せません。"_s, folder, errno);
    return true;
}

bool rename(const QString &from, const QString &to, Error *err)
{
    if (::rename(nativePath(from).constData(), nativePath(to).constData()) != 0)
        return failErrno(err, u"ファイル「%1」の名前を変えられません。"_s, from, errno);
    return flushFolderOf(to, err);
}

bool remove(const QString &path, Error *err)
{
    if (::unlink(nativePath(path).constData()) != 0 && errno != ENOENT)
        return failErrno(err, u"ファイル「%1」を削除できません。"_s, path, errno);
    return flushFolderOf(path, err);
}

bool readWhole(const QString &path, QByteArray *out, bool *missing, Error *err)
{
    out->clear();
    if (missing)
        *missing = false;
    Fd fd(::open(nativePath(path).constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.isOpen()) {
        if (errno == ENOENT) {
            if (missing)
                *missing = true;
            return true;
        }
        return failErrno(err, u"ファイル「%1」を開けません。"_s, path, errno);
    }
    const qint64 size = sizeOf(fd.get(), path, err);
    if (size < 0)
        return false;
    out->resize(size);
    return readAt(fd.get(), out->data(), size, 0, path, err);
}

bool writeWholeAtomically(const QString &path, const QByteArray &bytes, int mode, Error *err)
{
    if (mode < 0) {
        struct stat st;
        mode = ::stat(nativePath(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : PrivateFileMode;
    }
    if (!removeStaleTemporaries(path, err))
        return false;
    QByteArray pattern = nativePath(path) + TemporarySuffix + QByteArray(TemporaryRandomLength, 'X');
    const int raw = ::mkostemp(pattern.data(), O_CLOEXEC); // created 0600
    if (raw < 0)
        return failErrno(err, u"ファイル「%1」を作れません。"_s, path, errno);
    Fd fd(raw);
    const QString temp = QFile::decodeName(pattern);
    const bool ok = ::fchmod(fd.get(), mode_t(mode)) == 0
            ? writeAt(fd.get(), bytes.constData(), bytes.size(), 0, temp, err) && flush(fd.get(), temp, err)
            : failErrno(err, u"ファイル「%1」の権限を設定できません。"_s, temp, errno);
    fd.reset();
    if (!ok || !rename(temp, path, err)) {
        ::unlink(pattern.constData());
        return false;
    }
    return true;
}

QByteArray identityOf(const struct ::stat &st)
{
    return QByteArray::number(quint64(st.st_ino)) + '-' + QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.'
        + QByteArray::number(qint64(st.st_mtim.tv_nsec)) + '-' + QByteArray::number(qint64(st.st_size));
}

QString numberedName(const QString &base, int i)
{
    return i == 1 ? base : base + u'-' + QString::number(i);
}

QString timeStamp()
{
    return QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s);
}

bool writeNewFile(const QString &base, const QByteArray &bytes, QString *path, Error *err)
{
    for (int i = 1;; ++i) {
        *path = numberedName(base, i);
        Fd fd(::open(nativePath(*path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!fd.isOpen() && errno == EEXIST)
            continue;
        if (!fd.isOpen())
            return fail(err, u"ファイル「%1」を作れません。"_s.arg(*path), errnoText(errno));
        return writeAt(fd.get(), bytes.constData(), bytes.size(), 0, *path, err) && flush(fd.get(), *path, err)
            && flushFolderOf(*path, err);
    }
}

} // namespace hollin::fileio
