#include "storage/DataRoot.h"
#include "storage/MailRecordFile.h"
#include "storage/ProfileFile.h"
#include "storage/ServerSettings.h"

#include "TestMailServers.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

// "hollin-cli receive" against a real POP3 server.
class TestCliReceive : public QObject {
    Q_OBJECT

    struct Run {
        int exitCode;
        QString out, err;
    };
    Run receive(const QString &root, const QStringList &args)
    {
        QProcess cli;
        cli.start(QString::fromUtf8(HOLLIN_CLI), QStringList{u"--root"_s, root, u"receive"_s} + args);
        if (!cli.waitForFinished(60000))
            return {-1, {}, {}};
        return {cli.exitCode(), QString::fromUtf8(cli.readAllStandardOutput()).trimmed(),
                QString::fromUtf8(cli.readAllStandardError())};
    }

private slots:
    void receivesAndReportsFailures_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("records");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("keepSetting");
        QTest::addColumn<int>("leftOnServer");
        QTest::newRow("received") << u"secret1"_s << 0 << 2 << QStringList() << false << 0;
        QTest::newRow("no password") << QString() << 1 << 0 << QStringList() << false << 2;
        QTest::newRow("wrong password") << u"wrong"_s << 1 << 0 << QStringList() << false << 2;
        QTest::newRow("kept by --keep") << u"secret1"_s << 0 << 2 << QStringList{u"--keep"_s} << false << 2;
        QTest::newRow("kept by the setting") << u"secret1"_s << 0 << 2 << QStringList() << true << 2;
    }
    void receivesAndReportsFailures()
    {
        QFETCH(QString, password);
        QFETCH(int, exitCode);
        QFETCH(int, records);
        QFETCH(QStringList, args);
        QFETCH(bool, keepSetting);
        QFETCH(int, leftOnServer);
        TestMailServers servers;
        TestMailServers::Options options;
        options.smtp = false;
        QString error;
        QVERIFY2(servers.start(options, &error), qPrintable(error));
        for (const QByteArray subject : {"one", "two"})
            QVERIFY(servers.deliver("From: a@example.jp\r\nSubject: " + subject + "\r\n\r\nbody\r\n"));

        QTemporaryDir dir;
        DataRoot root(dir.path());
        QVERIFY(root.ensureTree());
        ServerSettings settings;
        settings.pop3Server = servers.pop3Server();
        QVERIFY(settings.write(root.serverSettingsFile()));
        ProfileFile account(root.idPassIniFile(), true);
        QVERIFY(account.writeText(u"NAME"_s, servers.user()));
        QVERIFY(account.writeText(u"NAME2"_s, password));
        // The user agreed to plain logins on the test server (it has no STLS).
        QVERIFY(ProfileFile(root.iniFile()).writeText(u"PLAINLOGIN"_s, servers.pop3Server()));
        if (keepSetting)
            QVERIFY(ProfileFile(root.iniFile()).writeText(u"KEEPMAIL"_s, u"1"_s));

        const Run run = receive(dir.path(), args);
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode == 0) {
            QCOMPARE(run.out, u"2 件の新着メールを受信しました"_s);
            QVERIFY2(!run.err.contains(u"受信中"_s), qPrintable(run.err)); // no progress into a pipe
            // From cron: nothing new, nothing said.
            const Run again = receive(dir.path(), args + QStringList{u"--quiet"_s});
            QCOMPARE(again.exitCode, 0);
            QCOMPARE(again.out, QString());
        } else {
            QVERIFY(!run.err.trimmed().isEmpty());
        }
        QCOMPARE(MailRecordFile(root.receivedMailFile(), root.receivedMailTemp()).count(), records);
        QCOMPARE(servers.mailboxMessages().size(), leftOnServer);
    }
};

QTEST_GUILESS_MAIN(TestCliReceive)
#include "tst_clireceive.moc"
