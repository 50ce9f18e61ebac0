#pragma once

#include "storage/Error.h"
#include "storage/FileIo.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

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

    // An attachment written into the folder but not named yet.
    struct HeldFile {
        QString wanted;    // the safe name it asks for
        fileio::Fd file;
        QByteArray identity; // fileio::identityOf() of the file written
    };
    // Like extract(), but the attachments are written without names where
    // the file system allows (the others are named at once, in written): the
    // caller notes them, names them with nameHeld(), then stores the mail, so
    // that a kill before it is stored leaves no file behind.
    // doneFragments: when the message completes a split set, the paths of
    // its kept fragments, which the caller removes with removeFragments()
    // once the reassembled mail's record is durable (without it they go at once).
    static int extractHeld(const QByteArray &raw, const MimeMessage &message, const QString &folder,
                           QStringList *written, std::vector<HeldFile> *held, Error *err = nullptr,
                           QStringList *doneFragments = nullptr);
    // Removes kept fragments, and their folders once empty; false (and
    // which stayed) when one could not be removed.
    static bool removeFragments(const QStringList &paths, Error *err);
    // Removes every kept set that is complete and whose fragments were all
    // stored (stored() of each fragment's raw message): its mail was stored
    // with the fragment that completed it, and a removal that failed or was
    // cut short after that is finished here. The caller holds the data
    // folder's lock.
    static void removeStoredSets(const QString &folder, const std::function<bool(const QByteArray &raw)> &stored);
    // Names for the held files that are free now, numbered like extract()'s, none twice.
    static QStringList freeNames(const QString &folder, const std::vector<HeldFile> &held, Error *err);
    // Gives each held file the name at its index; false when one cannot be
    // named, and then the ones named are removed again.
    static bool nameHeld(const QString &folder, const std::vector<HeldFile> &held, const QStringList &names,
                         Error *err);

    // Saves the whole raw message as "<subject>.eml" (numbered like the
    // attachments); returns the file name, or an empty text and err.
    static QString saveWholeMessage(const QByteArray &raw, const QString &folder, Error *err = nullptr);
};

} // namespace hollin
