#pragma once

#include "Error.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace hollin {

// The mails the SMTP server accepted, kept in one append-only file of the
// program's own in ★MailData (hlmsent.txt), oldest first, 1-based. Each copy
// is a line, then the mail's RFC 5322 bytes exactly as sent, then LF:
//   "HOLLIN-SENT <unix seconds> <byte count>" LF <bytes> LF
// An append holds the data folder's write lock only while it writes and is
// flushed to disk before it returns. A copy cut short by a kill is not
// listed, and the next append writes over it; a copy that cannot be read
// for another reason is moved aside with all after it, never dropped.
class SentMailFile {
public:
    struct Entry {
        qint64 sentAt = 0;  // unix seconds
        qint64 offset = 0;  // of the mail's first byte
        qint64 size = 0;
    };

    explicit SentMailFile(const QString &path);
    // ★MailData/hlmsent.txt of the data folder.
    static QString pathIn(const QString &dataFolder);

    QString path() const { return m_path; }

    // Creates the folder when it is missing.
    bool append(const QByteArray &message, qint64 sentAt, Error *err);
    // Every whole copy in order; a missing file holds none.
    bool list(QList<Entry> *out, Error *err) const;
    bool read(const Entry &entry, QByteArray *out, Error *err) const;

private:
    // What follows the last whole copy.
    enum class Rest { None, Torn, Damaged };
    // Entries of the open file fd, where the last whole one ends and what follows.
    bool scan(int fd, QList<Entry> *out, qint64 *end, Rest *rest, Error *err) const;
    // Keeps the bytes of fd from `from` on in a file beside this one.
    bool setAsideFrom(int fd, qint64 from, Error *err) const;

    QString m_path;
};

} // namespace hollin
