#pragma once

#include "storage/Error.h"
#include "storage/FileIo.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace hollin {

// A folder held open by its descriptor, in which names taken from mail are
// created, read and removed relative to that descriptor. A name is always an
// entry of this folder, whatever it looks like to a path parser (":x", "~x",
// "qrc:x"), and no symbolic link inside the folder is ever followed.
class FolderHandle {
public:
    FolderHandle() = default;

    // Opens the folder at path (a folder the user chose: a link to it is fine).
    static FolderHandle open(const QString &path, Error *err);

    // The subfolder name, created (0700) when missing and create is set. A
    // link or anything not a folder under that name is refused.
    FolderHandle subfolder(const QString &name, bool create, Error *err) const;

    bool isOpen() const { return m_fd.isOpen(); }
    const QString &path() const { return m_path; }
    // The path of an entry, by plain joining: for messages and for callers.
    QString pathOf(const QString &name) const { return m_path + u'/' + name; }

    // Anything under name, a link too.
    bool exists(const QString &name) const;
    // Creates name (0600) and writes bytes to it; never replaces an entry nor
    // follows a link. False with *taken set when the name exists.
    bool createFile(const QString &name, const QByteArray &bytes, bool *taken, Error *err) const;
    // Writes bytes into a new file of this folder that has no name yet;
    // false when the write fails, or with *unsupported set where the file
    // system has no unnamed files (createFile() still works there).
    bool createUnnamed(const QByteArray &bytes, fileio::Fd *file, bool *unsupported, Error *err) const;
    // Gives an unnamed file its name; never replaces an entry. False with
    // *taken set when the name exists.
    bool nameFile(int fd, const QString &name, bool *taken, Error *err) const;
    // Reads a regular file; a link or anything else is refused.
    bool readFile(const QString &name, QByteArray *out, Error *err) const;
    // Entry names, "." and ".." left out.
    QStringList entries(Error *err) const;
    // Removes a file or a link (never what a link points to), or an empty folder.
    bool removeFile(const QString &name, Error *err) const;
    bool removeEmptyFolder(const QString &name) const;
    // Renames an entry of this folder; never replaces one.
    bool renameEntry(const QString &from, const QString &to, Error *err) const;

private:
    FolderHandle(fileio::Fd fd, QString path) : m_fd(std::move(fd)), m_path(std::move(path)) {}

    fileio::Fd m_fd;
    QString m_path;
};

} // namespace hollin
