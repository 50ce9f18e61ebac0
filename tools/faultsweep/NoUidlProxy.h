#pragma once

#include <QString>

#include <atomic>
#include <thread>

namespace hollin {

// A POP3 server without UIDL: a relay on 127.0.0.1 (free port) in front of a
// real server that answers every UIDL command itself with -ERR and leaves the
// UIDL line out of CAPA replies. Connections are relayed one after another,
// on a thread of its own.
class NoUidlProxy {
public:
    NoUidlProxy() = default;
    ~NoUidlProxy();
    NoUidlProxy(const NoUidlProxy &) = delete;
    NoUidlProxy &operator=(const NoUidlProxy &) = delete;

    // upstreamPort: the real server on 127.0.0.1.
    bool start(int upstreamPort);
    QString server() const; // "127.0.0.1:PORT"

private:
    void run();
    void relay(int client);

    int m_listenFd = -1;
    int m_port = 0;
    int m_upstreamPort = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

} // namespace hollin
