#pragma once

#include "storage/Error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace hollin {

// A kept copy of a sent mail as the program shows it and sends it again.
struct SentCopy {
    int number = 0;    // 1-based position in the sent-mail file
    qint64 sentAt = 0; // unix seconds
    QString to;        // decoded address lists
    QString cc;
    QString subject;
    QString date;      // the Date header's text
    QString body;

    static SentCopy decode(const QByteArray &raw, qint64 sentAt);
    // The sent time as the lists show it: "yyyy/MM/dd HH:mm" in local time.
    QString sentAtText() const;
};

// Every copy of the sent-mail file, oldest first (1-based numbers in lists
// are their positions), read through SentMailFile.
class SentCopies {
public:
    static bool readAll(const QString &sentFile, QList<SentCopy> *out, Error *err);
    // Copy n (1-based); refused when out of range.
    static bool read(const QString &sentFile, int n, SentCopy *out, Error *err);
    // Writes the attachments of copy n into the data folder's attachment
    // folder, under safe names that take no other file's place, holding the
    // data folder's write lock; paths: the files written, in the mail's order.
    static bool extractAttachments(const QString &sentFile, int n, const QString &dataFolder,
                                   const QString &attachmentFolder, QStringList *paths, Error *err);

private:
    static bool readRaw(const QString &sentFile, int n, QByteArray *raw, qint64 *sentAt, Error *err);
};

} // namespace hollin
