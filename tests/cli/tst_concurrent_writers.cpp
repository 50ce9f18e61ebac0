#include "storage/DataFolderLock.h"
#include "storage/DataRoot.h"
#include "storage/MailRecordFile.h"
#include "storage/ProfileFile.h"
#include "storage/ServerSettings.h"

#include "TestMailServers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace hollin;

// Writers of one data root at the same time, as separate hollin-cli processes
// against the real POP3 server: one writes at a time, the others wait a little
// and then fail with a message, and no mail is ever lost.
class TestConcurrentWriters : public QObject {
    Q_OBJECT

    // One hollin-cli run in the background; finishedAt: the test clock when it ended.
    struct Cli {
        std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
        qint64 finishedAt = -1;
        QString out() const { return QString::fromUtf8(process->readAllStandardOutput()); }
        QString err() const { return QString::fromUtf8(process->readAllStandardError()); }
    };

    TestMailServers m_servers;
    QTemporaryDir m_dir;
    DataRoot m_root;
    QElapsedTimer m_clock;

    void start(Cli *cli, const QStringList &args)
    {
        QProcess *p = cli->process.get();
        connect(p, &QProcess::finished, this, [this, cli] { cli->finishedAt = m_clock.elapsed(); });
        p->start(QString::fromUtf8(HOLLIN_CLI), QStringList{u"--root"_s, m_root.root()} + args);
        QVERIFY(p->waitForStarted());
    }
    MailRecordFile received() const { return MailRecordFile(m_root.receivedMailFile(), m_root.receivedMailTemp()); }
    static QByteArray bytes(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void deliver(int count, int bodyLines = 1)
    {
        const QByteArray body = QByteArray("body line of a mail\r\n").repeated(bodyLines);
        for (int i = 1; i <= count; ++i)
            QVERIFY(m_servers.deliver("From: a@example.jp\r\nSubject: m" + QByteArray::number(i) + "\r\n\r\n" + body));
    }

private slots:
    void initTestCase()
    {
        TestMailServers::Options options;
        options.smtp = false;
        QString error;
        QVERIFY2(m_servers.start(options, &error), qPrintable(error));
        m_clock.start();
    }
    void init()
    {
        m_root = DataRoot(m_dir.filePath(QString::number(m_clock.elapsed())));
        QVERIFY(m_root.ensureTree());
        ServerSettings settings;
        settings.pop3Server = m_servers.pop3Server();
        QVERIFY(settings.write(m_root.serverSettingsFile()));
        ProfileFile account(m_root.idPassIniFile(), true);
        QVERIFY(account.writeText(u"NAME"_s, m_servers.user()));
        QVERIFY(account.writeText(u"NAME2"_s, m_servers.password()));
        // The user agreed to plain logins on the test server (it has no STLS).
        QVERIFY(ProfileFile(m_root.iniFile()).writeText(u"PLAINLOGIN"_s, m_servers.pop3Server()));
    }

    // Without that agreement the password is not sent in clear, unless
    // --allow-plain: not by receive, not by check; with APOP the warning says
    // what does travel in clear.
    void plainLoginNeedsConsent()
    {
        QVERIFY(ProfileFile(m_root.iniFile()).writeText(u"PLAINLOGIN"_s, {}));
        deliver(1);
        const qsizetype waiting = m_servers.mailboxMessages().size();
        Cli checked;
        start(&checked, {u"check"_s, u"--pop3"_s});
        QVERIFY(checked.process->waitForFinished(30000));
        QCOMPARE(checked.process->exitCode(), 1);
        const QString shown = checked.out();
        QVERIFY2(shown.contains(u"ログインしませんでした"_s) && !shown.contains(u"ログインしました"_s), qPrintable(shown));
        QVERIFY2(checked.err().contains(u"--allow-plain"_s), qPrintable(checked.err()));

        ServerSettings apop;
        apop.pop3Server = m_servers.pop3Server();
        apop.apopFlag = 1;
        QVERIFY(apop.write(m_root.serverSettingsFile()));
        Cli apopRefused;
        start(&apopRefused, {u"receive"_s});
        QVERIFY(apopRefused.process->waitForFinished(30000));
        QCOMPARE(apopRefused.process->exitCode(), 1);
        const QString apopSaid = apopRefused.err();
        QVERIFY2(apopSaid.contains(u"APOP はパスワードそのものは送りません"_s)
                     && !apopSaid.contains(u"パスワードが暗号化されずに送られます"_s), qPrintable(apopSaid));
        apop.apopFlag = 0;
        QVERIFY(apop.write(m_root.serverSettingsFile()));

        Cli refused;
        start(&refused, {u"receive"_s});
        QVERIFY(refused.process->waitForFinished(30000));
        QCOMPARE(refused.process->exitCode(), 1);
        const QString said = refused.err();
        QVERIFY2(said.contains(u"パスワードが暗号化されずに送られます"_s) && said.contains(u"--allow-plain"_s), qPrintable(said));
        QCOMPARE(m_servers.mailboxMessages().size(), waiting);
        QCOMPARE(received().count(), 0);

        Cli allowed;
        start(&allowed, {u"receive"_s, u"--allow-plain"_s});
        QVERIFY(allowed.process->waitForFinished(30000));
        QVERIFY2(allowed.process->exitCode() == 0, qPrintable(allowed.err()));
        QCOMPARE(received().count(), int(waiting));
    }

    // Every writing command while another holds the lock: exit 1, the holder named, nothing changed.
    void writersWaitThenFailChangingNothing()
    {
        deliver(2);
        QVERIFY(received().append({u"kept1"_s, {}, {}, {}}) == 1 && received().append({u"kept2"_s, {}, {}, {}}) == 2);
        QTemporaryDir in;
        const QString eml = in.filePath(u"one.eml"_s);
        QFile f(eml);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("Subject: imported\r\n\r\nbody\r\n") > 0);
        f.close();
        const QByteArray mailBefore = bytes(m_root.receivedMailFile());
        const QByteArray bookBefore = bytes(m_root.addressBookFile());

        DataFolderLock holder(m_root.dataFolder(), u"受信"_s);
        QVERIFY(holder.take(nullptr));
        const QList<QStringList> commands{{u"delete"_s, u"1"_s}, {u"delete-all"_s}, {u"addr"_s, u"add"_s, u"n"_s, u"a@b.jp"_s},
                                          {u"import"_s, eml}, {u"receive"_s}};
        std::vector<Cli> runs(commands.size());
        for (qsizetype i = 0; i < commands.size(); ++i)
            start(&runs[i], commands[i]);
        for (Cli &run : runs)
            QVERIFY(run.process->waitForFinished(30000));
        const QString busy = u"ほかの操作がデータを書き込み中です：受信（%1、pid %2）"_s
                                 .arg(QCoreApplication::applicationName()).arg(::getpid());
        for (qsizetype i = 0; i < commands.size(); ++i) {
            QCOMPARE(runs[i].process->exitCode(), 1);
            QVERIFY2(runs[i].err().contains(busy), qPrintable(commands[i].join(u' ')));
        }
        QCOMPARE(bytes(m_root.receivedMailFile()), mailBefore);
        QCOMPARE(bytes(m_root.addressBookFile()), bookBefore);
        QCOMPARE(m_servers.mailboxMessages().size(), 2);
        QVERIFY(QDir(m_root.attachmentFolder()).isEmpty());
    }

    // A real receive with deletions, an address added and a second receive
    // started while it runs: the writers do their work while the receive waits
    // for the server, the second receive is refused, and every mail ends up
    // stored once or deleted by the user.
    void receiveWithWritersAtTheSameTimeLosesNothing()
    {
        constexpr int Mails = 1500;
        const int waiting = int(m_servers.mailboxMessages().size());
        deliver(Mails - waiting, 1000);

        const int storedBefore = received().count();
        Cli receive;
        start(&receive, {u"receive"_s});
        const qint64 pid = receive.process->processId();
        // Once it is storing, the others start.
        QTRY_VERIFY_WITH_TIMEOUT(received().count() >= storedBefore + 2, 30000);
        const QList<QStringList> commands{{u"delete"_s, u"1"_s}, {u"addr"_s, u"add"_s, u"n"_s, u"a@b.jp"_s},
                                          {u"receive"_s}};
        std::vector<Cli> runs(commands.size());
        for (qsizetype i = 0; i < commands.size(); ++i) {
            start(&runs[i], commands[i]);
            QTRY_VERIFY_WITH_TIMEOUT(runs[i].finishedAt >= 0, 30000);
        }
        QVERIFY2(receive.finishedAt < 0, "the receive ended before the others could try");
        QTRY_VERIFY_WITH_TIMEOUT(receive.finishedAt >= 0, 120000);

        QCOMPARE(receive.process->exitCode(), 0);
        QCOMPARE(receive.out().trimmed(), u"%1 件の新着メールを受信しました"_s.arg(Mails));
        QCOMPARE(runs[0].process->exitCode(), 0);
        QCOMPARE(runs[1].process->exitCode(), 0);
        QCOMPARE(runs[2].process->exitCode(), 1);
        QVERIFY2(runs[2].err().contains(u"ほかのプログラムが受信中です（hollin-cli、pid %1）"_s.arg(pid)),
                 qPrintable(runs[2].err()));
        QCOMPARE(m_servers.mailboxMessages().size(), 0);
        QCOMPARE(received().count(), storedBefore + Mails - 1); // none lost, none twice
    }
};

QTEST_GUILESS_MAIN(TestConcurrentWriters)
#include "tst_concurrent_writers.moc"
