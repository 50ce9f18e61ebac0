#include "storage/SentMailFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestSentMailFile : public QObject {
    Q_OBJECT
private slots:
    void copiesComeBackByteForByte()
    {
        QTemporaryDir dir;
        SentMailFile file(SentMailFile::pathIn(dir.path()));
        // A mail may hold the entry's own mark and any line ends.
        const QByteArray first = "Subject: a\r\n\r\nHOLLIN-SENT 1 2\n\r\n";
        const QByteArray second = QByteArray("\0\n\n", 3);
        Error err;
        QVERIFY(file.append(first, 1700000000, &err));
        QVERIFY(file.append(second, 1700000060, &err));
        QList<SentMailFile::Entry> entries;
        QVERIFY(file.list(&entries, &err));
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[1].sentAt, 1700000060);
        QByteArray read;
        QVERIFY(file.read(entries[0], &read, &err));
        QCOMPARE(read, first);
        QVERIFY(file.read(entries[1], &read, &err));
        QCOMPARE(read, second);
        QCOMPARE(QFile(file.path()).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
    }

    // A kill in the middle of an append leaves a cut copy: never listed, and
    // the next copy is written over it.
    void cutCopyIsDroppedAndOverwritten_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::newRow("mark only") << QByteArray("HOLLIN-SENT 17");
        QTest::newRow("mail cut") << QByteArray("HOLLIN-SENT 1 100\nSubject: cut");
        QTest::newRow("final LF missing") << QByteArray("HOLLIN-SENT 1 3\nabc");
    }
    void cutCopyIsDroppedAndOverwritten()
    {
        QFETCH(QByteArray, tail);
        QTemporaryDir dir;
        SentMailFile file(SentMailFile::pathIn(dir.path()));
        Error err;
        QVERIFY(file.append("one", 1, &err));
        QFile raw(file.path());
        QVERIFY(raw.open(QIODevice::Append));
        raw.write(tail);
        raw.close();
        QList<SentMailFile::Entry> entries;
        QVERIFY(file.list(&entries, &err));
        QCOMPARE(entries.size(), 1);
        QVERIFY(file.append("two", 2, &err));
        QVERIFY(file.list(&entries, &err));
        QCOMPARE(entries.size(), 2);
        QByteArray read;
        QVERIFY(file.read(entries[1], &read, &err));
        QCOMPARE(read, "two");
        QCOMPARE(QFile(file.path()).size(), qint64(2 * (QByteArray("HOLLIN-SENT 1 3\n").size() + 4)));
    }

    // Copies that no longer read (the file went through a CR LF conversion)
    // are kept aside whole when the next copy is written, never cut away.
    void damagedCopiesAreKeptAside()
    {
        QTemporaryDir dir;
        SentMailFile file(SentMailFile::pathIn(dir.path()));
        Error err;
        QVERIFY(file.append("Subject: a\n\none", 1, &err));
        QVERIFY(file.append("Subject: b\n\ntwo", 2, &err));
        QFile raw(file.path());
        QVERIFY(raw.open(QIODevice::ReadWrite));
        const QByteArray converted = raw.readAll().replace("\n", "\r\n");
        QVERIFY(raw.resize(0) && raw.write(converted) == converted.size());
        raw.close();
        QVERIFY(file.append("three", 3, &err));
        QList<SentMailFile::Entry> entries;
        QVERIFY(file.list(&entries, &err));
        QCOMPARE(entries.size(), 1);
        const QStringList aside = QDir(dir.path()).entryList({u"hlmsent.txt.damaged-*"_s});
        QCOMPARE(aside.size(), 1);
        QFile kept(dir.filePath(aside[0]));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), converted);
    }

    void missingFileHoldsNoneAndUnwritableFileIsTold()
    {
        QTemporaryDir dir;
        SentMailFile file(dir.path() + u"/missing/hlmsent.txt"_s);
        QList<SentMailFile::Entry> entries;
        Error err;
        QVERIFY(file.list(&entries, &err));
        QVERIFY(entries.isEmpty());
        QVERIFY(file.append("x", 1, &err)); // the folder is made
        QVERIFY(QFile::remove(file.path()));
        QVERIFY(QDir().mkdir(file.path()));
        QVERIFY(!file.append("x", 1, &err));
        QVERIFY(err.isSet());
    }
};

QTEST_GUILESS_MAIN(TestSentMailFile)
#include "tst_sentmailfile.moc"
