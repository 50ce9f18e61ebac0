#pragma once

#include "storage/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace hollin {

class MimeMessage;

// Writes every part of a message that is not its body into a folder, under
// its decoded file name reduced to a safe bare name; never overwrites, never
// writes outside the folder. Fragments of a split message (message/partial)
// wait in a hidden folder inside it until their set is complete.
class AttachmentExtractor {
public:
    enum Result { NoAttachments = 0, Written = 1, CannotCreate = -5, SplitIncomplete = -6 };

    // written: file names (not paths) in the order written. On CannotCreate
    // the files this call wrote are removed again (written lists none).
    static int extract(const QByteArray &raw, const QString &folder, QStringList *written,
                       Error *err = nullptr);
    // The same, with raw already parsed.
    static int extract(const QByteArray &raw, const MimeMessage &message, const QString &folder,
                       QStringList *written, Error *err = nullptr);
    // Saves the whole raw message as "<subject>.eml" (numbered like the
    // attachments); returns the file name, or an empty text and err.
    static QString saveWholeMessage(const QByteArray &raw, const QString &folder, Error *err = nullptr);
};

} // namespace hollin
