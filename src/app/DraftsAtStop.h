#pragma once

#include <QObject>

class QSessionManager;
class QSocketNotifier;

namespace hollin {

class Windows;

// Keeps what was typed since the last 30-second save when the program is
// stopped from outside: the desktop session ending (its commit request) or a
// stop signal (SIGTERM, SIGHUP, SIGINT, as at logout and shutdown) makes the
// open compose and reply windows write their recovery files; a signal then
// ends the program, whose next start offers the mail again. One per process.
class DraftsAtStop : public QObject {
    Q_OBJECT
public:
    explicit DraftsAtStop(Windows &windows, QObject *parent = nullptr);
    ~DraftsAtStop() override;

    // Writes the recovery file of every window that holds unsent mail.
    static void saveAll(Windows &windows);

private:
    void signalled();

    Windows &m_windows;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace hollin
