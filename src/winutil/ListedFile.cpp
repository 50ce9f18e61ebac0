#include "ListedFile.h"

#include "BusyJob.h"
#include "Prompt.h"

#include "storage/DataFolderLock.h"
#include "storage/StorageNotice.h"

#include <QCoreApplication>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace hollin {

void ListedFile::loading(const QString &path)
{
    m_path = path;
    m_stamp = FileStamp::of(path);
}

bool ListedFile::unchanged(const QString &path, const FileStamp &listed)
{
    const FileStamp now = FileStamp::of(path);
    // A missing file listed nothing, as the empty file its reader created does.
    return now == listed || (listed.size < 0 && now.size == 0);
}

QString ListedFile::changedMessage()
{
    return u"データが変わったため、一覧を読み直しました。もう一度選んでください。"_s;
}

bool ListedFile::isCurrent(QWidget *window, const std::function<void()> &reload)
{
    if (m_path.isEmpty() || unchanged(m_path, m_stamp))
        return true;
    reload();
    Prompt::message(window, changedMessage(), {}, Prompt::Icon::Warning);
    return false;
}

bool ListedFile::deleteWhileBusy(QWidget *window, const QString &what, const std::function<void()> &reload,
                                 const std::function<bool(Error *)> &deletion) const
{
    // Copies: the window may read its list again while the worker runs.
    const QString path = m_path;
    const FileStamp listed = m_stamp;
    bool changed = false;
    Error err;
    const bool done = runWhileBusy(window, u"削除しています…"_s, [&](Error *jobErr) {
        // The lock belongs to a thread: the worker takes it itself.
        DataFolderLock lock(QFileInfo(path).absolutePath(), what);
        if (!lock.take(jobErr))
            return false;
        if (!unchanged(path, listed)) {
            changed = true;
            return false;
        }
        return deletion(jobErr);
    }, &err);
    if (done)
        return true;
    if (changed) {
        reload();
        Prompt::message(window, changedMessage(), {}, Prompt::Icon::Warning);
    } else {
        Prompt::message(window, err.text(), {}, Prompt::Icon::Warning);
    }
    return false;
}

void showStorageNoticesInBoxes()
{
    storagenotice::setHandler([](const QString &text) {
        // Queued: the write that tells it holds the data folder's lock, and may run on a worker thread.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [text] { Prompt::message(nullptr, text, {}, Prompt::Icon::Warning); },
            Qt::QueuedConnection);
    });
}

} // namespace hollin
