#include "storage/DataRoot.h"
#include "storage/PrivateTree.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestDataRoot : public QObject {
    Q_OBJECT
private slots:
    void ensureTreeCreatesCanonicalNames();
    void resolve_data();
    void resolve();
    void locate();
    void tightenMakesTheTreePrivate();
};

void TestDataRoot::ensureTreeCreatesCanonicalNames()
{
    QTemporaryDir dir;
    DataRoot root(dir.path() + u"/nested/root"_s);
    Error err;
    QVERIFY2(root.ensureTree(&err), qPrintable(err.text()));
    QStringList entries = QDir(root.root()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    entries.sort();
    QStringList expected{u"★MailData"_s, u"画像データ"_s, u"添付フォルダ"_s, u"顔文字データ"_s, u"■TextQuickSave"_s};
    expected.sort();
    QCOMPARE(entries, expected);
    QCOMPARE(root.receivedMailFile(), root.root() + u"/★MailData/hlmdata2.data"_s);
    QCOMPARE(root.heldMailTemp(), root.root() + u"/★MailData/HLMDATA10.TMP"_s);
    QCOMPARE(root.serverSettingsFile(), root.root() + u"/hlmail.ini"_s);
    QVERIFY(root.ensureTree()); // a second time changes nothing
}

void TestDataRoot::resolve_data()
{
    QTest::addColumn<QStringList>("existing"); // created first ("/" at the end: a folder)
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("expected");
    QTest::newRow("nothing yet: canonical") << QStringList{} << u"★MAilData\\Hlmdata10.data"_s
                                            << u"★MailData/hlmdata10.data"_s;
    QTest::newRow("other spelling exists") << QStringList{u"★MAILDATA/"_s, u"★MAILDATA/HLMDATA2.DATA"_s}
                                           << u"★Maildata/hlmdata2.data"_s << u"★MAILDATA/HLMDATA2.DATA"_s;
    QTest::newRow("canonical preferred") << QStringList{u"★MailData/"_s, u"★MAILDATA/"_s}
                                         << u"★maildata"_s << u"★MailData"_s;
    QTest::newRow("unknown name as given") << QStringList{u"★MailData/"_s} << u"★MailData/Extra.txt"_s
                                           << u"★MailData/Extra.txt"_s;
    QTest::newRow("unknown name, other case") << QStringList{u"★MailData/"_s, u"★MailData/EXTRA.TXT"_s}
                                              << u"★MailData/Extra.txt"_s << u"★MailData/EXTRA.TXT"_s;
}

void TestDataRoot::resolve()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, relative);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    for (const QString &entry : existing) {
        if (entry.endsWith(u'/'))
            QVERIFY(QDir(dir.path()).mkpath(entry));
        else
            QVERIFY(QFile(dir.filePath(entry)).open(QIODevice::WriteOnly));
    }
    QCOMPARE(DataRoot(dir.path()).resolve(relative), dir.path() + u'/' + expected);
}

void TestDataRoot::locate()
{
    QTemporaryDir exe;
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    qunsetenv("HOLLIN_ROOT");
    QCOMPARE(DataRoot::locate({}, exe.path()).root(), home.path() + u"/hollin"_s);
    QVERIFY(QDir(exe.path()).mkdir(u"★MAILDATA"_s));
    QCOMPARE(DataRoot::locate({}, exe.path()).root(), exe.path());
    qputenv("HOLLIN_ROOT", "/tmp/from-env");
    QCOMPARE(DataRoot::locate({}, exe.path()).root(), u"/tmp/from-env"_s);
    QCOMPARE(DataRoot::locate({u"prog"_s, u"--root"_s, u"/tmp/a"_s}, exe.path()).root(), u"/tmp/a"_s);
    QCOMPARE(DataRoot::locate({u"--root=/tmp/b/"_s}, exe.path()).root(), u"/tmp/b"_s);
    qunsetenv("HOLLIN_ROOT");
}


// Files and folders others could read become the owner's; a link and what it
// points to outside the tree are left alone.
void TestDataRoot::tightenMakesTheTreePrivate()
{
    QTemporaryDir dir;
    DataRoot root(dir.filePath(u"root"_s));
    QVERIFY(root.ensureTree());
    const QString record = root.receivedMailFile();
    const QString sub = root.attachmentFolder() + u"/sub"_s;
    const QString outside = dir.filePath(u"outside.txt"_s);
    for (const QString &path : {record, sub + u"/a.bin"_s, outside}) {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    }
    QVERIFY(QFile::setPermissions(sub, QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::ExeOther));
    QVERIFY(QFile::link(outside, root.dataFolder() + u"/link"_s));
    const QStringList changed = privatetree::tighten(root);
    QCOMPARE(changed.size(), 3);
    QCOMPARE(int(QFile::permissions(record)) & 0x7077, 0x6000); // rw for the owner, nothing for others
    QCOMPARE(QFile::permissions(sub) & (QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup), QFile::Permissions());
    QVERIFY(QFile::permissions(outside) & QFile::ReadOther);
    QCOMPARE(privatetree::tighten(root), QStringList());
}

QTEST_GUILESS_MAIN(TestDataRoot)
#include "tst_dataroot.moc"
