#pragma once

#include "storage/Error.h"
#include "storage/FileStamp.h"

#include <QString>
#include <functional>

class QWidget;

namespace hollin {

// The record file a window's list was read from, as it was then. Record
// numbers are positions that a deletion in another process shifts, so before
// a window acts on a number from its list it asks here: when the file changed
// since, the list is reloaded and the user is asked to choose again.
//
//     void fill() { m_listed.loading(path); … read the list … }
//     void deleteOne() {
//         m_listed.deleteWhileBusy(this, u"削除"_s, [this] { fill(); },
//                                  [n](Error *err) { … delete record n … });
//     }
class ListedFile {
public:
    // Just before the list is read from path.
    void loading(const QString &path);

    // For a read by record number: false (list reloaded, user told) when the file changed.
    bool isCurrent(QWidget *window, const std::function<void()> &reload);

    // The one way a window deletes from (and so compacts) the listed file:
    // deletion runs on a worker thread under a busy pointer, the window
    // painting meanwhile (runWhileBusy). The worker takes the data folder's
    // lock and checks that the file is still the one listed before deletion
    // runs under that lock. A changed file reloads the list and says so; any
    // other failure is shown once, in a box. True when deletion succeeded.
    bool deleteWhileBusy(QWidget *window, const QString &what, const std::function<void()> &reload,
                         const std::function<bool(Error *)> &deletion) const;

    // "データが変わったため、一覧を読み直しました。もう一度選んでください。"
    static QString changedMessage();

private:
    static bool unchanged(const QString &path, const FileStamp &listed);

    QString m_path;
    FileStamp m_stamp;
};

// Storage notices (a half-written record kept aside) shown in a box, once each,
// after the handler that caused them.
void showStorageNoticesInBoxes();

} // namespace hollin
