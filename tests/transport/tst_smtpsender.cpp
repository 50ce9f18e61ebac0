#include "transport/SmtpSender.h"

#include "PostfixServer.h"
#include "ScriptedServer.h"
#include "TestMailServers.h"

#include <QElapsedTimer>
#include <QRegularExpression>
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
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expected");
        // A bare host whose server offers STARTTLS, and AUTH only after it.
        QTest::newRow("STARTTLS offered, right password") << true << u"alice"_s << u"secret1"_s << true << QString();
        QTest::newRow("STARTTLS offered, wrong password") << true << u"alice"_s << u"nope"_s << false << u"535"_s;
        QTest::newRow("STARTTLS offered, no credentials") << true << QString() << QString() << false << u"530"_s;
        // A bare host without STARTTLS offers AUTH in clear: it must go unused.
        QTest::newRow("no STARTTLS: no AUTH in clear") << false << u"alice"_s << u"secret1"_s << false
                                                       << u"このサーバーは暗号化（smtp://127.0.0.1:587）が必要です"_s;
    }
    void auth()
    {
        QFETCH(bool, tls);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, ok);
        QFETCH(QString, expected);
        TestMailServers::Options o;
        o.tls = tls;
        o.smtpAuthRequired = true;
        startServers(o);
        if (tls)
            qputenv("HOLLIN_EXTRA_CA_FILE", QFile::encodeName(m_servers.caCertificatePath()));
        SmtpSender s;
        s.setCredentials(user, password);
        Error err;
        QCOMPARE(s.send(m_servers.smtpServer(), u"alice@example.jp"_s, {u"bob@example.jp"_s}, mail(1), &err), ok);
        QCOMPARE(m_servers.mailboxMessages().size(), ok ? 1 : 0);
        if (!ok) {
            QVERIFY2(err.message.contains(m_servers.smtpServer()), qPrintable(err.message));
            QVERIFY2(err.message.contains(expected), qPrintable(err.text()));
        }
        const QStringList auths = m_servers.smtpLog().filter(QRegularExpression(u"^AUTH "_s));
        QCOMPARE(auths.size(), tls && !user.isEmpty() ? 1 : 0);
        QVERIFY(auths.filter(u" plain"_s).isEmpty());
    }

    // aiosmtpd with the checks providers' servers make.
    void serverChecks_data()
    {
        QTest::addColumn<bool>("strictHelo");
        QTest::addColumn<int>("sizeLimit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("HELO name must be fully qualified") << true << 0 << QString();
        QTest::newRow("over the size limit") << false << 100
                                             << u"メールが大きすぎます（サーバーの上限を超えています）"_s;
    }
    void serverChecks()
    {
        QFETCH(bool, strictHelo);
        QFETCH(int, sizeLimit);
        QFETCH(QString, expected);
        TestMailServers::Options o;
        o.smtpStrictHelo = strictHelo;
        o.smtpSizeLimit = sizeLimit;
        startServers(o);
        SmtpSender s;
        Error err;
        const bool ok = s.send(m_servers.smtpServer(), u"alice@example.jp"_s, {u"bob@example.jp"_s},
                               mail(1) + QByteArray(200, 'x') + "\r\n", &err);
        QVERIFY2(ok == expected.isEmpty(), qPrintable(err.text()));
        if (!ok) {
            QVERIFY2(err.message.contains(expected), qPrintable(err.message));
            QVERIFY2(err.message.contains(u"552"_s), qPrintable(err.message)); // the server's own line
            return;
        }
        // The machine's full name, or the literal of the address the mail left from.
        const QString helo = m_servers.smtpLog().filter(QRegularExpression(u"^HELO "_s)).value(0).section(u' ', 2);
        QVERIFY2(helo == u"[127.0.0.1]"_s || (helo.contains(u'.') && !helo.startsWith(u'[')), qPrintable(helo));
    }

    // Debian's Postfix with the checks providers' servers make.
    void postfixHeloNameAndSizeLimit()
    {
        PostfixServer postfix;
        QString error;
        QVERIFY2(postfix.start(2000, &error), qPrintable(error));
        SmtpSender s;
        Error err;
        QVERIFY2(s.send(postfix.server(), u"alice@example.jp"_s, {u"bob@example.jp"_s}, mail(1), &err),
                 qPrintable(err.text() + postfix.log()));
        QVERIFY(!s.send(postfix.server(), u"alice@example.jp"_s, {u"bob@example.jp"_s},
                        mail(2) + "0123456789\r\n"_ba.repeated(300), &err));
        QVERIFY2(err.message.contains(u"メールが大きすぎます（サーバーの上限を超えています）"_s), qPrintable(err.message));
        QVERIFY2(err.message.contains(u"552 5.3.4"_s), qPrintable(err.message));
    }

    // Refusals as Postfix words them, told apart by the command they answer.
    void scriptedRefusals_data()
    {
        QTest::addColumn<QByteArrayList>("replies"); // to EHLO, MAIL, RCPT, ... in turn
        QTest::addColumn<QString>("expected");
        const QByteArray helo = "504 5.5.2 <vm>: Helo command rejected: need fully-qualified hostname";
        QTest::newRow("HELO check at RCPT") << QByteArrayList{"250 hi", "250 ok", helo}
                                            << u"サーバーが送信元の名前を受け付けませんでした"_s;
        QTest::newRow("EHLO refused") << QByteArrayList{"550 5.7.1 <vm>: Helo command rejected: Access denied"}
                                      << u"サーバーが送信元の名前を受け付けませんでした"_s;
        QTest::newRow("encryption required") << QByteArrayList{"250 hi", "530 5.7.0 Must issue a STARTTLS command first"}
                                             << u"smtps://127.0.0.1:465"_s;
        QTest::newRow("sender refused") << QByteArrayList{"250 hi", "553 5.7.1 <alice@example.jp>: Sender address rejected"}
                                        << u"差出人 alice@example.jp を受け付けませんでした"_s;
        QTest::newRow("recipient refused") << QByteArrayList{"250 hi", "250 ok", "550 5.1.1 <bob@example.jp>: User unknown"}
                                           << u"宛先 bob@example.jp を受け付けませんでした"_s;
    }
    void scriptedRefusals()
    {
        QFETCH(QByteArrayList, replies);
        QFETCH(QString, expected);
        ScriptedServer fake;
        if (replies.first().startsWith("250")) // first the look for STARTTLS, then the plain dialogue
            fake.send("220 hi\r\n").expectLine().send("250 hi\r\n").acceptNext();
        fake.send("220 hi\r\n");
        for (const QByteArray &reply : std::as_const(replies))
            fake.expectLine().send(reply + "\r\n");
        QVERIFY(fake.start());
        SmtpSender s;
        s.setTimeouts(2000, 2000);
        Error err;
        QVERIFY(!s.send(fake.server(), u"alice@example.jp"_s, {u"bob@example.jp"_s}, mail(1), &err));
        QVERIFY2(err.message.contains(expected), qPrintable(err.message));
        QVERIFY2(err.message.contains(QString::fromLatin1(replies.last())), qPrintable(err.message));
    }

    void stallAfterDataEndsWithoutQuit()
    {
        ScriptedServer fake;
        fake.send("220 hi\r\n").expectLine().send("250 hi\r\n").acceptNext()
            .send("220 hi\r\n").expectLine().send("250 hi\r\n").expectLine().send("250 ok\r\n")
            .expectLine().send("250 ok\r\n").expectLine().send("354 go on\r\n"); // then silence
        QVERIFY(fake.start());
        SmtpSender s;
        s.setTimeouts(1000, 1000);
        Error err;
        QVERIFY(!s.send(fake.server(), u"alice@example.jp"_s, {u"bob@example.jp"_s}, mail(1), &err));
        QVERIFY2(err.message.contains(u"応答がありません"_s), qPrintable(err.message));
        QTRY_VERIFY(fake.clientClosed());
        QVERIFY(!fake.received().contains("QUIT")); // no second wait for an answer to QUIT
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
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("STARTTLS") << u"smtp://"_s << true;
        QTest::newRow("smtps") << u"smtps://"_s << true;
        QTest::newRow("STARTTLS, unknown certificate") << u"smtp://"_s << false;
        QTest::newRow("smtps, unknown certificate") << u"smtps://"_s << false;
        // A failed check is an error, never a quiet fall-back to plain.
        QTest::newRow("bare host offered STARTTLS, unknown certificate") << QString() << false;
    }
    void tls()
    {
        QFETCH(QString, scheme);
        QFETCH(bool, trusted);
        TestMailServers::Options o;
        o.tls = true;
        o.smtpAuthRequired = true;
        startServers(o);
        if (trusted)
            qputenv("HOLLIN_EXTRA_CA_FILE", QFile::encodeName(m_servers.caCertificatePath()));
        const QString server = scheme + (scheme == u"smtps://"_s   ? m_servers.smtpsServer()
                                         : scheme == u"smtp://"_s ? m_servers.smtpStartTlsServer()
                                                                  : m_servers.smtpServer());
        SmtpSender s;
        s.setCredentials(m_servers.user(), m_servers.password());
        Error err;
        QCOMPARE(s.send(server, u"alice@example.jp"_s, {u"bob@example.jp"_s}, mail(1), &err), trusted);
        QCOMPARE(m_servers.mailboxMessages().size(), trusted ? 1 : 0);
        if (!trusted) {
            QVERIFY2(err.message.contains(u"暗号化"_s), qPrintable(err.text()));
            QVERIFY2(err.message.contains(u"HOLLIN_EXTRA_CA_FILE"_s), qPrintable(err.text()));
        }
    }

    // A bare host on a TLS-only port: the error names the form to type.
    void plainConnectionToTlsPortNamesSmtps()
    {
        TestMailServers::Options o;
        o.pop3 = false;
        o.tls = true;
        startServers(o);
        SmtpSender s;
        s.setTimeouts(1500, 1500);
        Error err;
        QVERIFY(!s.send(m_servers.smtpsServer(), u"alice@example.jp"_s, {u"bob@example.jp"_s}, mail(1), &err));
        QVERIFY2(err.message.contains(u"smtps://"_s + m_servers.smtpsServer()), qPrintable(err.text()));
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
