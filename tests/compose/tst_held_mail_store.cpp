#include "compose/logic/HeldMailStore.h"
#include "storage/Cp932.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestHeldMailStore : public QObject {
    Q_OBJECT
private slots:
    void init();
    void holdTrimsAndAppends();
    void loadGivesTheWholeBody();
    void listShowsStoredSubjects();
    void missingFileIsEmpty();
    void removeRenumbers();
    void extrasFollowTheirMail();
    void bodyTooLong_data();
    void bodyTooLong();
    void subjectMissing_data();
    void subjectMissing();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    DataRoot m_root;
};

void TestHeldMailStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_root = DataRoot(m_dir->path());
    QVERIFY(m_root.ensureTree());
}

void TestHeldMailStore::holdTrimsAndAppends()
{
    HeldMailStore store(m_root);
    QCOMPARE(store.hold({u"  taro@example.jp "_s, u" 件名　"_s, u"  本文\n二行目  "_s}), 1);
    QCOMPARE(store.hold({QString(), u"   "_s, u"x"_s}), 2);

    MailRecordFile file(m_root.heldMailFile(), m_root.heldMailTemp());
    MailRecord record;
    QVERIFY(file.read(1, &record));
    // Ordinary spaces go, the ideographic space stays; Date is blank.
    // Fields read back are padded to their width in characters.
    QCOMPARE(record.subject, u"件名　"_s + QString(100 - 3, u' '));
    QCOMPARE(record.address, u"taro@example.jp"_s + QString(90 - 15, u' '));
    QCOMPARE(record.body, u"本文\n二行目"_s + QString(32000 - 6, u' '));
    QCOMPARE(record.date.trimmed(), QString());

    // An empty recipient and a subject of blanks are stored all blank.
    QVERIFY(file.read(2, &record));
    QCOMPARE(record.address, QString(90, u' '));
    QCOMPARE(record.subject, QString(100, u' '));

    // A recipient list fills the field to its last byte, and is refused, not cut, past it.
    const QString list = u"山田<a@example.jp>, "_s.repeated(4) + u"b@abcde.jp"_s;
    QCOMPARE(Cp932::encode(list).size(), 90);
    QCOMPARE(store.hold({list, u"s"_s, u"b"_s}), 3);
    Error err;
    QCOMPARE(store.hold({list + u'x', u"s"_s, u"b"_s}, &err), -1);
    QVERIFY2(err.message.contains(u"91 バイト"_s), qPrintable(err.message));
    QCOMPARE(store.count(), 3);
}

void TestHeldMailStore::loadGivesTheWholeBody()
{
    HeldMailStore store(m_root);
    QString body;
    for (int i = 0; i < 500; ++i)
        body += u"%1行目の本文\n"_s.arg(i, 4, 10, QChar(u'0'));
    QVERIFY(body.size() > 3200);
    const int n = store.hold({u"a@example.jp"_s, u"長い下書き"_s, body});
    QVERIFY(n > 0);

    HeldMail mail;
    QVERIFY(store.load(n, &mail));
    QCOMPARE(mail.to, u"a@example.jp"_s);
    QCOMPARE(mail.subject, u"長い下書き"_s);
    QCOMPARE(mail.body, body);

    // Loading leaves the record in place.
    QCOMPARE(store.count(), 1);
}

void TestHeldMailStore::listShowsStoredSubjects()
{
    HeldMailStore store(m_root);
    store.hold({u"a"_s, u"一通目"_s, u"1"_s});
    store.hold({u"b"_s, u"   "_s, u"2"_s});
    // A NUL written by another program ends the row.
    MailRecordFile file(m_root.heldMailFile(), m_root.heldMailTemp());
    QVERIFY(file.append({u"三通目\u0000残り"_s, QString(), u"c"_s, u"3"_s}) == 3);

    QList<HeldListRow> rows;
    QVERIFY(store.list(&rows));
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0).recordNumber, 1);
    QCOMPARE(rows.at(0).subject.trimmed(), u"一通目"_s);
    QCOMPARE(rows.at(1).subject, QString(100, u' '));
    QCOMPARE(rows.at(2).recordNumber, 3);
    QCOMPARE(rows.at(2).subject, u"三通目"_s);
}

void TestHeldMailStore::missingFileIsEmpty()
{
    HeldMailStore store(m_root);
    QList<HeldListRow> rows{HeldListRow{9, u"x"_s}};
    QVERIFY(store.list(&rows));
    QVERIFY(rows.isEmpty());
    QCOMPARE(store.count(), 0);
    // The first hold is record 1 even when the file did not exist.
    QCOMPARE(store.hold({u"a"_s, u"s"_s, u"b"_s}), 1);
}

void TestHeldMailStore::removeRenumbers()
{
    HeldMailStore store(m_root);
    for (const QString &s : {u"一"_s, u"二"_s, u"三"_s})
        store.hold({u"to"_s, s, s + u"の本文"_s});
    QVERIFY(store.remove(2));
    QCOMPARE(store.count(), 2);
    HeldMail mail;
    QVERIFY(store.load(2, &mail));
    QCOMPARE(mail.subject, u"三"_s);
    QCOMPARE(mail.body, u"三の本文"_s);
    QVERIFY(!QFile::exists(m_root.heldMailTemp()));
}

// Attachments, copies, mode and thread stay with their own mail through a
// deletion; a damaged list of them never costs a held mail.
void TestHeldMailStore::extrasFollowTheirMail()
{
    HeldMailStore store(m_root);
    const HeldMail withFiles{u"to"_s, u"二"_s, u"本文"_s, u"/a.pdf,/b c.txt"_s, u"cc@example.jp"_s,
                             u"bcc@example.jp"_s, true, u"<id@x>"_s, u"<root@x> <id@x>"_s};
    QCOMPARE(store.hold({u"to"_s, u"一"_s, u"本文"_s}), 1);
    QCOMPARE(store.hold(withFiles), 2);
    QCOMPARE(store.hold({u"to"_s, u"二"_s, u"本文"_s}), 3); // the same text without files
    QVERIFY(store.remove(1));
    HeldMail mail;
    QVERIFY(store.load(1, &mail));
    QCOMPARE(mail, withFiles);
    QVERIFY(store.load(2, &mail));
    QCOMPARE(mail, (HeldMail{u"to"_s, u"二"_s, u"本文"_s}));

    const QString list = HeldMailExtras(m_root.heldMailFile()).path();
    QFile damaged(list);
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write("{\"to\": [");
    damaged.close();
    Error extrasErr;
    QVERIFY(store.load(1, &mail, nullptr, &extrasErr));
    QCOMPARE(mail, (HeldMail{u"to"_s, u"二"_s, u"本文"_s}));
    QVERIFY(extrasErr.isSet());
    // The next hold keeps the damaged list aside and starts a new one.
    extrasErr = Error();
    QCOMPARE(store.hold(withFiles, nullptr, &extrasErr), 3);
    QVERIFY2(extrasErr.text().contains(u"新しく作りました"_s), qPrintable(extrasErr.text()));
    QVERIFY(QFile::exists(list + u".damaged"_s));
    QVERIFY(store.load(3, &mail));
    QCOMPARE(mail, withFiles);
}

void TestHeldMailStore::bodyTooLong_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("tooLong");
    QTest::newRow("32000 single bytes") << QString(32000, u'a') << false;
    QTest::newRow("32001 single bytes") << QString(32001, u'a') << true;
    QTest::newRow("16000 double bytes") << QString(16000, u'あ') << false;
    QTest::newRow("16000 double bytes + 1") << QString(16000, u'あ') + u'a' << true;
    QTest::newRow("spaces around do not count") << u"   "_s + QString(32000, u'a') + u"   "_s << false;
    QTest::newRow("half-width kana is one byte") << QString(32000, u'ｱ') << false;
    QTest::newRow("empty") << QString() << false;
}

void TestHeldMailStore::bodyTooLong()
{
    QFETCH(QString, body);
    QFETCH(bool, tooLong);
    QCOMPARE(HeldMailStore::bodyTooLong(body), tooLong);
    // What the hold reports agrees with what the record file has to cut.
    MailRecordFit fit;
    MailRecordFile::encode({QString(), QString(), QString(), body.trimmed()}, 1, &fit);
    QCOMPARE(fit.body.cut, tooLong);
}

void TestHeldMailStore::subjectMissing_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<bool>("missing");
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("blanks") << u"   "_s << false;
    QTest::newRow("ideographic space") << u"　"_s << false;
    QTest::newRow("text") << u"件名"_s << false;
}

void TestHeldMailStore::subjectMissing()
{
    QFETCH(QString, subject);
    QFETCH(bool, missing);
    QCOMPARE(HeldMailStore::subjectMissing(subject), missing);
}

QTEST_GUILESS_MAIN(TestHeldMailStore)
#include "tst_held_mail_store.moc"
