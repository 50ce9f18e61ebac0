#include "transport/SmtpSender.h"

#include "ScriptedServer.h"
#include "TestMailServers.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

QByteArray mail(int i)
{
    return "From: alice@example.jp\r\nTo: bob@example.jp\r\nSubject: s" + QByteArray::number(i)
           + "\r\n\r\nline\r\n.leading dot\r\n";
}

} // namespace

class TestSmtpSender : public QObject {
    Q_OBJECT

    TestMailServers m_servers;

    void startServers(TestMailServers::Options o)
    {
        o.pop3 = false;
        QString error;
        QVERIFY2(m_servers.start(o, &error), qPrintable(error));
    }

private slots:
    void init() { qunsetenv("HOLLIN_EXTRA_CA_FILE"); }
    void cleanup() { m_servers.stop(); }

    void sendPlain_data()
    {
        QTest::addColumn<bool>("credentials");
        QTest::newRow("no credentials") << false;
        // The server offers no AUTH: the credentials must simply go unused.
        QTest::newRow("credentials, no AUTH offered") << true;
    }
    void sendPlain()
    {
        QFETCH(bool, credentials);
        startServers({});
        SmtpSender s;
        if (credentials)
            s.setCredentials(u"alice"_s, u"secret1"_s);
        Error err;
        QVERIFY2(s.send(m_servers.smtpServer(), u"alice@example.jp"_s, {u"bob@example.jp"_s}, mail(1), &err),
                 qPrintable(err.text()));
        const QList<QByteArray> box = m_servers.mailboxMessages();
        QCOMPARE(box.size(), 1);
        QCOMPARE(box.first(), QByteArray(mail(1)).replace("\r\n", "\n"));
        QVERIFY(m_servers.smtpLog().contains(u"RCPT "_s + m_servers.smtpLog().first().section(u' ', 1, 1)
                                             + u" bob@example.jp"_s));
    }

    void auth_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expected");
        QTest::newRow("right password") << u"alice"_s << u"secret1"_s << true << QString();
        QTest::newRow("wrong password") << u"alice"_s << u"nope"_s << false << u"535"_s;
        QTest::newRow("no credentials") << QString() << QString() << false << u"530"_s;
    }
    void auth()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, ok);
        QFETCH(QString, expected);
        TestMailServers::Options o;
        o.smtpAuthRequired = true;
        startServers(o);
        SmtpSender s;
        s.setCredentials(user, password);
        Error err;
        QCOMPARE(s.send(m_servers.smtpServer(), u"alice@example.jp"_s, {u"bob@example.jp"_s}, mail(1), &err), ok);
        QCOMPARE(m_servers.mailboxMessages().size(), ok ? 1 : 0);
        if (!ok) {
            QVERIFY2(err.message.contains(m_servers.smtpServer()), qPrintable(err.message));
            QVERIFY2(err.message.contains(expected), qPrintable(err.text()));
        }
    }

    void refusedRecipient()
    {
        TestMailServers::Options o;
        o.refusedRecipients = {u"nobody@example.jp"_s};
        startServers(o);
        SmtpSender s;
        Error err;
        QVERIFY(!s.send(m_servers.smtpServer(), u"alice@example.jp"_s, {u"nobody@example.jp"_s}, mail(1), &err));
        QVERIFY2(err.message.contains(u"宛先 nobody@example.jp を受け付けませんでした"_s), qPrintable(err.message));
        QVERIFY2(err.message.contains(u"550"_s), qPrintable(err.message));
        QCOMPARE(m_servers.mailboxMessages().size(), 0);
        // The next mail still goes.
        QVERIFY2(s.send(m_servers.smtpServer(), u"alice@example.jp"_s, {u"bob@example.jp"_s}, mail(2), &err),
                 qPrintable(err.text()));
        QCOMPARE(m_servers.mailboxMessages().size(), 1);
    }

    void refusedBeforeAnyByte_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QStringList>("to");
        QTest::newRow("empty recipient") << u"alice@example.jp"_s << QStringList{QString()};
        QTest::newRow("no recipient") << u"alice@example.jp"_s << QStringList{};
        QTest::newRow("line break in recipient") << u"alice@example.jp"_s << QStringList{u"bob@example.jp\r\nRCPT TO:<x@y>"_s};
        QTest::newRow("angle brackets") << u"alice@example.jp"_s << QStringList{u"<bob@example.jp>"_s};
        QTest::newRow("empty sender") << QString() << QStringList{u"bob@example.jp"_s};
    }
    void refusedBeforeAnyByte()
    {
        QFETCH(QString, from);
        QFETCH(QStringList, to);
        startServers({});
        SmtpSender s;
        Error err;
        QVERIFY(!s.send(m_servers.smtpServer(), from, to, mail(1), &err));
        QVERIFY(!err.message.isEmpty());
        QVERIFY(m_servers.smtpLog().isEmpty());
    }

    void sendsShareOneConnection()
    {
        startServers({});
        SmtpSender s;
        Error err;
        for (int i = 1; i <= 3; ++i)
            QVERIFY2(s.send(m_servers.smtpServer(), u"alice@example.jp"_s, {u"bob%1@example.jp"_s.arg(i)}, mail(i), &err),
                     qPrintable(err.text()));
        QCOMPARE(m_servers.mailboxMessages().size(), 3);
        QCOMPARE(m_servers.smtpConnectionCount(), 1);
        s.disconnect();
        QVERIFY(s.send(m_servers.smtpServer(), u"alice@example.jp"_s, {u"bob@example.jp"_s}, mail(4), &err));
        QCOMPARE(m_servers.smtpConnectionCount(), 2);
    }

    void tls_data()
    {
        QTest::addColumn<bool>("implicit");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("STARTTLS") << false << true;
        QTest::newRow("smtps") << true << true;
        QTest::newRow("STARTTLS, unknown certificate") << false << false;
        QTest::newRow("smtps, unknown certificate") << true << false;
    }
    void tls()
    {
        QFETCH(bool, implicit);
        QFETCH(bool, trusted);
        TestMailServers::Options o;
        o.tls = true;
        o.smtpAuthRequired = true;
        startServers(o);
        if (trusted)
            qputenv("HOLLIN_EXTRA_CA_FILE", QFile::encodeName(m_servers.caCertificatePath()));
        const QString server = implicit ? u"smtps://"_s + m_servers.smtpsServer()
                                        : u"smtp://"_s + m_servers.smtpStartTlsServer();
        SmtpSender s;
        s.setCredentials(m_servers.user(), m_servers.password());
        Error err;
        QCOMPARE(s.send(server, u"alice@example.jp"_s, {u"bob@example.jp"_s}, mail(1), &err), trusted);
        QCOMPARE(m_servers.mailboxMessages().size(), trusted ? 1 : 0);
        if (!trusted)
            QVERIFY2(err.message.contains(u"暗号化"_s), qPrintable(err.text()));
    }

    void startTlsRequiredForSmtpUrl()
    {
        startServers({}); // the plain server offers no STARTTLS
        SmtpSender s;
        Error err;
        QVERIFY(!s.send(u"smtp://"_s + m_servers.smtpServer(), u"alice@example.jp"_s, {u"bob@example.jp"_s}, mail(1), &err));
        QVERIFY2(err.message.contains(u"暗号化"_s), qPrintable(err.text()));
        QVERIFY(m_servers.smtpLog().isEmpty());
    }

    void unreachableAndSilentServers()
    {
        SmtpSender s;
        s.setTimeouts(1000, 1000);
        Error err;
        QVERIFY(!s.send(QString(), u"a@example.jp"_s, {u"b@example.jp"_s}, mail(1), &err));
        QCOMPARE(err.message, u"SMTP サーバーが設定されていません。"_s);
        const int port = freeLocalPort();
        QVERIFY(!s.send(u"127.0.0.1:%1"_s.arg(port), u"a@example.jp"_s, {u"b@example.jp"_s}, mail(1), &err));
        QVERIFY2(err.message.contains(u"接続できません"_s), qPrintable(err.text()));

        ScriptedServer silent;
        QVERIFY(silent.start());
        QElapsedTimer t;
        t.start();
        QVERIFY(!s.send(silent.server(), u"a@example.jp"_s, {u"b@example.jp"_s}, mail(1), &err));
        QVERIFY2(err.message.contains(u"応答がありません"_s), qPrintable(err.text()));
        QVERIFY(t.elapsed() < 10000);
    }
};

QTEST_GUILESS_MAIN(TestSmtpSender)
#include "tst_smtpsender.moc"
