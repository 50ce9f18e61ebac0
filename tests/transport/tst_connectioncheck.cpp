#include "transport/ConnectionCheck.h"

#include "ScriptedServer.h"
#include "TestMailServers.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestConnectionCheck : public QObject {
    Q_OBJECT

    TestMailServers m_servers;
    QStringList m_lines;

    ConnectionCheck check()
    {
        ConnectionCheck c([this](const QString &line) { m_lines << line; });
        c.setTimeouts(3000, 3000);
        return c;
    }
    bool reported(const QString &part) const
    {
        return std::any_of(m_lines.cbegin(), m_lines.cend(), [&](const QString &l) { return l.contains(part); });
    }

private slots:
    void initTestCase()
    {
        TestMailServers::Options o;
        o.tls = true;
        o.smtpAuthRequired = true;
        QString error;
        QVERIFY2(m_servers.start(o, &error), qPrintable(error));
        qputenv("HOLLIN_EXTRA_CA_FILE", QFile::encodeName(m_servers.caCertificatePath()));
    }
    void init() { m_lines.clear(); }

    // Every step reported; the mail stays on the server.
    void pop3OverTls()
    {
        QVERIFY(m_servers.deliver("Subject: one\r\n\r\nbody\r\n"));
        Error err;
        QVERIFY2(check().checkPop3(u"pop3s://"_s + m_servers.pop3sServer(), m_servers.user(), m_servers.password(),
                                   false, &err),
                 qPrintable(err.text()));
        const QString all = m_lines.join(u'\n');
        QVERIFY2(reported(u"に接続しました"_s), qPrintable(all));
        QVERIFY2(reported(u"TLSv1."_s) && reported(u"発行先 127.0.0.1"_s), qPrintable(all));
        QVERIFY2(reported(u"UIDL"_s), qPrintable(all));
        QVERIFY2(reported(u"USER/PASS でログインしました。メールは 1 通"_s), qPrintable(all));
        QCOMPARE(m_servers.mailboxMessages().size(), 1);
    }

    void pop3WrongPassword()
    {
        Error err;
        QVERIFY(!check().checkPop3(m_servers.pop3Server(), m_servers.user(), u"wrong"_s, false, &err));
        QVERIFY2(reported(u"TLSv1."_s), qPrintable(m_lines.join(u'\n'))); // the bare host took STLS
        QVERIFY2(m_lines.last().contains(u"失敗しました。POP3 サーバー"_s) && m_lines.last().contains(u"ログインできません"_s),
                 qPrintable(m_lines.last()));
        QCOMPARE(m_lines.last(), u"POP3: 失敗しました。"_s + err.message);
    }

    // EHLO, STARTTLS and AUTH, no MAIL.
    void smtpStartTlsAndAuth()
    {
        Error err;
        QVERIFY2(check().checkSmtp(u"smtp://"_s + m_servers.smtpStartTlsServer(), m_servers.user(),
                                   m_servers.password(), &err),
                 qPrintable(err.text()));
        const QString all = m_lines.join(u'\n');
        QVERIFY2(reported(u"STARTTLS で暗号化しています"_s) && reported(u"127.0.0.1"_s), qPrintable(all));
        QVERIFY2(reported(u"AUTH"_s) && reported(u"ログインしました"_s), qPrintable(all));
        QVERIFY2(!m_servers.smtpLog().join(u'\n').contains(u"MAIL"_s), qPrintable(m_servers.smtpLog().join(u'\n')));
    }

    void smtpWrongPassword()
    {
        Error err;
        QVERIFY(!check().checkSmtp(u"smtps://"_s + m_servers.smtpsServer(), m_servers.user(), u"wrong"_s, &err));
        QVERIFY2(reported(u"接続時から TLS で暗号化しています"_s), qPrintable(m_lines.join(u'\n')));
        QVERIFY2(m_lines.last().contains(u"認証に失敗しました"_s), qPrintable(m_lines.last()));
    }

    // A failure a real server won't give: STAT refused after the login.
    void pop3StatRefused()
    {
        ScriptedServer fake;
        fake.send("+OK ready\r\n").expectLine().send("-ERR no\r\n") // CAPA
            .expectLine().send("+OK\r\n").expectLine().send("+OK\r\n") // USER, PASS
            .expectLine().send("-ERR no\r\n").expectLine().send("-ERR mailbox locked\r\n"); // CAPA, STAT
        QVERIFY(fake.start());
        Error err;
        ConnectionCheck c = check();
        c.setPlainLoginConsent([](const QString &, bool) { return true; });
        QVERIFY(!c.checkPop3(fake.server(), u"alice"_s, u"secret"_s, false, &err));
        QVERIFY2(reported(u"暗号化されていません"_s), qPrintable(m_lines.join(u'\n')));
        QVERIFY2(m_lines.last().contains(u"STAT"_s) && m_lines.last().contains(u"mailbox locked"_s),
                 qPrintable(m_lines.last()));
        QCOMPARE(fake.received().value(4), "STAT"_ba);
    }

    // A server without STLS and no consent: CAPA, then QUIT; nothing of the
    // password goes out, and the line says what would have travelled in clear.
    void pop3UnencryptedWithoutConsent_data()
    {
        QTest::addColumn<bool>("apop");
        QTest::addColumn<QString>("told");
        QTest::newRow("USER/PASS") << false << u"パスワードが暗号化されずに送られます"_s;
        QTest::newRow("APOP") << true << u"メールは暗号化されずに届きます。APOP はパスワードそのものは送りません"_s;
    }
    void pop3UnencryptedWithoutConsent()
    {
        QFETCH(bool, apop);
        QFETCH(QString, told);
        ScriptedServer fake;
        fake.send("+OK ready <1.2@host>\r\n").expectLine().send("-ERR no\r\n").expectLine().send("+OK bye\r\n");
        QVERIFY(fake.start());
        ConnectionCheck c = check();
        bool askedApop = !apop;
        c.setPlainLoginConsent([&](const QString &, bool a) { askedApop = a; return false; });
        Error err;
        QVERIFY(!c.checkPop3(fake.server(), u"alice"_s, u"secret"_s, apop, &err));
        QCOMPARE(askedApop, apop);
        QVERIFY2(m_lines.last().contains(told) && m_lines.last().contains(u"ログインしませんでした"_s),
                 qPrintable(m_lines.last()));
        QTRY_COMPARE(fake.received(), (QList<QByteArray>{"CAPA", "QUIT"}));
    }

    // A saved id whose password was lost (a keyring out of reach): no login
    // with an empty password.
    void pop3EmptyPasswordIsNotTried()
    {
        ScriptedServer fake;
        fake.send("+OK ready\r\n").expectLine().send("-ERR no\r\n").expectLine().send("+OK bye\r\n");
        QVERIFY(fake.start());
        ConnectionCheck c = check();
        c.setPlainLoginConsent([](const QString &, bool) { return true; });
        QVERIFY(c.checkPop3(fake.server(), u"alice"_s, QString(), false, nullptr));
        QVERIFY2(reported(u"ログインは確かめません"_s), qPrintable(m_lines.join(u'\n')));
        QTRY_COMPARE(fake.received(), (QList<QByteArray>{"CAPA", "QUIT"}));
    }
};

QTEST_GUILESS_MAIN(TestConnectionCheck)
#include "tst_connectioncheck.moc"
