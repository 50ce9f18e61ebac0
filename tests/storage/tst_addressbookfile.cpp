#include "storage/AddressBookFile.h"
#include "storage/TextUtil.h"

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

QByteArray handEntry(const QByteArray &name, const QByteArray &address, char flagLow = 1)
{
    return name + QByteArray(90 - name.size(), ' ') + "\r\n" + QByteArray(1, flagLow) + QByteArray(1, '\0')
        + address + QByteArray(90 - address.size(), ' ');
}

} // namespace

class TestAddressBookFile : public QObject {
    Q_OBJECT
private slots:
    void init();
    void layout_data();
    void layout();
    void readBack();
    void deleteEntry();
    void compactKeepsContent();
    void appendPastLimitRefused();
    void businessCardForm();

private:
    AddressBookFile file() const
    {
        return AddressBookFile(m_dir->filePath(u"hlmdata20.data"_s), m_dir->filePath(u"HLMDATA20.TMP"_s));
    }
    QStringList names() const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestAddressBookFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QStringList TestAddressBookFile::names() const
{
    QStringList out;
    file().readAll([&](int n, const AddressEntry &e) {
        out << QString::number(n) + u':' + trimSpaces(e.name);
        return true;
    });
    return out;
}

void TestAddressBookFile::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("both empty") << QString() << QString() << handEntry({}, {});
    QByteArray yamada;
    for (int i = 0; i < 45; ++i)
        yamada += "\x8E\x52"; // 山
    QTest::newRow("45 double-byte chars fill the name") << QString(45, u'山') << u"a@b.jp"_s
                                                         << handEntry(yamada, "a@b.jp");
    QTest::newRow("46 cut at 90") << QString(46, u'山') << QString() << handEntry(yamada, {});
    QTest::newRow("odd cut pads a space") << u"x"_s + QString(45, u'山') << QString()
                                          << handEntry("x" + yamada.left(88), {});
    QTest::newRow("name kept untrimmed") << u"  名 "_s << u"card<a@b.jp>"_s
                                         << handEntry("  \x96\xBC ", "card<a@b.jp>");
}

void TestAddressBookFile::layout()
{
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(QByteArray, expected);
    QCOMPARE(file().append({name, address}), 1);
    QCOMPARE(readBytes(file().path()), expected);
}

void TestAddressBookFile::readBack()
{
    AddressBookFile f = file();
    QCOMPARE(f.count(), 0);
    QCOMPARE(f.append({u"山田\0x"_s, u"yamada@example.jp"_s}), 1);
    AddressEntry e;
    QVERIFY(f.read(1, &e));
    QCOMPARE(e.name.size(), 90);
    QCOMPARE(e.address.size(), 90);
    QCOMPARE(cutAtNul(e.name), u"山田"_s);
    QCOMPARE(trimSpaces(e.address), u"yamada@example.jp"_s);
    QVERIFY(f.write(1, {u"佐藤"_s, u"sato@example.jp"_s}));
    QCOMPARE(names(), QStringList{u"1:佐藤"_s});
}

void TestAddressBookFile::deleteEntry()
{
    AddressBookFile f = file();
    for (const QString &n : {u"a"_s, u"b"_s, u"c"_s})
        f.append({n, n + u"@x.jp"_s});
    QVERIFY(f.deleteEntry(2));
    QCOMPARE(QFileInfo(f.path()).size(), 368);
    QCOMPARE(names(), (QStringList{u"1:a"_s, u"2:c"_s}));
    Error err;
    QVERIFY(!f.deleteEntry(3, &err));
    QVERIFY(err.isSet());
    QCOMPARE(f.count(), 2);
}

void TestAddressBookFile::compactKeepsContent()
{
    AddressBookFile f = file();
    f.append({u"a"_s, u"a@x.jp"_s});
    f.append({u"b"_s, u"b@x.jp"_s});
    const QByteArray before = readBytes(f.path());
    QVERIFY(f.compact());
    QCOMPARE(readBytes(f.path()), before);
    QVERIFY(!QFile::exists(m_dir->filePath(u"HLMDATA20.TMP"_s)));
}

void TestAddressBookFile::appendPastLimitRefused()
{
    AddressBookFile f = file();
    {
        QFile raw(f.path());
        QVERIFY(raw.open(QIODevice::WriteOnly));
        QVERIFY(raw.resize(qint64(AddressBookFile::MaxEntries - 1) * AddressBookFile::RecordSize));
    }
    QCOMPARE(f.append({u"last"_s, u"l@x.jp"_s}), AddressBookFile::MaxEntries);
    const QByteArray before = readBytes(f.path());
    Error err;
    QCOMPARE(f.append({u"more"_s, u"m@x.jp"_s}, &err), -1);
    QVERIFY(err.message.contains(u"32766"_s));
    QCOMPARE(readBytes(f.path()), before);
}

void TestAddressBookFile::businessCardForm()
{
    QCOMPARE(AddressBookFile::businessCardForm(u" 名刺 "_s, u"  a@b.jp  "_s), u" 名刺 <a@b.jp>"_s);
}

QTEST_GUILESS_MAIN(TestAddressBookFile)
#include "tst_addressbookfile.moc"
