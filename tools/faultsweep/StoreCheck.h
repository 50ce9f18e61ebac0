#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

namespace hollin {

// The file whose entries a sweep follows, each entry named by a unique id:
// the subject of a received, held or sent mail, the name of an address-book
// entry. Sent mail is kept in its own append-only file, the others in record files.
enum class Store { Received, Held, Address, Sent };

// The file a mail's attachment becomes in 添付フォルダ.
struct ExpectedAttachment {
    QString fileName;
    QByteArray content;
};

// What a data root must hold after an operation and its recovery.
struct Expectation {
    Store store = Store::Received;
    QStringList ids;                                // each exactly once (received mail: or still on the server)
    QSet<QString> gone;                             // deleted: never stored again
    QHash<QString, ExpectedAttachment> attachments; // by id
    QHash<QString, QString> fullTexts;              // by id: a text the body shown must hold (kept beside the record)
    QString settingsTag;                            // non-empty: the settings sample written with this tag
    QSet<QString> mayAlsoHold;                      // ids another operation may have brought (a sent mail received): at most once
    bool keptFiles = true;                          // also checks the lists, thread index, drafts, settings, sent mail
    bool threadLinesTold = false;                   // a failed write may cost a mail its thread line: the user is told
};

// What a check found, counted as the sweep's table shows it.
struct Damage {
    int lost = 0;            // an entry neither stored nor on the server
    int duplicated = 0;      // stored more than once
    int revived = 0;         // stored although deleted
    int attachmentsLost = 0; // a stored mail whose attachment file is missing or differs
    int corrupt = 0;         // a record file that does not parse, settings that do not read back
    int debris = 0;          // a file no fault-free run leaves
    QStringList details;

    bool any() const { return lost || duplicated || revived || attachmentsLost || corrupt || debris; }
    void add(const Damage &other);
};

// Every file below root, as paths relative to it.
QSet<QString> filesBelow(const QString &root);

// The subject of each message (LF line ends, as the mailbox holds them).
QStringList subjectsOf(const QList<QByteArray> &messages);

// Checks root against what is expected. onServer: subjects of the mails
// still on the server; referenceFiles: what a fault-free run left.
Damage inspect(const QString &root, const Expectation &expected, const QStringList &onServer,
               const QSet<QString> &referenceFiles);

} // namespace hollin

namespace hollin {

// The record number (1-based, counting every record) of the live entry id; 0 when there is none.
int recordNumberOf(const QString &root, Store store, const QString &id);
// The ids of the live entries, in record order.
QStringList liveIds(const QString &root, Store store);

} // namespace hollin
