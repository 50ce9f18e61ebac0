#include "MessageSelection.h"

#include "storage/UidlList.h"

namespace hollin {

MessageSelection selectMessages(int count, const QStringList &uids, const UidlList &stored,
                                const KeepMailSettings &keep, qint64 now)
{
    constexpr qint64 SecondsPerDay = 24 * 60 * 60;
    MessageSelection s;
    const bool keeping = keep.keepOnServer && !uids.isEmpty();
    s.deleteFetched = !keeping;
    for (int n = 1; n <= count; ++n) {
        const qint64 since = uids.isEmpty() ? -1 : stored.storedSince(uids[n - 1]);
        if (since < 0)
            s.fetch.append(n);
        else if (!keeping || (keep.deleteAfterDays > 0 && now - since >= keep.deleteAfterDays * SecondsPerDay))
            s.deleteUnfetched.append(n);
    }
    return s;
}

} // namespace hollin
