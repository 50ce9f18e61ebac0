#include "storage/MailRecordFile.h"
#include "storage/ThreadIndex.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestThreadIndex : public QObject {
    Q_OBJECT
private slots:
    // The digest of a record survives its renumbering by a compaction.
    void recordKeepsItsIdsAcrossCompaction()
    {
        QTemporaryDir dir;
        MailRecordFile records(dir.filePath(u"hlmdata2.data"_s), dir.filePath(u"HLMDATA2.TMP"_s));
        const MailRecord first{u"一通目"_s, u"d"_s, u"a@x.jp"_s, u"本文"_s};
        const MailRecord second{u"二通目"_s, u"d"_s, u"a@x.jp"_s, u"本文"_s};
        Error err;
        QCOMPARE(records.append(first, &err), 1);
        QCOMPARE(records.append(second, &err), 2);
        ThreadIndex index(ThreadIndex::pathIn(dir.path()));
        QString digest;
        QVERIFY(ThreadIndex::digestOf(records.path(), 2, &digest, &err));
        QCOMPARE(digest, ThreadIndex::digest(MailRecordFile::encode(second)));
        QVERIFY(index.add(ThreadIndex::digest(MailRecordFile::encode(first)), " <1@x.jp>", "", &err));
        QVERIFY(index.add(digest, "<2@x.jp>", "<0@x.jp>\r\n <1@x.jp>", &err));
        QVERIFY(index.add(digest, "no id here", "<9@x.jp>", &err)); // no line
        QVERIFY(index.flush(&err));

        QVERIFY(records.deleteRecord(1, &err));
        QVERIFY(ThreadIndex::digestOf(records.path(), 1, &digest, &err));
        ThreadIndex::Ids ids;
        QVERIFY(ThreadIndex(ThreadIndex::pathIn(dir.path())).find(digest, &ids, &err));
        QCOMPARE(ids.messageId, u"<2@x.jp>"_s);
        QCOMPARE(ids.references, u"<0@x.jp> <1@x.jp>"_s);
    }

    // A line cut by a kill is not read, and the next one starts on a line of its own.
    void cutLineIsIgnored()
    {
        QTemporaryDir dir;
        const QString path = ThreadIndex::pathIn(dir.path());
        QFile raw(path);
        QVERIFY(raw.open(QIODevice::WriteOnly));
        raw.write("aaaa <cut@x.jp");
        raw.close();
        ThreadIndex::Ids ids;
        Error err;
        QVERIFY(ThreadIndex(path).find(u"aaaa"_s, &ids, &err));
        QVERIFY(ids.messageId.isEmpty());
        ThreadIndex index(path);
        QVERIFY(index.add(u"bbbb"_s, "<new@x.jp>", {}, &err));
        QVERIFY(index.flush(&err));
        QVERIFY(ThreadIndex(path).find(u"bbbb"_s, &ids, &err));
        QCOMPARE(ids.messageId, u"<new@x.jp>"_s);
        // A line changed since (CR LF line ends): nothing but whole ids reaches a reply's header.
        QVERIFY(raw.open(QIODevice::Append));
        raw.write("cccc <crlf@x.jp> <root@x.jp>\r\n");
        raw.close();
        QVERIFY(ThreadIndex(path).find(u"cccc"_s, &ids, &err));
        QCOMPARE(ids.messageId, u"<crlf@x.jp>"_s);
        QCOMPARE(ids.references, u"<root@x.jp>"_s);
    }
};

QTEST_GUILESS_MAIN(TestThreadIndex)
#include "tst_threadindex.moc"
