#include "transport/ServerAddress.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestServerAddress : public QObject {
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("implicitTls");
        QTest::newRow("host") << u"mail.example.jp"_s << true << QString() << u"mail.example.jp"_s << 0 << false;
        QTest::newRow("host:port") << u"mail.example.jp:1110"_s << true << QString() << u"mail.example.jp"_s << 1110 << false;
        QTest::newRow("blanks around") << u"  mail.example.jp  "_s << true << QString() << u"mail.example.jp"_s << 0 << false;
        QTest::newRow("scheme, upper case") << u"POP3S://mail.example.jp"_s << true << u"pop3s"_s << u"mail.example.jp"_s << 0 << true;
        QTest::newRow("scheme, port, path") << u"smtp://mail.example.jp:587/x"_s << true << u"smtp"_s << u"mail.example.jp"_s << 587 << false;
        QTest::newRow("IPv6 with port") << u"[::1]:110"_s << true << QString() << u"::1"_s << 110 << false;
        QTest::newRow("IPv6 bare") << u"::1"_s << true << QString() << u"::1"_s << 0 << false;
        QTest::newRow("POP3 over TLS port") << u"pop.example.jp:995"_s << true << QString() << u"pop.example.jp"_s << 995 << true;
        QTest::newRow("SMTP over TLS port") << u"smtp.example.jp:465"_s << true << QString() << u"smtp.example.jp"_s << 465 << true;
        QTest::newRow("IPv6, TLS port") << u"[::1]:995"_s << true << QString() << u"::1"_s << 995 << true;
        QTest::newRow("submission port") << u"smtp.example.jp:587"_s << true << QString() << u"smtp.example.jp"_s << 587 << false;
        QTest::newRow("scheme wins over port") << u"pop3://pop.example.jp:995"_s << true << u"pop3"_s << u"pop.example.jp"_s << 995 << false;
        QTest::newRow("smtps, other port") << u"smtps://smtp.example.jp:2465"_s << true << u"smtps"_s << u"smtp.example.jp"_s << 2465 << true;
        QTest::newRow("empty") << QString() << false << QString() << QString() << 0 << false;
        QTest::newRow("port only") << u":110"_s << false << QString() << QString() << 0 << false;
        QTest::newRow("port zero") << u"h:0"_s << false << QString() << QString() << 0 << false;
        QTest::newRow("port not a number") << u"h:pop"_s << false << QString() << QString() << 0 << false;
        QTest::newRow("blank inside") << u"mail example.jp"_s << false << QString() << QString() << 0 << false;
        QTest::newRow("user part") << u"pop3://alice@mail.example.jp"_s << false << QString() << QString() << 0 << false;
        QTest::newRow("line break") << u"mail.example.jp\r\nQUIT"_s << false << QString() << QString() << 0 << false;
        QTest::newRow("open bracket") << u"[::1:110"_s << false << QString() << QString() << 0 << false;
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        ServerAddress a;
        QCOMPARE(ServerAddress::parse(text, &a), ok);
        if (!ok)
            return;
        QTEST(a.scheme, "scheme");
        QTEST(a.host, "host");
        QTEST(a.port, "port");
        QTEST(a.implicitTls(), "implicitTls");
    }

    void hostPort()
    {
        ServerAddress a;
        QVERIFY(ServerAddress::parse(u"[::1]"_s, &a));
        QCOMPARE(a.hostPort(995), u"[::1]:995"_s);
        QVERIFY(ServerAddress::parse(u"h:25"_s, &a));
        QCOMPARE(a.hostPort(587), u"h:25"_s);
    }
};

QTEST_GUILESS_MAIN(TestServerAddress)
#include "tst_serveraddress.moc"
