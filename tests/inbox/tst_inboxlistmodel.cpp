#include "inbox/logic/InboxListModel.h"
#include "storage/MailRecordFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestInboxListModel : public QObject {
    Q_OBJECT
private slots:
    void init();
    void rowsFollowRecordOrder();
    void cellsAreCutAtNul();
    void missingFileIsCreatedEmpty();
    void partialTailIsIgnored();
    void reloadAfterDeletion();

private:
    QString dataPath() const { return m_dir->filePath(u"hlmdata2.data"_s); }
    QString tempPath() const { return m_dir->filePath(u"HLMDATA2.TMP"_s); }
    void append(const QString &subject, const QString &from, const QString &date)
    {
        MailRecordFile file(dataPath(), tempPath());
        QVERIFY(file.append({subject, date, from, u"body"_s}) > 0);
    }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestInboxListModel::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestInboxListModel::rowsFollowRecordOrder()
{
    append(u"一通目"_s, u"a@example.jp"_s, u"Mon, 1 Jan 2024"_s);
    append(u"二通目"_s, u"花子 <b@example.jp>"_s, u"Tue, 2 Jan 2024"_s);
    append(u"third"_s, u"c@example.jp"_s, u"Wed, 3 Jan 2024"_s);
    InboxListModel model;
    QVERIFY(model.load(dataPath(), tempPath()));
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.columnCount(), 3);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), u"Subject"_s);
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), u"From"_s);
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), u"Date"_s);
    // Rows show the fields cut at NUL, without the record's trailing padding.
    QCOMPARE(model.cell(1, InboxListModel::SubjectColumn).trimmed(), u"二通目"_s);
    QCOMPARE(model.cell(1, InboxListModel::FromColumn).trimmed(), u"花子 <b@example.jp>"_s);
    QCOMPARE(model.cell(2, InboxListModel::DateColumn).trimmed(), u"Wed, 3 Jan 2024"_s);
    QCOMPARE(model.cell(0, InboxListModel::SubjectColumn), u"一通目"_s);
    QCOMPARE(model.data(model.index(2, 0)).toString().trimmed(), u"third"_s);
}

void TestInboxListModel::cellsAreCutAtNul()
{
    append(u"before"_s + QChar(0) + u"after"_s, u"x"_s, u"y"_s);
    InboxListModel model;
    QVERIFY(model.load(dataPath(), tempPath()));
    QCOMPARE(model.cell(0, InboxListModel::SubjectColumn), u"before"_s);
}

void TestInboxListModel::missingFileIsCreatedEmpty()
{
    InboxListModel model;
    QVERIFY(model.load(dataPath(), tempPath()));
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(QFile::exists(dataPath()));
}

void TestInboxListModel::partialTailIsIgnored()
{
    append(u"one"_s, u"a"_s, u"b"_s);
    QFile file(dataPath());
    QVERIFY(file.open(QIODevice::Append));
    file.write(QByteArray(500, 'x'));
    file.close();
    InboxListModel model;
    QVERIFY(model.load(dataPath(), tempPath()));
    QCOMPARE(model.rowCount(), 1);
}

void TestInboxListModel::reloadAfterDeletion()
{
    append(u"1"_s, u"a"_s, u"b"_s);
    append(u"2"_s, u"a"_s, u"b"_s);
    append(u"3"_s, u"a"_s, u"b"_s);
    InboxListModel model;
    QVERIFY(model.load(dataPath(), tempPath()));
    QVERIFY(MailRecordFile(dataPath(), tempPath()).deleteRecord(2));
    QVERIFY(model.load(dataPath(), tempPath()));
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.cell(1, 0).trimmed(), u"3"_s);
}

QTEST_GUILESS_MAIN(TestInboxListModel)
#include "tst_inboxlistmodel.moc"
