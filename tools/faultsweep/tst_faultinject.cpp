// The fault-injection shim, preloaded into hollin-faultop writing the
// settings sample: what it counts, and what a fault at a counted call does.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

using namespace Qt::StringLiterals;

class TestFaultInject : public QObject {
    Q_OBJECT
private slots:
    void init();
    void counting();
    void fault_data();
    void fault();
    void powerCutAfterTheEnd();

private:
    struct Run {
        QProcess::ExitStatus status;
        int exitCode;
        long counted;
        QString stderrText;
        QString fired;
    };
    // Writes the settings sample into m_root, the shim watching watchedRoot.
    Run writeSettings(const QString &watchedRoot, long at, const QString &kind);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_root;
};

void TestFaultInject::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_root = QFileInfo(m_dir->path()).canonicalFilePath() + u"/root"_s;
    QVERIFY(QDir().mkpath(m_root));
}

TestFaultInject::Run TestFaultInject::writeSettings(const QString &watchedRoot, long at, const QString &kind)
{
    const QString countFile = m_dir->filePath(u"count"_s);
    const QString logFile = m_dir->filePath(u"log"_s);
    QFile::remove(countFile);
    QFile::remove(logFile);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"LD_PRELOAD"_s, QStringLiteral(HOLLIN_FAULTINJECT));
    env.insert(u"HOLLIN_FAULT_ROOT"_s, watchedRoot);
    env.insert(u"HOLLIN_FAULT_AT"_s, QString::number(at));
    env.insert(u"HOLLIN_FAULT_KIND"_s, kind);
    env.insert(u"HOLLIN_FAULT_COUNT"_s, countFile);
    env.insert(u"HOLLIN_FAULT_LOG"_s, logFile);
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(HOLLIN_FAULTOP), {u"--root"_s, m_root, u"settings"_s, u"1"_s});
    p.waitForFinished(30000);
    QFile count(countFile), log(logFile);
    const long counted = count.open(QIODevice::ReadOnly) ? count.readAll().trimmed().toLong() : -1;
    const QString fired = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()).trimmed() : QString();
    return {p.exitStatus(), p.exitCode(), counted, QString::fromUtf8(p.readAllStandardError()), fired};
}

// The sweep depends on the count: the same for the same work, nothing outside the root.
void TestFaultInject::counting()
{
    const Run first = writeSettings(m_root, 0, {});
    QCOMPARE(first.exitCode, 0);
    QVERIFY2(first.counted >= 10, qPrintable(QString::number(first.counted)));
    QVERIFY(QDir(m_root).removeRecursively() && QDir().mkpath(m_root));
    QCOMPARE(writeSettings(m_root, 0, {}).counted, first.counted);
    QCOMPARE(writeSettings(m_dir->filePath(u"elsewhere"_s), 0, {}).counted, 0L);
}

void TestFaultInject::fault_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("enospc") << u"enospc"_s << QString::fromLocal8Bit(std::strerror(ENOSPC));
    QTest::newRow("eio") << u"eio"_s << QString::fromLocal8Bit(std::strerror(EIO));
    QTest::newRow("kill") << u"kill"_s << QString();
    // Half of the bytes are written; the rest of the write finds the disk full.
    QTest::newRow("full") << u"full"_s << QString::fromLocal8Bit(std::strerror(ENOSPC));
    // A kill that keeps only what was flushed: the temporary file's name never was.
    QTest::newRow("powerloss") << u"powerloss"_s << QString();
}

// A fault at the first write of the settings file itself (after the
// folders, the lock and the file of the lock).
void TestFaultInject::fault()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const long total = writeSettings(m_root, 0, {}).counted;
    long at = 0;
    for (long k = 1; k <= total && at == 0; ++k) {
        QVERIFY(QDir(m_root).removeRecursively() && QDir().mkpath(m_root));
        const Run probe = writeSettings(m_root, k, u"eio"_s);
        if (probe.fired.contains(u"hlmail.ini."_s) && probe.fired.startsWith(u"pwrite"_s))
            at = k;
    }
    QVERIFY(at > 0);
    QVERIFY(QDir(m_root).removeRecursively() && QDir().mkpath(m_root));
    const Run run = writeSettings(m_root, at, kind);
    QVERIFY(run.fired.startsWith(u"pwrite "_s + m_root + u"/hlmail.ini."_s));
    if (kind == u"kill" || kind == u"powerloss") {
        QCOMPARE(run.status, QProcess::CrashExit);
        const QStringList temporaries = QDir(m_root).entryList({u"hlmail.ini.*"_s}, QDir::Files);
        QCOMPARE(temporaries.size(), kind == u"kill" ? 1 : 0);
    } else {
        QCOMPARE(run.status, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.stderrText.contains(message), qPrintable(run.stderrText));
    }
    QVERIFY(!QFile::exists(m_root + u"/hlmail.ini"_s));
}

// A power cut just after a writer that flushes everything it writes leaves
// what a clean run leaves, byte for byte: the model loses nothing flushed.
void TestFaultInject::powerCutAfterTheEnd()
{
    auto contents = [this] {
        QMap<QString, QByteArray> files;
        QDirIterator it(m_root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (file.fileName().endsWith(u".lock"_s))
                continue; // its holder's name is never flushed: it only matters while the holder runs
            files.insert(QDir(m_root).relativeFilePath(file.fileName()),
                         file.open(QIODevice::ReadOnly) ? file.readAll() : "(unreadable)");
        }
        return files;
    };
    const long total = writeSettings(m_root, 0, {}).counted;
    const QMap<QString, QByteArray> clean = contents();
    QVERIFY(clean.contains(u"hlmail.ini"_s));
    QVERIFY(QDir(m_root).removeRecursively() && QDir().mkpath(m_root));
    const Run run = writeSettings(m_root, total + 1, u"powerloss"_s);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.fired, u"exit "_s + m_root);
    QCOMPARE(contents(), clean);
}

QTEST_GUILESS_MAIN(TestFaultInject)
#include "tst_faultinject.moc"
