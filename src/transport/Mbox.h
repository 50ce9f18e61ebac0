#pragma once

#include "storage/MailRecordFile.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace hollin {

// mbox in its mboxrd form: each message starts with a "From " line, and a body
// line that starts with ">*From " gets one more ">" so that reading it back
// restores it exactly.
class Mbox {
public:
    // Appends one message (any line ends; stored with LF) to mbox.
    static void append(QByteArray *mbox, const QByteArray &message, const QString &envelopeSender,
                       const QDateTime &when);
    // The messages of an mbox, quoting undone, line ends as stored.
    static QList<QByteArray> split(const QByteArray &mbox);
    // True when data starts like an mbox rather than a single message.
    static bool looksLikeMbox(const QByteArray &data);
};

// A stored record as an RFC 5322 message: UTF-8 text, encoded header words.
// In the received-mail file Address is the sender (From); in the held-mail
// file it is the recipient (To), and ownAddress, when set, becomes From.
class RecordMessage {
public:
    static QByteArray build(const MailRecord &record, bool held, const QString &ownAddress = {});
    // The Date text of a record as a date, invalid when it is not an RFC 5322 date.
    static QDateTime parseDate(const QString &text);
};

} // namespace hollin
