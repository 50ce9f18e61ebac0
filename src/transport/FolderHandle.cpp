#include "transport/FolderHandle.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

QByteArray entryName(const QString &name)
{
    return QFile::encodeName(name);
}

} // namespace

FolderHandle FolderHandle::open(const QString &path, Error *err)
{
    fileio::Fd fd(::open(fileio::nativePath(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.isOpen()) {
        fail(err, u"フォルダ「%1」を開けません。"_s.arg(path), fileio::errnoText(errno));
        return {};
    }
    return FolderHandle(std::move(fd), path);
}

FolderHandle FolderHandle::subfolder(const QString &name, bool create, Error *err) const
{
    const QByteArray native = entryName(name);
    if (create && ::mkdirat(m_fd.get(), native.constData(), 0700) != 0 && errno != EEXIST) {
        fail(err, u"フォルダ「%1」を作れません。"_s.arg(pathOf(name)), fileio::errnoText(errno));
        return {};
    }
    // O_NOFOLLOW with O_DIRECTORY: a link under that name is refused (ELOOP or ENOTDIR).
    fileio::Fd fd(::openat(m_fd.get(), native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.isOpen()) {
        fail(err, u"フォルダ「%1」を開けません。"_s.arg(pathOf(name)), fileio::errnoText(errno));
        return {};
    }
    return FolderHandle(std::move(fd), pathOf(name));
}

bool FolderHandle::exists(const QString &name) const
{
    struct stat st;
    return ::fstatat(m_fd.get(), entryName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

bool FolderHandle::createUnnamed(const QByteArray &bytes, fileio::Fd *file, bool *unsupported, Error *err) const
{
    fileio::Fd fd(::openat(m_fd.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (!fd.isOpen()) {
        const int why = errno;
        *unsupported = why == EOPNOTSUPP || why == EISDIR || why == EINVAL;
        return fail(err, u"フォルダ「%1」にファイルを作れません。"_s.arg(m_path), fileio::errnoText(why));
    }
    *unsupported = false;
    if (!fileio::writeAt(fd.get(), bytes.constData(), bytes.size(), 0, m_path, err))
        return false;
    // Starts the disk on it: the caller's one flush of the folder (before
    // the mail is stored) then finds it mostly written.
    ::sync_file_range(fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    *file = std::move(fd);
    return true;
}

bool FolderHandle::nameFile(int fd, const QString &name, bool *taken, Error *err) const
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    if (::linkat(AT_FDCWD, self.constData(), m_fd.get(), entryName(name).constData(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    *taken = errno == EEXIST;
    return fail(err, u"ファイル「%1」を作れません。"_s.arg(pathOf(name)), fileio::errnoText(errno));
}

bool FolderHandle::createFile(const QString &name, const QByteArray &bytes, bool *taken, Error *err) const
{
    *taken = false;
    // Written without a name first, then named: a kill or a full disk never
    // leaves a part of a file under the name.
    fileio::Fd unnamed;
    bool unsupported = false;
    Error why;
    if (createUnnamed(bytes, &unnamed, &unsupported, &why))
        return nameFile(unnamed.get(), name, taken, err);
    if (!unsupported) {
        if (err)
            *err = why;
        return false;
    }
    // A file system without unnamed files: the name is created and written at once.
    const QByteArray native = entryName(name);
    fileio::Fd fd(::openat(m_fd.get(), native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.isOpen()) {
        *taken = errno == EEXIST;
        return fail(err, u"ファイル「%1」を作れません。"_s.arg(pathOf(name)), fileio::errnoText(errno));
    }
    why = {};
    const bool written = fileio::writeAt(fd.get(), bytes.constData(), bytes.size(), 0, pathOf(name), &why);
    if (::close(fd.release()) != 0 && written)
        fail(&why, pathOf(name) + u": "_s + fileio::errnoText(errno));
    if (why.isSet()) {
        ::unlinkat(m_fd.get(), native.constData(), 0);
        if (err)
            *err = why;
        return false;
    }
    return true;
}

bool FolderHandle::readFile(const QString &name, QByteArray *out, Error *err) const
{
    fileio::Fd fd(::openat(m_fd.get(), entryName(name).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!fd.isOpen() || ::fstat(fd.get(), &st) != 0)
        return fail(err, u"ファイル「%1」を読めません。"_s.arg(pathOf(name)), fileio::errnoText(errno));
    if (!S_ISREG(st.st_mode))
        return fail(err, u"ファイル「%1」を読めません。"_s.arg(pathOf(name)), u"not a regular file"_s);
    out->resize(qsizetype(st.st_size));
    return fileio::readAt(fd.get(), out->data(), st.st_size, 0, pathOf(name), err);
}

QStringList FolderHandle::entries(Error *err) const
{
    // fdopendir takes the descriptor over: it gets a copy of its own.
    const int copy = ::openat(m_fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!dir) {
        fail(err, u"フォルダ「%1」を読めません。"_s.arg(m_path), fileio::errnoText(errno));
        if (copy >= 0)
            ::close(copy);
        return {};
    }
    QStringList names;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(QFile::decodeName(name));
    }
    ::closedir(dir);
    return names;
}

bool FolderHandle::removeFile(const QString &name, Error *err) const
{
    if (::unlinkat(m_fd.get(), entryName(name).constData(), 0) != 0 && errno != ENOENT)
        return fail(err, u"ファイル「%1」を消せません。"_s.arg(pathOf(name)), fileio::errnoText(errno));
    return true;
}

bool FolderHandle::removeEmptyFolder(const QString &name) const
{
    return ::unlinkat(m_fd.get(), entryName(name).constData(), AT_REMOVEDIR) == 0;
}

bool FolderHandle::renameEntry(const QString &from, const QString &to, Error *err) const
{
    if (::renameat2(m_fd.get(), entryName(from).constData(), m_fd.get(), entryName(to).constData(), RENAME_NOREPLACE)
        == 0)
        return true;
    return fail(err, u"「%1」の名前を変えられません。"_s.arg(pathOf(from)), fileio::errnoText(errno));
}

} // namespace hollin
