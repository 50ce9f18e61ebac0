#include "storage/MailSearch.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestMailSearch : public QObject {
    Q_OBJECT
private slots:
    void matches_data();
    void matches();
    void runReportsLiveHitsInOrder();
};

void TestMailSearch::matches_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("word");
    QTest::addColumn<bool>("found");

    const QString date = u"Mon, 7 Dec 2026 10:00:00 +0900"_s;
    const QString from = u"山田 <taro@example.jp>"_s;
    QTest::newRow("kanji in subject") << u"【お知らせ】見積書の件"_s << date << from << u"本文"_s << u"見積書"_s << true;
    QTest::newRow("date, any case") << u"件名"_s << date << from << u"本文"_s << u"dEC"_s << true;
    QTest::newRow("full-width word, sender") << u"件名"_s << date << from << u"本文"_s << u"ＴａＲＯ"_s << true;
    QTest::newRow("full-width text, body") << u"件名"_s << date << from << u"ＨＯＬＬＩＮ版"_s << u"hollin"_s << true;
    QTest::newRow("half-width word") << u"件名"_s << date << from << u"新しいメールです"_s << u"ﾒｰﾙ"_s << true;
    QTest::newRow("half-width text") << u"件名"_s << date << from << u"ｶﾒﾗを買った"_s << u"カメラ"_s << true;
    QTest::newRow("sound marks") << u"件名"_s << date << from << u"ｶﾞｲﾄﾞ本"_s << u"ガイド"_s << true;
    QTest::newRow("ｶﾞ is not カ") << u"ｶﾞ"_s << date << from << u"本文"_s << u"カ"_s << false;
    QTest::newRow("ideographic space") << u"会議　資料"_s << date << from << u"本文"_s << u"会議 資料"_s << true;
    // ア is 83 41: its second byte is "A".
    QTest::newRow("trail byte") << u"ア"_s << QString() << QString() << u"本文"_s << u"a"_s << false;
    QTest::newRow("after a double-byte character") << u"アa"_s << QString() << QString() << u"本文"_s << u"A"_s << true;
    QTest::newRow("across subject and date") << QString(98, u'x') + u"見"_s << u"積書"_s << from << u"本文"_s
                                             << u"見積書"_s << false;
    QTest::newRow("across sender and body") << u"件名"_s << date << QString(89, u'x') + u"A"_s << u"B"_s << u"AB"_s
                                            << false;
    QTest::newRow("last bytes of the body") << u"件名"_s << date << from << QString(31996, u'x') + u"見積"_s
                                            << u"見積"_s << true;
    QTest::newRow("two words, both in one field") << u"件名"_s << date << from << u"議事録の件について"_s
                                                  << u"議事録　について"_s << true;
    QTest::newRow("two words, in two fields") << u"議事録"_s << date << from << u"ご意見について"_s
                                              << u"について 議事録"_s << true;
    QTest::newRow("two words, one absent") << u"議事録"_s << date << from << u"本文"_s << u"議事録　について"_s
                                           << false;
    QTest::newRow("absent") << u"件名"_s << date << from << u"本文"_s << u"雪だるま"_s << false;
    QTest::newRow("blank word") << u"件名"_s << date << from << u"本文"_s << u"  "_s << false;
    QTest::newRow("ideographic blank word") << u"件名"_s << date << from << u"本文"_s << u"　 　"_s << false;
    QTest::newRow("no CP932 form") << u"件名"_s << date << from << u"本文 ?"_s << u"😀"_s << false;
}

void TestMailSearch::matches()
{
    QFETCH(QString, subject);
    QFETCH(QString, date);
    QFETCH(QString, address);
    QFETCH(QString, body);
    QFETCH(QString, word);
    QFETCH(bool, found);
    const QByteArray record = MailRecordFile::encode({subject, date, address, body});
    QCOMPARE(MailSearch(word).matches(record.constData()), found);
}

void TestMailSearch::runReportsLiveHitsInOrder()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"hlmdata2.data"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const QString subjects[] = {u"見積書 1"_s, u"別件"_s, u"見積書 3"_s, u"見積書 4"_s};
    for (int n = 1; n <= 4; ++n)
        file.write(MailRecordFile::encode({subjects[n - 1], {}, {}, {}}, n == 3 ? 0 : 1)); // 3 is marked
    file.close();

    QList<int> hits;
    QStringList heads;
    Error err;
    QVERIFY(MailSearch(u"見積書"_s).run(path, [&](int n, const MailRecord &head) {
        hits << n;
        heads << head.subject.trimmed();
    }, nullptr, &err));
    QCOMPARE(hits, QList<int>({1, 4}));
    QCOMPARE(heads, QStringList({u"見積書 1"_s, u"見積書 4"_s}));

    const std::atomic<bool> cancelled{true};
    hits.clear();
    QVERIFY(MailSearch(u"見積書"_s).run(path, [&](int n, const MailRecord &) { hits << n; }, &cancelled, &err));
    QVERIFY(hits.isEmpty());
}

QTEST_GUILESS_MAIN(TestMailSearch)
#include "tst_mailsearch.moc"
