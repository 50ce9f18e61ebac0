#include "NoUidlProxy.h"

#include <QByteArray>
#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

constexpr int PollMs = 100;

bool sendAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Takes the whole lines (LF included) off the front of buffer.
QList<QByteArray> takeLines(QByteArray *buffer)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype end = buffer->indexOf('\n'); end >= 0; end = buffer->indexOf('\n', start)) {
        lines.append(buffer->mid(start, end + 1 - start));
        start = end + 1;
    }
    buffer->remove(0, start);
    return lines;
}

} // namespace

NoUidlProxy::~NoUidlProxy()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

bool NoUidlProxy::start(int upstreamPort)
{
    m_upstreamPort = upstreamPort;
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0
        || ::listen(m_listenFd, 4) != 0
        || ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&addr), &length) != 0)
        return false;
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { run(); });
    return true;
}

QString NoUidlProxy::server() const
{
    return u"127.0.0.1:%1"_s.arg(m_port);
}

void NoUidlProxy::run()
{
    while (!m_stop) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, PollMs) <= 0)
            continue;
        const int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        relay(client);
        ::close(client);
    }
}

void NoUidlProxy::relay(int client)
{
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(quint16(m_upstreamPort));
    if (server < 0 || ::connect(server, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        if (server >= 0)
            ::close(server);
        return;
    }
    QByteArray fromClient, fromServer;
    char chunk[65536];
    bool open = true;
    while (open && !m_stop) {
        pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        if (::poll(p, 2, PollMs) <= 0)
            continue;
        for (int side = 0; side < 2 && open; ++side) {
            if (!(p[side].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::recv(p[side].fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                open = false;
                break;
            }
            QByteArray &buffer = side == 0 ? fromClient : fromServer;
            buffer.append(chunk, n);
            for (const QByteArray &line : takeLines(&buffer)) {
                if (side == 0 && line.trimmed().toUpper().startsWith("UIDL"))
                    open = sendAll(client, "-ERR no UIDL here\r\n");
                else if (side == 1 && line.trimmed() == "UIDL")
                    continue;
                else
                    open = sendAll(side == 0 ? server : client, line);
                if (!open)
                    break;
            }
        }
    }
    ::close(server);
}

} // namespace hollin
