#include "storage/DataFolderLock.h"
#include "storage/MailRecordFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestDataFolderLock : public QObject {
    Q_OBJECT
private slots:
    void threadsExcludeEachOtherOneThreadReenters();
};

void TestDataFolderLock::threadsExcludeEachOtherOneThreadReenters()
{
    QTemporaryDir dir;
    const QString dataPath = dir.filePath(u"hlmdata2.data"_s);
    MailRecordFile file(dataPath, dir.filePath(u"HLMDATA2.TMP"_s));
    QCOMPARE(file.append({u"s1"_s, {}, {}, {}}), 1);

    DataFolderLock session(dir.path(), u"受信"_s);
    Error err;
    QVERIFY2(session.take(&err), qPrintable(err.text()));
    // The same thread writes at once, and the inner release keeps the outer lock.
    QCOMPARE(file.append({u"s2"_s, {}, {}, {}}), 2);
    {
        DataFolderLock inner(dir.path(), u"削除"_s);
        QVERIFY(inner.take(&err, 0));
    }

    // Another thread: a record write waits, then fails naming the holder; nothing written.
    int appended = 0;
    Error busy;
    std::thread([&] { appended = file.append({u"other"_s, {}, {}, {}}, &busy); }).join();
    QCOMPARE(appended, -1);
    QCOMPARE(busy.message, u"ほかの操作がデータを書き込み中です：受信（%1、pid %2）。終わってからもう一度お試しください。"_s
                               .arg(QCoreApplication::applicationName()).arg(::getpid()));
    QCOMPARE(QFile(dataPath).size(), 2 * MailRecordFile::RecordSize);

    // A waiter gets the lock as soon as the holder lets go.
    bool took = false;
    std::thread waiter([&] {
        DataFolderLock lock(dir.path(), u"削除"_s);
        took = lock.take(nullptr, 5000);
    });
    QTest::qWait(100);
    session.release();
    waiter.join();
    QVERIFY(took);
}

QTEST_GUILESS_MAIN(TestDataFolderLock)
#include "tst_datafolderlock.moc"
