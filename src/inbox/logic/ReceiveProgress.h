#pragma once

#include <QMutex>
#include <QString>

#include <optional>

namespace hollin {

// What a receive session reports, kept for the window thread to take at its
// own pace: the worker notes every step, the window shows only the latest a
// few times a second, so a large receive never floods the window's queue.
// Thread-safe.
class ReceiveProgress {
public:
    struct Message {
        QString subject, from, date, body;
    };
    struct Snapshot {
        int n = 0;      // message n of count is being fetched; 0 before the first
        int count = 0;
        int received = 0;             // messages stored so far
        QString firstSubject;         // the subject of the first one
        std::optional<Message> latest; // the last one stored, once after each store
    };

    void noteProgress(int n, int count);
    void noteMessage(const Message &message);
    // The state now; the latest message is handed out only once.
    Snapshot take();

private:
    QMutex m_mutex;
    Snapshot m_state;
};

} // namespace hollin
