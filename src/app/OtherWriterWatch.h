#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

namespace hollin {

class Windows;
struct AppState;

// Mail stored by another process (hollin-cli receive or import) is seen as
// the program's own receive is: the panel's count is set from the file and
// the user is told of the new mail. What the panel shows is what the program
// knows: its own receive sets that count when it ends, and tells of its mail
// itself.
class OtherWriterWatch : public QObject {
public:
    OtherWriterWatch(AppState &state, Windows &windows, QObject *parent = nullptr);

private:
    void check();

    AppState &m_state;
    Windows &m_windows;
    QFileSystemWatcher m_watcher;
    QTimer m_settle; // a writer's burst of changes is looked at once, when it is over
};

} // namespace hollin
