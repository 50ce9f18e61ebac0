#pragma once

#include "MailRecordFile.h"

#include <QString>

namespace hollin {

// A received mail whose texts a record could not hold (characters CP932
// lacks, a body past 32000 bytes) is kept whole as UTF-8 in the attachment
// folder: "Subject: …", "From: …", "Date: …", an empty line, then the body.
// The record's body ends with a note that names that file.
class SavedFullText {
public:
    // The note that ends such a record's body.
    static QString note(const QString &fileName);

    // The body to show for a record: the saved full text's body when the
    // record ends with the note and the file can be read (the note is not
    // part of it), otherwise the record's body as stored.
    static QString bodyToShow(const MailRecord &record, const QString &attachmentFolder);
};

} // namespace hollin
