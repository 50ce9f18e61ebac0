#pragma once

#include "compose/logic/UnsentMail.h"
#include "storage/Error.h"

#include <QJsonArray>
#include <QString>

namespace hollin {

// What a held-mail record has no field for: the attachment list, the copies
// of a mailto: link, the whole-address-book mode and the ids of the mail a
// reply answers. Kept in a file of the program's own beside the held-mail
// file (UTF-8 JSON), one entry per held mail that has any of them, found by
// its record number and a digest of what the record holds: an entry never
// reaches another mail, even after another program renumbered the records
// (the extras of the mails it moved are then lost). A missing or damaged
// list loses these extras, never a held mail.
//
// The caller holds the data folder's lock across put() and drop() together
// with the record write they belong to; the file is replaced atomically.
class HeldMailExtras {
public:
    explicit HeldMailExtras(const QString &heldMailFile);

    // stored: the mail as loaded back from record n (its to, subject and body
    // decide the digest); wanted: the extras to keep for it. Entries at n or
    // later are stale (record n was just appended) and go. A damaged list is
    // set aside beside itself (".damaged") and started anew; err tells so,
    // and the function still returns true once the new list is written.
    bool put(int n, const MailDraft &stored, const MailDraft &wanted, Error *err);
    // Record n (holding stored) was removed: its entry goes and later ones move down.
    bool drop(int n, const MailDraft &stored, Error *err);
    // Fills mail's extras from the entry of record n; mail's to, subject and
    // body are the record's. False with err set when the list cannot be read.
    bool get(int n, MailDraft *mail, Error *err) const;

    QString path() const { return m_path; }

private:
    static QString digest(const MailDraft &stored);
    bool read(QJsonArray *entries, Error *err) const;
    bool write(const QJsonArray &entries, Error *err) const;

    QString m_path;
};

} // namespace hollin
