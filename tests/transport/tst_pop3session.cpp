#include "transport/Pop3Session.h"

#include "ScriptedServer.h"
#include "TestMailServers.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

QByteArray message(int i, const QByteArray &extra = {})
{
    return "From: a@example.jp\r\nSubject: m" + QByteArray::number(i) + "\r\n\r\nbody " + QByteArray::number(i)
           + "\r\n" + extra;
}

} // namespace

class TestPop3Session : public QObject {
    Q_OBJECT

    TestMailServers m_servers;

    void startServers(bool tls = false)
    {
        TestMailServers::Options o;
        o.smtp = false;
        o.tls = tls;
        QString error;
        QVERIFY2(m_servers.start(o, &error), qPrintable(error));
    }

    void connectAndLogin(Pop3Session &s, bool apop = false)
    {
        Error err;
        QVERIFY2(s.connectToServer(m_servers.pop3Server(), &err), qPrintable(err.text()));
        QVERIFY2(s.login(m_servers.user(), m_servers.password(), apop, &err), qPrintable(err.text()));
    }

private slots:
    void init() { qunsetenv("HOLLIN_EXTRA_CA_FILE"); }
    void cleanup() { m_servers.stop(); }

    void loginAndFetch_data()
    {
        QTest::addColumn<bool>("apop");
        QTest::addColumn<int>("messages");
        QTest::newRow("plain, empty") << false << 0;
        QTest::newRow("plain, three") << false << 3;
        QTest::newRow("apop, three") << true << 3;
    }
    void loginAndFetch()
    {
        QFETCH(bool, apop);
        QFETCH(int, messages);
        startServers();
        // Message 2 has lines that need dot-stuffing on the wire.
        for (int i = 1; i <= messages; ++i)
            QVERIFY(m_servers.deliver(message(i, i == 2 ? ".\r\n..two\r\n.x\r\n"_ba : QByteArray())));
        Pop3Session s;
        connectAndLogin(s, apop);
        int count = -1;
        qint64 octets = -1;
        Error err;
        QVERIFY(s.stat(&count, &octets, &err));
        QCOMPARE(count, messages);
        for (int i = 1; i <= messages; ++i) {
            QByteArray raw;
            QVERIFY2(s.retrieve(i, &raw, &err), qPrintable(err.text()));
            QCOMPARE(raw, message(i, i == 2 ? ".\r\n..two\r\n.x\r\n"_ba : QByteArray()));
            qint64 size = 0;
            QVERIFY(s.list(i, &size, &err));
            QCOMPARE(size, raw.size());
            QByteArray header;
            QVERIFY(s.top(i, 0, &header, &err));
            QCOMPARE(header, "From: a@example.jp\r\nSubject: m" + QByteArray::number(i) + "\r\n\r\n");
        }
        QVERIFY(s.quit(&err));
        QCOMPARE(m_servers.mailboxMessages().size(), messages);
    }

    void wrongPassword_data()
    {
        QTest::addColumn<bool>("apop");
        QTest::newRow("plain") << false;
        QTest::newRow("apop") << true;
    }
    void wrongPassword()
    {
        QFETCH(bool, apop);
        startServers();
        Pop3Session s;
        Error err;
        QVERIFY(s.connectToServer(m_servers.pop3Server(), &err));
        QVERIFY(!s.login(m_servers.user(), u"wrong"_s, apop, &err));
        QVERIFY2(err.message.contains(m_servers.pop3Server()), qPrintable(err.message));
        QVERIFY2(err.message.contains(u"-ERR"_s), qPrintable(err.message)); // the server's own line
        // A refused login is an answer, not the end: the right password still works.
        QVERIFY2(s.login(m_servers.user(), m_servers.password(), apop, &err), qPrintable(err.text()));
    }

    void deleteCommitsOnlyAtQuit_data()
    {
        QTest::addColumn<bool>("commit");
        QTest::addColumn<bool>("pipelined");
        QTest::newRow("quit") << true << false;
        QTest::newRow("abort") << false << false;
        QTest::newRow("quit, pipelined") << true << true;
        QTest::newRow("abort, pipelined") << false << true;
    }
    void deleteCommitsOnlyAtQuit()
    {
        QFETCH(bool, commit);
        QFETCH(bool, pipelined);
        startServers();
        for (int i = 1; i <= 3; ++i)
            QVERIFY(m_servers.deliver(message(i)));
        Pop3Session s;
        connectAndLogin(s);
        QVERIFY(s.supportsPipelining()); // Dovecot offers it
        Error err;
        if (pipelined) {
            for (int i = 1; i <= 3; ++i)
                QVERIFY(s.prefetch(i));
        }
        for (int i = 1; i <= 3; ++i) {
            QByteArray raw;
            QVERIFY2(s.retrieve(i, &raw, &err), qPrintable(err.text()));
            QCOMPARE(raw, message(i));
            if (i != 2) // message 2 is not stored by the caller: it must stay
                QVERIFY(s.dele(i, &err));
        }
        if (commit)
            QVERIFY2(s.quit(&err), qPrintable(err.text()));
        else
            s.abort();
        const QList<QByteArray> left = m_servers.mailboxMessages();
        if (commit) {
            QCOMPARE(left.size(), 1);
            QVERIFY(left.first().contains("Subject: m2"));
        } else {
            QCOMPARE(left.size(), 3);
        }
    }

    void errAnswerKeepsSession()
    {
        startServers();
        QVERIFY(m_servers.deliver(message(1)));
        Pop3Session s;
        connectAndLogin(s);
        Error err;
        QByteArray raw;
        QVERIFY(!s.retrieve(7, &raw, &err));
        QVERIFY(err.message.contains(u"RETR 7"_s));
        QVERIFY(s.isConnected());
        // A refused pipelined DELE is reported at QUIT; the good one is committed.
        QVERIFY(s.dele(9, &err));
        QVERIFY(s.dele(1, &err));
        QVERIFY(!s.quit(&err));
        QVERIFY2(err.message.contains(u"DELE 9"_s), qPrintable(err.message));
        QCOMPARE(m_servers.mailboxMessages().size(), 0);
    }

    void serverGoesAwayMidSession()
    {
        startServers();
        QVERIFY(m_servers.deliver(message(1)));
        Pop3Session s;
        connectAndLogin(s);
        m_servers.stopPop3();
        Error err;
        QByteArray raw;
        QVERIFY(!s.retrieve(1, &raw, &err));
        QVERIFY2(err.message.contains(u"接続"_s), qPrintable(err.message));
        QVERIFY(!s.isConnected());
    }

    void tls_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("pop3s") << u"pop3s://"_s << true;
        QTest::newRow("STLS") << u"pop3://"_s << true;
        QTest::newRow("STLS offered to a bare host") << QString() << true;
        QTest::newRow("pop3s, unknown certificate") << u"pop3s://"_s << false;
        QTest::newRow("STLS, unknown certificate") << u"pop3://"_s << false;
        // A failed check is an error, never a quiet fall-back to plain.
        QTest::newRow("bare host, unknown certificate") << QString() << false;
    }
    void tls()
    {
        QFETCH(QString, scheme);
        QFETCH(bool, trusted);
        startServers(true);
        QVERIFY(m_servers.deliver(message(1)));
        if (trusted)
            qputenv("HOLLIN_EXTRA_CA_FILE", QFile::encodeName(m_servers.caCertificatePath()));
        const QString server = scheme + (scheme == u"pop3s://"_s ? m_servers.pop3sServer() : m_servers.pop3Server());
        Pop3Session s;
        Error err;
        const bool ok = s.connectToServer(server, &err);
        if (!trusted) {
            QVERIFY(!ok);
            QVERIFY2(err.message.contains(u"暗号化"_s), qPrintable(err.message));
            QVERIFY2(err.message.contains(u"HOLLIN_EXTRA_CA_FILE"_s), qPrintable(err.message));
            return;
        }
        QVERIFY2(ok, qPrintable(err.text()));
        QVERIFY(s.isEncrypted());
        QVERIFY2(s.login(m_servers.user(), m_servers.password(), false, &err), qPrintable(err.text()));
        QByteArray raw;
        QVERIFY(s.retrieve(1, &raw, &err));
        QCOMPARE(raw, message(1));
        QVERIFY(s.quit(&err));
    }

    // A bare host on a TLS-only port: the error names the form to type.
    void plainConnectionToTlsPortNamesPop3s()
    {
        startServers(true);
        Pop3Session s;
        s.setTimeouts(1500, 1500);
        Error err;
        QVERIFY(!s.connectToServer(m_servers.pop3sServer(), &err));
        QVERIFY2(err.message.contains(u"pop3s://"_s + m_servers.pop3sServer()), qPrintable(err.message));
        // A plain port that just stays silent gets no such hint.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QVERIFY(!s.connectToServer(u"127.0.0.1:%1"_s.arg(silent.serverPort()), &err));
        QVERIFY2(!err.message.contains(u"pop3s://"_s), qPrintable(err.message));
    }

    void pop3UrlRequiresStls()
    {
        startServers(); // Dovecot without TLS: no STLS in CAPA
        Pop3Session s;
        Error err;
        QVERIFY(!s.connectToServer(u"pop3://"_s + m_servers.pop3Server(), &err));
        QVERIFY2(err.message.contains(u"STLS"_s), qPrintable(err.message));
        QVERIFY(!s.isConnected()); // nothing left to log in with
        QVERIFY(!s.login(m_servers.user(), m_servers.password(), false, &err));
    }

    // Replies a real server won't give.
    void scriptedFailures_data()
    {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<bool>("apop");
        QTest::addColumn<bool>("dropAfterGreeting");
        QTest::addColumn<QString>("expected");
        QTest::newRow("garbage banner") << "220 smtp.example ESMTP\r\n"_ba << false << false << u"挨拶が正しくありません"_s;
        QTest::newRow("silence") << QByteArray() << false << false << u"秒以内に応答がありません"_s;
        QTest::newRow("no APOP timestamp") << "+OK ready\r\n"_ba << true << false << u"タイムスタンプがありません"_s;
        QTest::newRow("APOP timestamp not ASCII")
            << "+OK <1.2@\xE3\x81\x82.example>\r\n"_ba << true << false << u"タイムスタンプが不正"_s;
        QTest::newRow("APOP timestamp without @") << "+OK <1234.5678>\r\n"_ba << true << false << u"タイムスタンプが不正"_s;
        QTest::newRow("APOP timestamp over 200 bytes")
            << "+OK <" + QByteArray(190, '1') + "@example.jp>\r\n" << true << false << u"タイムスタンプが不正"_s;
        QTest::newRow("APOP timestamp not a msg-id") << "+OK <@example.jp>\r\n"_ba << true << false
                                                     << u"タイムスタンプが不正"_s;
        QTest::newRow("dropped after greeting") << "+OK ready\r\n"_ba << false << true << u"接続が切れました"_s;
    }
    void scriptedFailures()
    {
        QFETCH(QByteArray, greeting);
        QFETCH(bool, apop);
        QFETCH(bool, dropAfterGreeting);
        QFETCH(QString, expected);
        ScriptedServer fake;
        if (!greeting.isEmpty())
            fake.send(greeting).expectLine().send("-ERR no\r\n"); // CAPA
        if (dropAfterGreeting)
            fake.expectLine().close();
        QVERIFY(fake.start());
        Pop3Session s;
        s.setTimeouts(1000, 1000);
        Error err;
        bool ok = s.connectToServer(fake.server(), &err);
        if (ok)
            ok = s.login(u"alice"_s, u"secret"_s, apop, &err);
        QVERIFY(!ok);
        QVERIFY2(err.message.contains(expected), qPrintable(err.message));
        QVERIFY2(err.message.contains(fake.server()), qPrintable(err.message));
        if (apop) // nothing was sent in place of the refused APOP
            QCOMPARE(fake.received(), QList<QByteArray>{"CAPA"});
    }

    void brokenBody_data()
    {
        QTest::addColumn<bool>("drop");
        QTest::addColumn<bool>("drip");
        QTest::addColumn<QString>("expected");
        QTest::newRow("stalled") << false << false << u"応答がありません"_s;
        QTest::newRow("dropped") << true << false << u"接続が切れました"_s;
        // A line every 200 ms: each read is quick, the whole reply is not.
        QTest::newRow("dripping") << false << true << u"転送が遅すぎます"_s;
    }
    void brokenBody()
    {
        QFETCH(bool, drop);
        QFETCH(bool, drip);
        QFETCH(QString, expected);
        ScriptedServer fake;
        fake.send("+OK hi\r\n").expectLine().send("+OK\r\nPIPELINING\r\n.\r\n")
            .expectLine().send("+OK 100 octets\r\nSubject: x\r\n\r\nhalf a bo");
        for (int i = 0; drip && i < 50; ++i)
            fake.sleep(200).send("x\r\n");
        if (drop)
            fake.close();
        QVERIFY(fake.start());
        Pop3Session s;
        s.setTimeouts(1000, 500);
        Error err;
        QVERIFY2(s.connectToServer(fake.server(), &err), qPrintable(err.text()));
        QElapsedTimer t;
        t.start();
        QByteArray raw;
        QVERIFY(!s.retrieve(1, &raw, &err));
        QVERIFY2(err.message.contains(expected), qPrintable(err.message));
        QVERIFY(raw.isEmpty()); // nothing half-received is handed out
        QVERIFY(t.elapsed() < 5000);
        QVERIFY(!s.isConnected());
    }

    // A cancel ends the connect and the TLS handshake at once, not after the
    // connect timeout: the program's end must not wait for an unreachable server.
    void cancelDuringConnect_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::newRow("connect (SYN dropped)") << u"connect"_s;
        QTest::newRow("pop3s handshake") << u"pop3s"_s;
        QTest::newRow("STLS handshake") << u"stls"_s;
    }
    void cancelDuringConnect()
    {
        QFETCH(QString, stage);
        ScriptedServer fake;
        if (stage == u"stls"_s)
            fake.send("+OK hi\r\n").expectLine().send("+OK\r\nSTLS\r\n.\r\n").expectLine().send("+OK begin TLS\r\n");
        QVERIFY(fake.start());
        QString server = fake.server();
        // A listener whose queue is full drops further SYNs: a connect to it hangs.
        const int full = ::socket(AF_INET, SOCK_STREAM, 0);
        const int queued = ::socket(AF_INET, SOCK_STREAM, 0);
        auto closeBoth = qScopeGuard([&] { ::close(full); ::close(queued); });
        if (stage == u"connect"_s) {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t len = sizeof a;
            QVERIFY(::bind(full, reinterpret_cast<sockaddr *>(&a), len) == 0 && ::listen(full, 0) == 0);
            QVERIFY(::getsockname(full, reinterpret_cast<sockaddr *>(&a), &len) == 0);
            QVERIFY(::connect(queued, reinterpret_cast<sockaddr *>(&a), len) == 0);
            server = u"127.0.0.1:%1"_s.arg(ntohs(a.sin_port));
        } else {
            server = (stage == u"pop3s"_s ? u"pop3s://"_s : u"pop3://"_s) + server;
        }
        std::atomic_bool cancel = false;
        Pop3Session s;
        s.setTimeouts(10000, 10000);
        s.setCancelFlag(&cancel);
        std::thread canceller([&cancel] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            cancel = true;
        });
        QElapsedTimer t;
        t.start();
        Error err;
        const bool ok = s.connectToServer(server, &err);
        canceller.join();
        QVERIFY(!ok);
        QVERIFY2(t.elapsed() < 2000, qPrintable(u"%1 ms: %2"_s.arg(t.elapsed()).arg(err.message)));
        QVERIFY2(err.message.contains(u"受信を中止しました"_s), qPrintable(err.message));
        QVERIFY(!s.isConnected());
    }

    void stlsRefusesInjectedData()
    {
        // Data that arrives in clear text together with the STLS answer must
        // not be taken as part of the protected session.
        ScriptedServer fake;
        fake.send("+OK hi\r\n").expectLine().send("+OK\r\nSTLS\r\n.\r\n")
            .expectLine().send("+OK begin TLS\r\n+OK injected\r\n");
        QVERIFY(fake.start());
        Pop3Session s;
        s.setTimeouts(1000, 1000);
        Error err;
        QVERIFY(!s.connectToServer(u"pop3://"_s + fake.server(), &err));
        QVERIFY2(err.message.contains(u"暗号化されていない"_s), qPrintable(err.message));
    }

    void badServerNames_data()
    {
        QTest::addColumn<QString>("server");
        QTest::newRow("empty") << QString();
        QTest::newRow("blank in host") << u"mail example.jp"_s;
        QTest::newRow("port out of range") << u"mail.example.jp:70000"_s;
        QTest::newRow("smtp scheme") << u"smtp://mail.example.jp"_s;
    }
    void badServerNames()
    {
        QFETCH(QString, server);
        Pop3Session s;
        Error err;
        QVERIFY(!s.connectToServer(server, &err));
        QVERIFY(err.message.contains(u"正しくありません"_s));
    }

    void lineBreakInCredentialsRefused()
    {
        startServers();
        Pop3Session s;
        Error err;
        QVERIFY(s.connectToServer(m_servers.pop3Server(), &err));
        QVERIFY(!s.login(u"alice"_s, u"x\r\nDELE 1"_s, false, &err));
        QVERIFY(s.isConnected());
    }
};

QTEST_GUILESS_MAIN(TestPop3Session)
#include "tst_pop3session.moc"
