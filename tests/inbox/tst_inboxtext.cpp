#include "inbox/logic/InboxText.h"
#include "storage/Cp932.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestInboxText : public QObject {
    Q_OBJECT
private slots:
    void quickSaveName_data();
    void quickSaveName();
    void quickSaveNameStaysShort();
    void quickSaveWritesFourCp932Lines();
    void quickSaveCreatesMissingFolderAndReplaces();
    void quickSaveReportsUnwritableFolder();
    void layoutAtWidth10000();
};

void TestInboxText::quickSaveName_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("plain") << u"abc"_s << u"abc.txt"_s;
    QTest::newRow("japanese") << u"会議の件　①"_s << u"会議の件　①.txt"_s;
    QTest::newRow("empty") << QString() << u"無題.txt"_s;
    QTest::newRow("spaces only") << u"   "_s << u"無題.txt"_s;
    QTest::newRow("dot dot") << u".."_s << u"無題.txt"_s;
    QTest::newRow("climbing out") << u"../../etc/passwd"_s << u"_.._etc_passwd.txt"_s;
    QTest::newRow("backslash path") << u"..\\x"_s << u"_x.txt"_s;
    QTest::newRow("forbidden") << u"a:b*c?d\"e<f>g|h"_s << u"a_b_c_d_e_f_g_h.txt"_s;
    QTest::newRow("control chars") << u"a\tb\nc"_s << u"a_b_c.txt"_s;
    QTest::newRow("outer spaces and dots") << u"  Re: hi. "_s << u"Re_ hi.txt"_s;
    QTest::newRow("ideographic space kept") << u"　件名"_s << u"　件名.txt"_s;
}

void TestInboxText::quickSaveName()
{
    QFETCH(QString, subject);
    QFETCH(QString, fileName);
    QCOMPARE(QuickSave::fileNameFor(subject), fileName);
}

void TestInboxText::quickSaveNameStaysShort()
{
    const QString name = QuickSave::fileNameFor(QString(300, u'あ'));
    QVERIFY(name.endsWith(u"あ.txt"_s));
    QVERIFY(name.toUtf8().size() <= 255);
}

void TestInboxText::quickSaveWritesFourCp932Lines()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Error err;
    QVERIFY(QuickSave::write(dir.path(), u"abc.txt"_s, u"abc"_s, u"太郎 <t@example.jp>"_s,
                             u"Mon, 7 Dec 2026"_s, u"一行目\n二行目～"_s /* as the window gives it */, &err));
    QFile file(dir.filePath(u"abc.txt"_s));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray expected = Cp932::encode(
        u"Subject:  abc\r\nFrom:  太郎 <t@example.jp>\r\nDate:  Mon, 7 Dec 2026\r\nBody:  一行目\r\n二行目～\r\n"_s);
    QCOMPARE(file.readAll(), expected);
    QCOMPARE(headerBlock(u"s"_s, u"f"_s, u"d"_s, u"b"_s), u"Subject:  s\r\nFrom:  f\r\nDate:  d\r\nBody:  b"_s);
}

void TestInboxText::quickSaveCreatesMissingFolderAndReplaces()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(u"■TextQuickSave"_s);
    QVERIFY(QuickSave::write(folder, u"x.txt"_s, u"x"_s, {}, {}, u"long body text"_s));
    QVERIFY(QuickSave::write(folder, u"x.txt"_s, u"x"_s, {}, {}, u"b"_s));
    QFile file(folder + u"/x.txt"_s);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("Subject:  x\r\nFrom:  \r\nDate:  \r\nBody:  b\r\n"));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{u"x.txt"_s});
}

void TestInboxText::quickSaveReportsUnwritableFolder()
{
    QTemporaryDir dir;
    const QString blocker = dir.filePath(u"■TextQuickSave"_s);
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly)); // a file where the folder should be
    file.close();
    Error err;
    QVERIFY(!QuickSave::write(blocker, u"x.txt"_s, u"x"_s, {}, {}, {}, &err));
    QVERIFY(err.isSet());
}

void TestInboxText::layoutAtWidth10000()
{
    const InboxLayout l = InboxLayout::compute(10000, 8000);
    QCOMPARE(l.list.width(), 9900);
    QCOMPARE(l.list.height(), 2000);
    QCOMPARE(l.subject.width(), 5000);
    QCOMPARE(l.from.width(), 3000);
    QCOMPARE(l.date.width(), 2000);
    QCOMPARE(l.from.left(), l.subject.left() + 5000);
    QCOMPARE(l.date.left(), l.from.left() + 3000);
    QCOMPARE(l.subject.top(), 2000 + 940);
    QCOMPARE(l.subject.left(), InboxLayout::BodyLeft - 15);
    QCOMPARE(l.body.top(), 2000 + 1300);
    QCOMPARE(l.body.height(), 6000 * 62 / 100);
    QCOMPARE(l.picture.width(), 10000);
}

QTEST_GUILESS_MAIN(TestInboxText)
#include "tst_inboxtext.moc"
