#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

namespace hollin {

// A one-connection TCP server on 127.0.0.1 (free port) that plays a fixed
// script on its own thread, for replies a real server won't give: a garbage
// banner, silence, a line cut off, a connection dropped in the middle.
//
//     ScriptedServer fake;
//     fake.send("+OK hello <1.2@\xE3\x81\x82>\r\n").expectLine().close();
//     QVERIFY(fake.start());
//     ... connect a client to fake.server() ...
//     QCOMPARE(fake.received(), ...);
//
// After the last step the connection stays open (silence) until the client
// closes it or the server is destroyed, unless the script ends with close().
class ScriptedServer {
public:
    ScriptedServer() = default;
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer &) = delete;
    ScriptedServer &operator=(const ScriptedServer &) = delete;

    ScriptedServer &send(const QByteArray &bytes);
    // Reads one line from the client (up to LF, at most 10 s) and records it
    // without its line end; the script ends early when the client closes.
    ScriptedServer &expectLine();
    ScriptedServer &sleep(int ms);
    ScriptedServer &close();
    // Closes the connection and waits for the client's next one (the script
    // goes on there).
    ScriptedServer &acceptNext();

    bool start();
    QString server() const; // "127.0.0.1:PORT"
    int port() const { return m_port; }
    // Lines the client sent, in order (thread-safe).
    QList<QByteArray> received() const;
    // True once the client closed its end (seen by a read returning 0).
    bool clientClosed() const { return m_clientClosed; }

private:
    struct Step {
        enum Kind { Send, Expect, Sleep, Close, Accept } kind;
        QByteArray data;
        int ms = 0;
    };
    void run();
    int accept();
    bool waitReadable(int fd, int ms);

    QList<Step> m_steps;
    int m_listenFd = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_clientClosed{false};
    mutable std::mutex m_mutex;
    QList<QByteArray> m_received;
};

} // namespace hollin
