#include "storage/MailRecordFile.h"
#include "storage/UidlList.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestUidlList : public QObject {
    Q_OBJECT
private slots:
    void init();
    void eachAccountKeepsItsOwnIds();
    void lineCutByAKillDoesNotSwallowTheNext();
    void filesOfAMailNeverStoredAreRemoved();
    void pendingLineSettledByACompactionStaysStored();

private:
    QString path() const { return m_dir->filePath(u"hlmuidl.txt"_s); }
    QString records() const { return m_dir->filePath(u"hlmdata2.data"_s); }
    QByteArray listBytes() const;
    void writeList(const QByteArray &bytes);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestUidlList::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QByteArray TestUidlList::listBytes() const
{
    QFile file(path());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestUidlList::writeList(const QByteArray &bytes)
{
    QFile file(path());
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

void TestUidlList::eachAccountKeepsItsOwnIds()
{
    const QString alice = UidlList::accountKey(u"pop.example.jp"_s, u"alice"_s);
    const QString bob = UidlList::accountKey(u"pop.example.jp"_s, u"bob"_s);
    QVERIFY(alice != bob);
    QCOMPARE(UidlList::accountKey(u"POP.example.jp "_s, u"alice"_s), alice);
    writeList("old 100\n"); // a line of an earlier version: the first account to load takes it over

    UidlList asAlice(path(), records(), alice);
    QVERIFY(asAlice.load(nullptr));
    QCOMPARE(asAlice.storedSince(u"old"_s), 100);

    UidlList asBob(path(), records(), bob);
    QVERIFY(asBob.load(nullptr));
    QCOMPARE(asBob.storedSince(u"old"_s), -1);
    QVERIFY(asBob.noteFailure(u"bad"_s, nullptr));
    QVERIFY(asBob.prune({}, nullptr)); // forgets Bob's ids only

    QVERIFY(asAlice.load(nullptr));
    QCOMPARE(asAlice.storedSince(u"old"_s), 100);
    QCOMPARE(asAlice.failures(u"bad"_s), 0);
    QCOMPARE(listBytes(), "old 100 " + alice.toLatin1() + '\n');
}

void TestUidlList::lineCutByAKillDoesNotSwallowTheNext()
{
    const QString alice = UidlList::accountKey(u"pop.example.jp"_s, u"alice"_s);
    writeList("a 100 " + alice.toLatin1() + "\nb 200 " + alice.toLatin1() + " 1 ab"); // cut before its LF
    MailRecordFile file(records(), m_dir->filePath(u"HLMDATA2.TMP"_s));
    const MailRecord record{u"s"_s, u"d"_s, u"f"_s, u"body"_s};

    UidlList list(path(), records(), alice);
    QVERIFY(list.load(nullptr));
    QVERIFY(list.addPending(u"c"_s, 1, MailRecordFile::encode(record), nullptr));
    QCOMPARE(file.append(record), 1);

    // A kill here: the next load finds the pending line whole and the record written.
    UidlList next(path(), records(), alice);
    QVERIFY(next.load(nullptr));
    QVERIFY(next.storedSince(u"a"_s) == 100);
    QVERIFY(next.storedSince(u"b"_s) < 0);
    QVERIFY(next.storedSince(u"c"_s) > 0);
}

void TestUidlList::filesOfAMailNeverStoredAreRemoved()
{
    auto makeFile = [&](const QString &name) {
        QFile file(m_dir->filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write("x");
        file.close();
        return UidlList::notedFile(file.fileName());
    };
    const UidlList::NotedFile kept = makeFile(u"添付 a.txt"_s);
    const UidlList::NotedFile gone = makeFile(u"b.txt"_s);
    const MailRecord record{u"s"_s, u"d"_s, u"f"_s, u"body"_s};
    UidlList list(path(), records(), u"messages"_s);
    QVERIFY(list.load(nullptr));
    QVERIFY(list.addPending(u"k1"_s, 1, MailRecordFile::encode(record), nullptr, {kept}));
    QCOMPARE(MailRecordFile(records(), m_dir->filePath(u"HLMDATA2.TMP"_s)).append(record), 1);
    QVERIFY(list.addPending(u"k2"_s, 2, MailRecordFile::encode(record), nullptr, {gone}));
    // Killed before the second record: its file goes, unless the name now
    // holds another file, even one that got the same inode.
    const UidlList::NotedFile reused = makeFile(u"c.txt"_s);
    QVERIFY(list.addPending(u"k3"_s, 2, MailRecordFile::encode(record), nullptr, {reused}));
    QFile user(reused.path);
    QVERIFY(user.open(QIODevice::WriteOnly | QIODevice::Truncate) && user.write("the user's own") > 0);
    user.close();

    UidlList next(path(), records(), u"messages"_s);
    QVERIFY(next.load(nullptr));
    QVERIFY(next.storedSince(u"k1"_s) > 0);
    QVERIFY(QFile::exists(kept.path));
    QVERIFY(!QFile::exists(gone.path));
    QVERIFY(QFile::exists(reused.path));
}

// A deletion between two holds of a receive settles its pending line and
// renumbers the records: the receive's next rewrite must not write the old
// line back, whose record number now names another mail (its files would go).
void TestUidlList::pendingLineSettledByACompactionStaysStored()
{
    const QString alice = UidlList::accountKey(u"pop.example.jp"_s, u"alice"_s);
    MailRecordFile file(records(), m_dir->filePath(u"HLMDATA2.TMP"_s));
    const MailRecord first{u"first"_s, u"d"_s, u"f"_s, u"one"_s};
    const MailRecord second{u"second"_s, u"d"_s, u"f"_s, u"two"_s};
    QCOMPARE(file.append(first), 1);
    const UidlList::NotedFile attachment = [&] {
        QFile f(m_dir->filePath(u"a.bin"_s));
        f.open(QIODevice::WriteOnly);
        f.write("x");
        f.close();
        return UidlList::notedFile(f.fileName());
    }();
    UidlList receive(path(), records(), alice);
    QVERIFY(receive.load(nullptr));
    QVERIFY(receive.addPending(u"b"_s, 2, MailRecordFile::encode(second), nullptr, {attachment}));
    QCOMPARE(file.append(second), 2);
    QVERIFY(file.deleteRecord(1)); // settles the list, then "second" is record 1
    QVERIFY(receive.noteFailure(u"c"_s, nullptr));

    UidlList next(path(), records(), alice);
    QVERIFY(next.load(nullptr));
    QVERIFY(next.storedSince(u"b"_s) > 0);
    QVERIFY(QFile::exists(attachment.path));
}

QTEST_GUILESS_MAIN(TestUidlList)
#include "tst_uidllist.moc"
