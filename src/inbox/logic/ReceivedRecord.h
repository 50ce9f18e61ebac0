#pragma once

#include "storage/Error.h"
#include "storage/FileIo.h"
#include "storage/MailRecordFile.h"

#include <QString>

namespace hollin {

// The decoded texts of one received mail and what became of its attachments.
struct ReceivedMail {
    QString subject;
    QString date;
    QString from;
    QString body;
    int extracted = 0; // the extraction result: 1 = files written
    QString wholeMessageFile; // the whole message saved there, since a limit left parts out
};

// The record a received mail is stored as: subject, date and sender cut at
// NUL, a NUL in the body replaced, every text trimmed, the attachment line
// appended when files were extracted, and every character without a CP932
// form stored as 〓. When the record cannot hold the mail whole (a body too
// long, or a character lost in any field), the mail is saved whole as UTF-8
// text in the attachment folder, its Subject, From and Date on top; the stored
// body is cut where needed and ends with a line naming that file. Used by
// receiving and by importing.
class ReceivedRecord {
public:
    // The full text of a mail, when one was saved.
    struct FullText {
        QString name;          // in the attachment folder; empty: none saved
        fileio::Fd unnamed;    // open: written without a name, for nameFullText()
        QByteArray identity;   // fileio::identityOf() of the file written
    };
    // With fullText, the full text is written without a name where the file
    // system allows: the caller notes it under its name (for the clean-up
    // after a kill), then gives it that name with nameFullText(), before
    // the record. Without, it is named at once.
    static bool build(const ReceivedMail &mail, const QString &attachmentFolder, MailRecord *record,
                      Error *err, FullText *fullText = nullptr);
    static bool nameFullText(const QString &attachmentFolder, const FullText &fullText, Error *err);

    static QString attachmentLine();
    // The line ending a stored body whose mail was also saved whole as fileName.
    static QString wholeMessageLine(const QString &fileName);
    // The line ending a stored body whose full text went to fileName.
    static QString fullTextLine(const QString &fileName);

private:
    static bool saveFullBody(const QString &body, const QString &attachmentFolder, bool unnamed, FullText *out,
                             Error *err);
};

} // namespace hollin
