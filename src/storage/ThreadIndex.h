#pragma once

#include "Error.h"
#include "FileIo.h"

#include <QByteArray>
#include <QString>

namespace hollin {

// The Message-ID and References of each received mail, beside the record
// file, so that a reply can carry In-Reply-To and References. One line per
// mail in ★MailData/hlmthread.txt (ASCII, LF):
//   <digest> <message id> [<reference> …]
// keyed by the digest of the record's texts (digest()), which compaction
// does not change, so the index never needs rewriting. Ids are "<…>" tokens
// of printable ASCII; a mail without a usable Message-ID gets no line. The
// last line for a digest wins. A line without its LF (a killed write) is
// ignored, and the next append starts a new line after it.
//
// Lines are appended while the caller holds the data folder's write lock;
// flush() makes them durable (with the records they belong to).
class ThreadIndex {
public:
    struct Ids {
        QString messageId;  // "<id>", empty when unknown
        QString references; // "<id> <id> …", oldest first
    };

    explicit ThreadIndex(const QString &path);
    static QString pathIn(const QString &dataFolder);

    // 40 hex digits: SHA-1 of a record's bytes (MailRecordFile::encode()),
    // without the CR LF and live flag at its end.
    static QString digest(const QByteArray &recordBytes);
    // The digest of record n of a received-mail file, read as stored.
    static bool digestOf(const QString &recordFile, int n, QString *out, Error *err);

    // Notes the ids found in the raw header values (the Message-ID field and
    // the References field as received); nothing when there is no usable id.
    bool add(const QString &recordDigest, const QByteArray &messageIdField, const QByteArray &referencesField,
             Error *err);
    bool flush(Error *err);

    // The ids noted for a digest; empty Ids when none (a missing file is no error).
    bool find(const QString &recordDigest, Ids *out, Error *err) const;

private:
    QString m_path;
    fileio::Fd m_append;
};

} // namespace hollin
