#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The real program, started twice on one data folder.
class TestSingleInstance : public QObject {
    Q_OBJECT

private:
    // QLockFile writes the holder's process id on its first line.
    static qint64 lockHolder(const QString &lock)
    {
        QFile f(lock);
        return f.open(QIODevice::ReadOnly) ? f.readLine().trimmed().toLongLong() : 0;
    }
    static void prepare(QProcess &p, const QString &root)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        p.setProcessEnvironment(env);
        p.setProgram(QStringLiteral(HOLLIN_EXE));
        p.setArguments({u"--root"_s, root});
    }

private slots:
    void secondStartOnTheSameRootEnds()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QProcess first;
        prepare(first, dir.path());
        first.start();
        QVERIFY(first.waitForStarted());
        // The first copy holds the lock once its start-up has made the received-mail file.
        const QString lock = dir.filePath(u"★MailData/hollin.lock"_s);
        const QString mailFile = dir.filePath(u"★MailData/hlmdata2.data"_s);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(mailFile), 20000);
        QCOMPARE(lockHolder(lock), first.processId());

        QProcess second;
        prepare(second, dir.path());
        second.start();
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);

        // A copy on another data folder is not refused.
        QTemporaryDir other;
        QProcess third;
        prepare(third, other.path());
        third.start();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(other.filePath(u"★MailData/hlmdata2.data"_s)), 20000);
        QCOMPARE(third.state(), QProcess::Running);

        for (QProcess *p : {&first, &third}) {
            p->terminate();
            QVERIFY(p->waitForFinished(10000));
        }
        // Once the first copy is gone, its lock does not keep the next start out.
        QProcess again;
        prepare(again, dir.path());
        again.start();
        QVERIFY(again.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(lockHolder(lock), again.processId(), 20000);
        QCOMPARE(again.state(), QProcess::Running);
        again.terminate();
        QVERIFY(again.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
