#pragma once

#include "storage/Error.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSslCertificate>
#include <QStringList>
#include <QString>
#include <atomic>
#include <memory>

class QSslSocket;

namespace hollin {

// One POP3 connection, blocking, for use from one thread (the socket belongs
// to the thread that created the session). Each call returns when the
// server's answer is in, or fails after a timeout; nothing runs an event loop.
//
// Server text: "host" or "host:port" (port 110, STLS whenever the server
// offers it, else plain), "pop3://host[:port]" (port 110, STLS required),
// "pop3s://host[:port]" (implicit TLS, port 995); a bare "host:995" is
// implicit TLS too (ServerAddress::implicitTls()). A plain connection that
// gets no greeting from a port that speaks TLS fails naming pop3s://. Certificates are verified
// (a failed check is an error, never a fall-back to plain) against the system's CAs plus
// the extra ones of TlsTrust.h (addExtraCaCertificates(), or the PEM file
// named by the environment variable HOLLIN_EXTRA_CA_FILE).
//
// An -ERR answer fails that call only; the session stays usable. QUIT, which
// commits every DELE, is sent only by quit(); abort() and the destructor close
// without it, so every message stays on the server.
//
// Every reply must end, or bring at least 64 KB, within each reply timeout
// (60 s by default): a server that stalls or drips a byte now and then ends
// the call. With a cancel flag set (setCancelFlag()), a wait ends within a
// second when nothing arrives, and after three seconds in any case; the
// connection is then closed without QUIT. The connect and the TLS handshake
// end at once on a cancel (only the host name lookup cannot be cut short).
//
// When the server offers PIPELINING, prefetch() sends RETR commands ahead and
// dele() does not wait for its answer: retrieve() then takes a body that is
// already on its way, and a refused DELE is reported by quit(). Both queue
// their command; it goes out with sendQueued(), the next command that waits
// for its answer, or any wait for data, so that many travel in one write.
class Pop3Session {
public:
    Pop3Session();
    ~Pop3Session();
    Pop3Session(const Pop3Session &) = delete;
    Pop3Session &operator=(const Pop3Session &) = delete;

    // Defaults: 15 s for connect, TLS and greeting; 60 s for any reply or
    // for a body that stops flowing.
    void setTimeouts(int connectMs, int replyMs);
    // A flag another thread may set to end the call in progress (see above).
    void setCancelFlag(const std::atomic_bool *cancel) { m_cancel = cancel; }

    bool connectToServer(const QString &server, Error *err);
    // USER/PASS, or APOP when apop is true; never falls back to the other.
    bool login(const QString &user, const QString &password, bool apop, Error *err);
    bool stat(int *count, qint64 *octets, Error *err);
    bool list(int n, qint64 *octets, Error *err);
    // Sizes of every message (LIST without argument), indexed by number.
    bool listAll(QHash<int, qint64> *sizes, Error *err);
    bool top(int n, int lines, QByteArray *out, Error *err);
    // Unique ids of every message (UIDL without argument), indexed by number.
    // An -ERR (no UIDL on this server) fails the call but keeps the session.
    bool uidlAll(QHash<int, QByteArray> *uids, Error *err);
    // The message with CR LF line ends, dot-unstuffed, without the final ".".
    bool retrieve(int n, QByteArray *out, Error *err);
    bool dele(int n, Error *err);
    bool quit(Error *err);
    void abort();

    // Sends RETR n ahead of retrieve(n); false when the server does not
    // pipeline or the connection is gone (retrieve() then asks itself).
    bool prefetch(int n);
    bool isPrefetched(int n) const { return m_prefetched.contains(n) || m_bodies.contains(n); }
    // Messages sent for by prefetch() and not yet taken by retrieve().
    qsizetype prefetchedCount() const { return m_prefetched.size() + m_bodies.size(); }
    void sendQueued();

    bool isConnected() const;
    bool isEncrypted() const;
    // What the connect saw: the greeting line, the capabilities (first words
    // of CAPA, sorted), and with TLS the protocol ("TLSv1.3") and the server's
    // certificate, which passed the check.
    QByteArray greeting() const { return m_greeting; }
    QStringList capabilities() const;
    QString tlsProtocol() const;
    QSslCertificate peerCertificate() const;
    bool supportsPipelining() const { return m_capabilities.contains("PIPELINING"); }

private:
    enum class Kind { Single, Multi };
    struct Pending {
        QByteArray command; // for messages, password masked
        Kind kind;
        int retr = 0;       // RETR n sent by prefetch()
        int dele = 0;       // DELE n whose answer nobody waits for
    };
    struct Reply {
        bool ok = false;
        QByteArray line;
        QByteArray body;
    };

    bool openSocket(const QString &host, quint16 port, bool implicitTls, Error *err);
    bool startTls(Error *err);
    bool waitForTls(const QDeadlineTimer &deadline, Error *err);
    QString cancelledText() const;
    bool tlsFailed(Error *err);
    bool readCapabilities(Error *err);
    bool send(const QByteArray &command, Kind kind, const QByteArray &shown, Error *err, bool now = true);
    void beginReply();
    bool readLine(QByteArray *line, Error *err);
    bool waitForData(Error *err);
    bool readReply(const Pending &p, Reply *r, Error *err);
    bool readOldest(Error *err);
    bool command(const QByteArray &cmd, Kind kind, Reply *r, Error *err, const QByteArray &shown = {});
    bool expectOk(const Reply &r, const QByteArray &shown, Error *err);
    bool connectionLost(Error *err, const QString &why);
    QString refusedText(const QByteArray &shown, const QByteArray &reply) const;

    std::unique_ptr<QSslSocket> m_socket;
    QByteArray m_buffer;
    qsizetype m_bufferPos = 0;
    QList<Pending> m_pending;
    QSet<int> m_prefetched;
    QHash<int, Reply> m_bodies;
    QList<QString> m_deferredErrors;
    QSet<QByteArray> m_capabilities;
    QByteArray m_greeting;
    QString m_hostPort;
    bool m_socketOpened = false; // the TCP connection of the last connect was made
    int m_connectMs = 15000;
    int m_replyMs = 60000;
    bool m_timedOut = false;
    // Pace of the reply being read: its current window and the bytes in it.
    QDeadlineTimer m_window;
    qint64 m_windowBytes = 0;
    QElapsedTimer m_sinceData;
    const std::atomic_bool *m_cancel = nullptr;
    QDeadlineTimer m_cancelGrace{QDeadlineTimer::Forever};
};

} // namespace hollin
