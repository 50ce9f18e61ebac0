// Peak memory of one large RETR answer through Pop3Session, against the size
// of the message: a 1 GB answer that the session cuts at 256 MB, and a 200 MB
// message fetched ahead (PIPELINING), then taken by retrieve(). The server is
// a thread of this process that makes the message up line by line (every
// tenth line dot-stuffed), so it holds next to nothing. Each case runs in a
// process of its own, since the peak of a process only grows.
#include "BenchSupport.h"
#include "transport/Pop3Session.h"

#include <QCoreApplication>
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <cstring>
#include <thread>

using namespace Qt::StringLiterals;
using namespace hollin;
using namespace hollin::bench;

namespace {

constexpr qint64 MB = 1024 * 1024;

bool sendAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Answers one connection: CAPA, USER, PASS, RETR (a body of bodyBytes), QUIT.
void serve(int listener, qint64 bodyBytes)
{
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0)
        return;
    sendAll(fd, "+OK ready\r\n", 11);
    std::string pending;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        pending.append(buf, size_t(n));
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            const std::string cmd = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (cmd.starts_with("CAPA")) {
                sendAll(fd, "+OK\r\nUSER\r\nPIPELINING\r\n.\r\n", 26);
            } else if (cmd.starts_with("RETR")) {
                sendAll(fd, "+OK\r\n", 5);
                std::string chunk;
                const std::string plain(78, 'x');
                const std::string stuffed = ".." + std::string(76, 'y');
                for (qint64 sent = 0, line = 0; sent < bodyBytes;) {
                    chunk.clear();
                    while (chunk.size() < size_t(MB) && sent < bodyBytes) {
                        chunk += (line++ % 10 == 0 ? stuffed : plain) + "\r\n";
                        sent += 80;
                    }
                    if (!sendAll(fd, chunk.data(), chunk.size()))
                        break;
                }
                sendAll(fd, ".\r\n", 3);
            } else if (cmd.starts_with("QUIT")) {
                sendAll(fd, "+OK bye\r\n", 9);
                ::close(fd);
                return;
            } else {
                sendAll(fd, "+OK\r\n", 5);
            }
        }
    }
    ::close(fd);
}

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // kilobytes
}

// One case, in this process: prints the peak in MB and what retrieve() gave.
int runCase(qint64 bodyBytes, bool ahead)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(listener, 1) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return 2;
    std::thread server(serve, listener, bodyBytes);
    const double before = peakMegabytes();

    Pop3Session session;
    Error err;
    QByteArray body;
    bool ok = session.connectToServer(u"127.0.0.1:%1"_s.arg(ntohs(addr.sin_port)), &err)
        && session.login(u"u"_s, u"p"_s, false, &err);
    if (ok && ahead)
        session.prefetch(1);
    ok = ok && session.retrieve(1, &body, &err);
    const qint64 got = body.size();
    body = QByteArray();
    const double peak = peakMegabytes() - before;
    session.abort();
    server.join();
    ::close(listener);
    std::printf("%.1f %lld %s\n", peak, got, ok ? "ok" : qPrintable(err.text()));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3)
        return runCase(args[1].toLongLong() * MB, args[2] == u"ahead"_s);

    struct Case {
        QString what;
        qint64 megabytes;
        const char *how;
        double reference; // MB the answer has to take at the least
    };
    const Case cases[] = {
        {u"1 GB RETR cut at 256 MB: peak MB / 256 MB"_s, 1024, "direct", 256},
        {u"200 MB RETR fetched ahead: peak MB / 200 MB"_s, 200, "ahead", 200},
        {u"200 MB RETR: peak MB / 200 MB"_s, 200, "direct", 200},
    };
    for (const Case &c : cases) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QString::number(c.megabytes), QString::fromLatin1(c.how)});
        if (!child.waitForFinished(600000) || child.exitCode() != 0) {
            progress(c.what + u": the case did not run"_s);
            return 1;
        }
        const QString out = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
        progress(c.what + u": "_s + out);
        row(c.what, out.section(u' ', 0, 0).toDouble(), c.reference, u"MB"_s, 1.3);
    }
    return 0;
}
