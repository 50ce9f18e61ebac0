#include "storage/MailRecordFile.h"
#include "storage/StorageNotice.h"
#include "storage/TextUtil.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// A record built by hand, field by field.
QByteArray handRecord(const QByteArray &subject, const QByteArray &date, const QByteArray &address,
                      const QByteArray &body, char flagLow = 1)
{
    auto padded = [](QByteArray b, int width) { return b + QByteArray(width - b.size(), ' '); };
    return padded(subject, 100) + padded(date, 90) + padded(address, 90) + padded(body, 32000) + "\r\n"
        + QByteArray(1, flagLow) + QByteArray(1, '\0');
}

MailRecord mail(const QString &subject)
{
    return {subject, u"Mon, 7 Dec 2026 10:00:00 +0900"_s, u"taro@example.jp"_s, u"本文 "_s + subject};
}

} // namespace

class TestMailRecordFile : public QObject {
    Q_OBJECT
private slots:
    void init();
    void layout_data();
    void layout();
    void readBackFullWidth();
    void emptyFile();
    void compaction_data();
    void compaction();
    void deleteAllLeavesEmptyFile();
    void badNumbersChangeNothing();
    void recovery_data();
    void recovery();
    void writesRecoverFirst();
    void partialTail();
    void appendPastLimitRefused();
    void headsOnly();

private:
    QString dataPath() const { return m_dir->filePath(u"hlmdata2.data"_s); }
    QString tempPath() const { return m_dir->filePath(u"HLMDATA2.TMP"_s); }
    MailRecordFile file() const { return MailRecordFile(dataPath(), tempPath()); }
    QStringList subjects() const;
    void fill(int n);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestMailRecordFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QStringList TestMailRecordFile::subjects() const
{
    QStringList out;
    Error err;
    const bool ok = file().readAllHeads([&](int n, const MailRecord &r) {
        out << QString::number(n) + u':' + trimSpaces(r.subject);
        return true;
    }, &err);
    return ok ? out : QStringList{err.text()};
}

void TestMailRecordFile::fill(int n)
{
    MailRecordFile f = file();
    for (int i = 1; i <= n; ++i)
        QCOMPARE(f.append(mail(u"s%1"_s.arg(i))), i);
}

void TestMailRecordFile::layout_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("subjectCut");

    const QByteArray date = "Mon, 7 Dec 2026";
    const QByteArray from = "a@b.jp";
    QTest::newRow("empty fields") << QString() << QString() << handRecord({}, date, from, {}) << false;
    QTest::newRow("subject of exactly 100 bytes") << QString(100, u'x') << u"b"_s
                                                  << handRecord(QByteArray(100, 'x'), date, from, "b") << false;
    QByteArray sixtyDouble;
    for (int i = 0; i < 60; ++i)
        sixtyDouble += "\x82\xA0";
    QTest::newRow("60 double-byte chars cut at 100") << QString(60, u'あ') << QString()
                                                     << handRecord(sixtyDouble.left(100), date, from, {}) << true;
    QTest::newRow("cut never splits a character") << u"a"_s + QString(60, u'あ') << QString()
                                                  << handRecord("a" + sixtyDouble.left(98), date, from, {}) << true;
    QTest::newRow("NUL inside a field") << u"ab\0cd"_s << QString()
                                        << handRecord(QByteArray("ab\0cd", 5), date, from, {}) << false;
    QTest::newRow("body of 32000 bytes") << u"s"_s << QString(32000, u'y')
                                         << handRecord("s", date, from, QByteArray(32000, 'y')) << false;
    QByteArray hon;
    for (int i = 0; i < 16000; ++i)
        hon += "\x96\x7B";
    QTest::newRow("longer body cut at 32000") << u"s"_s << QString(16001, u'本')
                                              << handRecord("s", date, from, hon) << false;
}

void TestMailRecordFile::layout()
{
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(QByteArray, expected);
    QFETCH(bool, subjectCut);

    MailRecordFile f = file();
    MailRecordFit fit;
    Error err;
    const MailRecord record{subject, u"Mon, 7 Dec 2026"_s, u"a@b.jp"_s, body};
    QCOMPARE(f.append(record, &err, &fit), 1);
    QCOMPARE(fit.subject.cut, subjectCut);
    QCOMPARE(readBytes(dataPath()), expected);
    QCOMPARE(MailRecordFile::encode(record), expected);
}

void TestMailRecordFile::readBackFullWidth()
{
    MailRecordFile f = file();
    QCOMPARE(f.append({u"件名"_s, u"d"_s, u"a\0b"_s, u"本文\r\n二行目"_s}), 1);
    MailRecord r;
    QVERIFY(f.read(1, &r));
    QCOMPARE(r.subject, u"件名"_s + QString(98, u' '));
    QCOMPARE(r.date.size(), 90);
    QCOMPARE(cutAtNul(r.address), u"a"_s);
    QCOMPARE(r.body.size(), 32000);
    QCOMPARE(trimSpaces(r.body), u"本文\r\n二行目"_s);
}

void TestMailRecordFile::emptyFile()
{
    MailRecordFile f = file();
    QVERIFY(!QFile::exists(dataPath()));
    QCOMPARE(f.count(), 0);
    QVERIFY(QFile::exists(dataPath()));
    int visited = 0;
    QVERIFY(f.readAll([&](int, const MailRecord &) { return ++visited, true; }));
    QCOMPARE(visited, 0);
}

void TestMailRecordFile::compaction_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("drop");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("2 of 3") << 3 << 2 << QStringList{u"1:s1"_s, u"2:s3"_s};
    QTest::newRow("first of 3") << 3 << 1 << QStringList{u"1:s2"_s, u"2:s3"_s};
    QTest::newRow("last of 3") << 3 << 3 << QStringList{u"1:s1"_s, u"2:s2"_s};
    QTest::newRow("only one") << 1 << 1 << QStringList{};
}

void TestMailRecordFile::compaction()
{
    QFETCH(int, records);
    QFETCH(int, drop);
    QFETCH(QStringList, after);
    fill(records);
    Error err;
    QVERIFY2(file().deleteRecord(drop, &err), qPrintable(err.text()));
    QCOMPARE(subjects(), after);
    QCOMPARE(QFileInfo(dataPath()).size(), qint64(after.size()) * MailRecordFile::RecordSize);
    QVERIFY(QFile::exists(dataPath()));
    QVERIFY(!QFile::exists(tempPath()));
}

void TestMailRecordFile::deleteAllLeavesEmptyFile()
{
    fill(3);
    // A record marked by an older interrupted deletion is dropped along the way.
    QByteArray bytes = readBytes(dataPath());
    bytes[2 * MailRecordFile::RecordSize - 2] = 0;
    writeBytes(dataPath(), bytes);
    QVERIFY(file().deleteRecord(3));
    QCOMPARE(subjects(), QStringList{u"1:s1"_s});

    QVERIFY(file().deleteAll());
    QVERIFY(QFile::exists(dataPath()));
    QCOMPARE(QFileInfo(dataPath()).size(), 0);
    QVERIFY(!QFile::exists(tempPath()));
}

void TestMailRecordFile::badNumbersChangeNothing()
{
    fill(2);
    const QByteArray before = readBytes(dataPath());
    MailRecordFile f = file();
    MailRecord r;
    for (int n : {0, -1, 3, 32767}) {
        Error err;
        QVERIFY(!f.deleteRecord(n, &err));
        QVERIFY(err.isSet());
        QVERIFY(!f.read(n, &r));
    }
    QVERIFY(!f.write(4, mail(u"gap"_s)));
    QCOMPARE(readBytes(dataPath()), before);
    QVERIFY(!QFile::exists(tempPath()));
}

void TestMailRecordFile::recovery_data()
{
    // Each row is what an interruption can leave on disk: the data file and the temporary.
    QTest::addColumn<int>("dataRecords");
    QTest::addColumn<int>("tempRecords");
    QTest::addColumn<int>("tempMarked");   // record marked in the temporary (0: none)
    QTest::addColumn<int>("tempExtra");    // bytes of a half-written record at the temporary's end
    QTest::addColumn<int>("dataNewer");    // records written to the data file after the copy was left
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<bool>("dataKept");     // the replaced data file is kept beside it
    const QStringList all{u"1:s1"_s, u"2:s2"_s, u"3:s3"_s};
    // The old copy-then-rewrite method: a full copy, data file deleted or partly rewritten.
    QTest::newRow("old: data file gone") << -1 << 3 << 2 << 0 << 0 << QStringList{u"1:s1"_s, u"2:s3"_s} << false;
    QTest::newRow("old: data file empty") << 0 << 3 << 2 << 0 << 0 << QStringList{u"1:s1"_s, u"2:s3"_s} << false;
    QTest::newRow("old: partly rewritten") << 1 << 3 << 2 << 0 << 0 << QStringList{u"1:s1"_s, u"2:s3"_s} << true;
    // A copy left long ago beside a data file that has been written since.
    QTest::newRow("stale copy, data file in use") << 2 << 3 << 0 << 0 << 0 << all << true;
    // ... and records stored since that the copy lacks: they stay in the inbox.
    QTest::newRow("stale copy, newer records") << 1 << 3 << 0 << 0 << 1 << (all + QStringList{u"4:new1"_s}) << true;
    // The old method stopped while copying: data file intact.
    QTest::newRow("old: copy half done") << 3 << 1 << 0 << 500 << 0 << all << false;
    // This program: stopped while writing the temporary, before the rename.
    QTest::newRow("new: temp being written") << 3 << 1 << 0 << 1000 << 0 << all << false;
    QTest::newRow("new: temp complete, not renamed") << 3 << 2 << 0 << 0 << 0 << all << false;
    QTest::newRow("new: temp empty") << 3 << 0 << 0 << 0 << 0 << all << false;
}

void TestMailRecordFile::recovery()
{
    QFETCH(int, dataRecords);
    QFETCH(int, tempRecords);
    QFETCH(int, tempMarked);
    QFETCH(int, tempExtra);
    QFETCH(int, dataNewer);
    QFETCH(QStringList, after);
    QFETCH(bool, dataKept);
    QStringList told;
    storagenotice::setHandler([&](const QString &text) { told << text; });

    QByteArray full;
    for (int i = 1; i <= 3; ++i)
        full += MailRecordFile::encode(mail(u"s%1"_s.arg(i)));
    QByteArray temp = full.left(tempRecords * MailRecordFile::RecordSize) + QByteArray(tempExtra, 'z');
    if (tempMarked)
        temp[tempMarked * MailRecordFile::RecordSize - 2] = 0;
    writeBytes(tempPath(), temp);
    QByteArray data = full.left(qMax(dataRecords, 0) * MailRecordFile::RecordSize);
    for (int i = 1; i <= dataNewer; ++i)
        data += MailRecordFile::encode(mail(u"new%1"_s.arg(i)));
    if (dataRecords >= 0)
        writeBytes(dataPath(), data);

    // Whatever the data file held is kept, each time in a file of its own.
    const QByteArray dataBefore = readBytes(dataPath());
    for (int round = 1; round <= 2; ++round) {
        Error err;
        QVERIFY2(file().recoverInterruptedCompaction(&err), qPrintable(err.text()));
        QVERIFY(!QFile::exists(tempPath()));
        QCOMPARE(subjects(), after);
        const QStringList kept = QDir(m_dir->path()).entryList({u"hlmdata2.data.*"_s}, QDir::Files, QDir::Name);
        QCOMPARE(kept.size(), dataKept ? round : 0);
        QCOMPARE(told.size(), kept.size());
        if (dataKept) {
            QCOMPARE(readBytes(m_dir->filePath(kept.last())), dataBefore);
            QVERIFY2(told.last().contains(kept.last()), qPrintable(told.last()));
        }
        writeBytes(tempPath(), temp);
        writeBytes(dataPath(), dataBefore);
        if (dataRecords < 0)
            QFile::remove(dataPath());
    }
    storagenotice::setHandler({});
}

void TestMailRecordFile::writesRecoverFirst()
{
    // Left by an interrupted copy-then-rewrite: the full copy, and an empty data file.
    QByteArray full;
    for (int i = 1; i <= 3; ++i)
        full += MailRecordFile::encode(mail(u"s%1"_s.arg(i)));
    writeBytes(tempPath(), full);
    writeBytes(dataPath(), {});
    QCOMPARE(file().append(mail(u"new"_s)), 4);
    QCOMPARE(subjects(), (QStringList{u"1:s1"_s, u"2:s2"_s, u"3:s3"_s, u"4:new"_s}));

    writeBytes(tempPath(), full);
    writeBytes(dataPath(), {});
    QVERIFY(file().deleteRecord(1));
    QCOMPARE(subjects(), (QStringList{u"1:s2"_s, u"2:s3"_s}));
}

void TestMailRecordFile::partialTail()
{
    QStringList told;
    storagenotice::setHandler([&](const QString &text) { told << text; });
    auto addTail = [&](const QByteArray &bytes) {
        QFile f(dataPath());
        QVERIFY(f.open(QIODevice::Append));
        f.write(bytes);
    };
    auto keptFiles = [&] { return QDir(m_dir->path()).entryList({u"hlmdata2.data.partial-*"_s}, QDir::Files); };
    fill(2);
    addTail("partial");
    MailRecordFile f = file();
    QCOMPARE(f.count(), 2);
    QCOMPARE(subjects(), (QStringList{u"1:s1"_s, u"2:s2"_s}));
    QVERIFY(told.isEmpty()); // readers leave it alone

    // An append lands on the record boundary; the tail is kept aside, and said once.
    QCOMPARE(f.append(mail(u"s3"_s)), 3);
    QCOMPARE(QFileInfo(dataPath()).size(), 3 * MailRecordFile::RecordSize);
    QCOMPARE(subjects(), (QStringList{u"1:s1"_s, u"2:s2"_s, u"3:s3"_s}));
    QCOMPARE(keptFiles().size(), 1);
    QCOMPARE(readBytes(m_dir->filePath(keptFiles().first())), QByteArray("partial"));
    QCOMPARE(told.size(), 1);
    QVERIFY(told.first().contains(keptFiles().first()));
    QCOMPARE(f.append(mail(u"s4"_s)), 4);
    QCOMPARE(told.size(), 1);

    // A deletion keeps a second tail aside too, in a file of its own.
    addTail("second");
    QVERIFY(f.deleteRecord(1));
    QCOMPARE(subjects(), (QStringList{u"1:s2"_s, u"2:s3"_s, u"3:s4"_s}));
    QCOMPARE(keptFiles().size(), 2);
    QCOMPARE(told.size(), 2);
    storagenotice::setHandler({});
}

void TestMailRecordFile::appendPastLimitRefused()
{
    const qint64 fullSize = qint64(MailRecordFile::MaxRecords) * MailRecordFile::RecordSize;
    {
        QFile f(dataPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(fullSize - MailRecordFile::RecordSize)); // sparse
    }
    MailRecordFile f = file();
    QCOMPARE(f.append(mail(u"last"_s)), MailRecordFile::MaxRecords);
    Error err;
    QCOMPARE(f.append(mail(u"one too many"_s), &err), -1);
    QVERIFY(err.message.contains(u"32767"_s));
    QCOMPARE(QFileInfo(dataPath()).size(), fullSize);
    MailRecord r;
    QVERIFY(f.readHead(MailRecordFile::MaxRecords, &r));
    QCOMPARE(trimSpaces(r.subject), u"last"_s);
}

void TestMailRecordFile::headsOnly()
{
    fill(2);
    MailRecord r;
    QVERIFY(file().readHead(2, &r));
    QCOMPARE(trimSpaces(r.subject), u"s2"_s);
    QCOMPARE(trimSpaces(r.address), u"taro@example.jp"_s);
    QVERIFY(r.body.isEmpty());
}

QTEST_GUILESS_MAIN(TestMailRecordFile)
#include "tst_mailrecordfile.moc"
