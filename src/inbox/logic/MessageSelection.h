#pragma once

#include "storage/KeepMailSettings.h"

#include <QList>
#include <QStringList>

namespace hollin {

class UidlList;

// What one receive does with the messages on the server, by message number.
struct MessageSelection {
    QList<int> fetch;           // fetched and stored, in this order
    QList<int> deleteUnfetched; // stored before: deleted without fetching
    bool deleteFetched = true;  // a fetched message is deleted once stored
};

// uids are the server's unique ids by message number, or empty when it has
// none usable: then every message is fetched and deleted. Otherwise a message
// whose id is stored is never fetched again. Without keep it is deleted (a
// receive cut off before its QUIT stored it); with keep it stays until it was
// first stored keep.deleteAfterDays days before now (for ever with 0), and
// the fetched ones stay too.
MessageSelection selectMessages(int count, const QStringList &uids, const UidlList &stored,
                                const KeepMailSettings &keep, qint64 now);

} // namespace hollin
