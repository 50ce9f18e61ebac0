#include "OtherWriterWatch.h"

#include "inbox/ReceiveController.h"
#include "panel/MainForm.h"
#include "storage/AppState.h"
#include "storage/MailRecordFile.h"
#include "winutil/Windows.h"

namespace hollin {

namespace {
constexpr int SettleMs = 300;
} // namespace

OtherWriterWatch::OtherWriterWatch(AppState &state, Windows &windows, QObject *parent)
    : QObject(parent), m_state(state), m_windows(windows)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, &OtherWriterWatch::check);
    // The folder too: a deletion replaces the file, and the watch on it ends.
    m_watcher.addPath(m_state.root.dataFolder());
    m_watcher.addPath(m_state.root.receivedMailFile());
    const auto changed = [this] { m_settle.start(); };
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, changed);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, changed);
}

void OtherWriterWatch::check()
{
    const QString file = m_state.root.receivedMailFile();
    if (!m_watcher.files().contains(file))
        m_watcher.addPath(file);
    auto *panel = qobject_cast<MainForm *>(m_windows.loaded("MainForm"));
    if (!panel)
        return;
    if (ReceiveController::isRunning()) {
        m_settle.start(); // the receive sets the count when it ends
        return;
    }
    const int known = panel->storedMailCountShown();
    panel->countStoredMail();
    const int added = panel->storedMailCountShown() - known;
    if (added <= 0)
        return;
    panel->setNewMailCount(added);
    MailRecord newest;
    const MailRecordFile records(file, m_state.root.receivedMailTemp());
    records.read(records.count(), &newest);
    m_windows.notifyNewMail(added, newest.subject);
}

} // namespace hollin
