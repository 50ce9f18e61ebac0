#include "ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

using namespace Qt::StringLiterals;

namespace hollin {

ScriptedServer::~ScriptedServer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

ScriptedServer &ScriptedServer::send(const QByteArray &bytes)
{
    m_steps.append(Step{Step::Send, bytes});
    return *this;
}

ScriptedServer &ScriptedServer::expectLine()
{
    m_steps.append(Step{Step::Expect, {}});
    return *this;
}

ScriptedServer &ScriptedServer::sleep(int ms)
{
    m_steps.append(Step{Step::Sleep, {}, ms});
    return *this;
}

ScriptedServer &ScriptedServer::close()
{
    m_steps.append(Step{Step::Close, {}});
    return *this;
}

ScriptedServer &ScriptedServer::acceptNext()
{
    m_steps.append(Step{Step::Accept, {}});
    return *this;
}

QString ScriptedServer::server() const
{
    return u"127.0.0.1:%1"_s.arg(m_port);
}

QList<QByteArray> ScriptedServer::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

bool ScriptedServer::start()
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0
        || ::listen(m_listenFd, 1) != 0
        || ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return false;
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { run(); });
    return true;
}

// Polls in short slices so that the destructor can stop the thread.
bool ScriptedServer::waitReadable(int fd, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!m_stop && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0)
            return true;
    }
    return false;
}

int ScriptedServer::accept()
{
    if (!waitReadable(m_listenFd, 30000))
        return -1;
    return ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
}

void ScriptedServer::run()
{
    int fd = accept();
    if (fd < 0)
        return;
    QByteArray pending;
    bool open = true;
    for (const Step &step : std::as_const(m_steps)) {
        if (m_stop || !open)
            break;
        switch (step.kind) {
        case Step::Send:
            ::send(fd, step.data.constData(), size_t(step.data.size()), MSG_NOSIGNAL);
            break;
        case Step::Expect: {
            while (!pending.contains('\n') && open) {
                if (!waitReadable(fd, 10000)) {
                    open = false;
                    break;
                }
                char buf[4096];
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) {
                    m_clientClosed = true;
                    open = false;
                } else {
                    pending.append(buf, n);
                }
            }
            const qsizetype nl = pending.indexOf('\n');
            if (nl >= 0) {
                QByteArray line = pending.left(nl);
                pending.remove(0, nl + 1);
                if (line.endsWith('\r'))
                    line.chop(1);
                std::lock_guard lock(m_mutex);
                m_received.append(line);
            }
            break;
        }
        case Step::Sleep: {
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(step.ms);
            while (!m_stop && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            break;
        }
        case Step::Close:
            ::close(fd);
            return;
        case Step::Accept:
            ::close(fd);
            pending.clear();
            fd = accept();
            if (fd < 0)
                return;
            break;
        }
    }
    // Silence: keep the connection until the client goes or we are stopped.
    while (open && !m_stop) {
        if (waitReadable(fd, 100)) {
            char buf[4096];
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) {
                m_clientClosed = true;
                break;
            }
            pending.append(buf, n);
            qsizetype nl;
            while ((nl = pending.indexOf('\n')) >= 0) {
                QByteArray line = pending.left(nl);
                pending.remove(0, nl + 1);
                if (line.endsWith('\r'))
                    line.chop(1);
                std::lock_guard lock(m_mutex);
                m_received.append(line);
            }
        }
    }
    ::close(fd);
}

} // namespace hollin
