#include "compose/logic/Greetings.h"
#include "compose/logic/SendJob.h"
#include "storage/AddressBookFile.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestSendJob : public QObject {
    Q_OBJECT
private slots:
    void statusText_data();
    void statusText();
    void errorTextPutsJapaneseFirst();
    void undeliveredAreFailedAndUnsentPasses();
    void addressBookRecipients();
    void missingAddressBookHasNoRecipients();
    void singleRecipientIsPassedAsTyped();
    void nothingToSendTouchesNoServer();
    void cancelBeforeTheFirstPass();
    void connectionFailureStopsTheBatch();
    void senderOf_data();
    void senderOf();
    void fortunes();
    void codeWord();
};

static SendResult makeResult(int passes, int attempted, int failed, bool cancelled)
{
    SendResult r;
    r.passes = passes;
    r.attempted = attempted;
    r.cancelled = cancelled;
    for (int i = 0; i < failed; ++i)
        r.failures.append(SendFailure{i + 1, u"x@example.jp"_s, u"失敗"_s});
    return r;
}

void TestSendJob::senderOf_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("from");
    QTest::newRow("no name: the bare address") << u"me@example.jp"_s << u" "_s << u"me@example.jp"_s;
    QTest::newRow("name") << u" me@example.jp "_s << u"山田 太郎"_s << u"山田 太郎 <me@example.jp>"_s;
    // An address stored with a name of its own gets the set name instead.
    QTest::newRow("stored with a name") << u"旧名<me@example.jp>"_s << u"山田"_s << u"山田 <me@example.jp>"_s;
    // Left for the composer to refuse, naming what was stored.
    QTest::newRow("no address") << QString() << u"山田"_s << QString();
}

void TestSendJob::senderOf()
{
    QFETCH(QString, address);
    QFETCH(QString, name);
    QTEST(SendRequest::senderOf(address, name), "from");
}

void TestSendJob::statusText_data()
{
    QTest::addColumn<SendResult>("result");
    QTest::addColumn<bool>("succeeded");
    QTest::addColumn<QString>("text");
    QTest::newRow("one pass ok") << makeResult(1, 1, 0, false) << true << u"送信完了です。"_s;
    QTest::newRow("three passes ok") << makeResult(3, 3, 0, false) << true << u"送信完了です。"_s;
    QTest::newRow("one pass failed") << makeResult(1, 1, 1, false) << false
                                     << u"1 件中 1 件の送信に失敗しました。"_s;
    QTest::newRow("one of three failed") << makeResult(3, 3, 1, false) << false
                                         << u"3 件中 1 件の送信に失敗しました。"_s;
    QTest::newRow("no passes") << makeResult(0, 0, 0, false) << false
                               << u"送信先がありません。送信しませんでした。"_s;
    QTest::newRow("cancelled") << makeResult(5, 2, 0, true) << false
                               << u"送信を中止しました。5 件中 2 件を送信しました。"_s;
    QTest::newRow("cancelled after a failure") << makeResult(5, 2, 1, true) << false
        << u"送信を中止しました。5 件中 2 件を送信し、うち 1 件が失敗しました。"_s;
}

void TestSendJob::statusText()
{
    QFETCH(SendResult, result);
    QFETCH(bool, succeeded);
    QFETCH(QString, text);
    QCOMPARE(result.succeeded(), succeeded);
    QCOMPARE(result.statusText(), text);
}

void TestSendJob::errorTextPutsJapaneseFirst()
{
    SendResult one = makeResult(1, 1, 0, false);
    one.failures.append(SendFailure{1, QString(), u"libcurl 55: RCPT failed"_s});
    QCOMPARE(one.errorText(), u"メールを送信できませんでした。\n\n詳細：libcurl 55: RCPT failed"_s);

    SendResult two = makeResult(3, 3, 0, false);
    two.failures.append(SendFailure{1, u"a@example.jp"_s, u"550 a"_s});
    two.failures.append(SendFailure{3, u"c@example.jp"_s, u"550 c"_s});
    const QString text = two.errorText();
    QVERIFY(text.startsWith(u"2 件のメールを送信できませんでした。"_s));
    QVERIFY(text.contains(u"a@example.jp"_s) && text.contains(u"550 a"_s));
    QVERIFY(text.contains(u"c@example.jp"_s) && text.contains(u"550 c"_s));
    QVERIFY(text.indexOf(u"550 a"_s) < text.indexOf(u"550 c"_s));
}

void TestSendJob::undeliveredAreFailedAndUnsentPasses()
{
    QList<SendRecipient> sent;
    for (const QString &a : {u"a@x.jp"_s, u"b@x.jp"_s, u"c@x.jp"_s, u"d@x.jp"_s})
        sent.append(SendRecipient{a + u"   "_s, a});
    SendResult result = makeResult(4, 3, 0, true); // cancelled before the fourth pass
    result.failures.append(SendFailure{2, u"b@x.jp"_s, u"550"_s});
    QStringList left;
    for (const SendRecipient &r : result.undelivered(sent))
        left.append(r.address);
    QCOMPARE(left, (QStringList{u"b@x.jp"_s, u"d@x.jp"_s}));
}

void TestSendJob::addressBookRecipients()
{
    QTemporaryDir dir;
    DataRoot root(dir.path());
    QVERIFY(root.ensureTree());
    AddressBookFile book(root.addressBookFile(), root.addressBookTemp());
    QVERIFY(book.append({u"一郎"_s, u"ichiro@example.jp"_s}) == 1);
    QVERIFY(book.append({u"二郎"_s, u"  jiro@example.jp"_s}) == 2);
    QVERIFY(book.append({u"花子"_s, AddressBookFile::businessCardForm(u"山田花子"_s, u"hanako@example.jp"_s)}) == 3);

    QList<SendRecipient> recipients;
    QVERIFY(SendRequest::addressBook(root, &recipients));
    QCOMPARE(recipients.size(), 3);
    // The box shows the address as stored; the library gets it without trailing blanks.
    QCOMPARE(recipients.at(0).shown, u"ichiro@example.jp"_s + QString(90 - 17, u' '));
    QCOMPARE(recipients.at(0).address, u"ichiro@example.jp"_s);
    QCOMPARE(recipients.at(1).address, u"  jiro@example.jp"_s);
    QCOMPARE(recipients.at(2).address, u"山田花子<hanako@example.jp>"_s);
}

void TestSendJob::missingAddressBookHasNoRecipients()
{
    QTemporaryDir dir;
    DataRoot root(dir.path());
    QVERIFY(root.ensureTree());
    QList<SendRecipient> recipients{SendRecipient{u"x"_s, u"x"_s}};
    QVERIFY(SendRequest::addressBook(root, &recipients));
    QVERIFY(recipients.isEmpty());
}

void TestSendJob::singleRecipientIsPassedAsTyped()
{
    const QList<SendRecipient> r = SendRequest::single(u" 名前<a@example.jp> "_s);
    QCOMPARE(r.size(), 1);
    QCOMPARE(r.first().address, u" 名前<a@example.jp> "_s);
}

void TestSendJob::nothingToSendTouchesNoServer()
{
    SendRequest request;
    request.smtpServer = u"127.0.0.1:1"_s;
    int started = 0;
    const SendResult result = SendJob::run(request, [&](int, int, const SendRecipient &) { ++started; });
    QCOMPARE(started, 0);
    QCOMPARE(result.passes, 0);
    QVERIFY(!result.succeeded());
    QCOMPARE(result.smtpServer, u"127.0.0.1:1"_s);
}

void TestSendJob::cancelBeforeTheFirstPass()
{
    SendRequest request;
    request.smtpServer = u"127.0.0.1:1"_s;
    request.recipients = SendRequest::single(u"a@example.jp"_s) + SendRequest::single(u"b@example.jp"_s);
    const std::atomic_bool cancelled{true};
    const SendResult result = SendJob::run(request, {}, &cancelled);
    QVERIFY(result.cancelled);
    QCOMPARE(result.attempted, 0);
    QCOMPARE(result.passes, 2);
    QVERIFY(result.failures.isEmpty());
    QVERIFY(!result.succeeded());
}

// Every further pass would wait for the same dead server: the batch stops, and
// says who has the mail. A failure of the mail itself lets the others go on.
void TestSendJob::connectionFailureStopsTheBatch()
{
    SendRequest request;
    request.smtpServer = u"127.0.0.1:1"_s; // nothing listens there
    request.from = u"me@example.jp"_s;
    for (const QString &a : {u"a@example.jp"_s, u"b@example.jp"_s, u"c@example.jp"_s})
        request.recipients += SendRequest::single(a);
    SendResult result = SendJob::run(request);
    QVERIFY(result.stoppedAtConnection);
    QCOMPARE(result.attempted, 1);
    QCOMPARE(result.undelivered(request.recipients).size(), 3);
    QVERIFY(result.delivered(request.recipients).isEmpty());
    QVERIFY2(result.statusText().contains(u"接続に失敗"_s), qPrintable(result.statusText()));

    request.from.clear();
    result = SendJob::run(request);
    QVERIFY(!result.stoppedAtConnection);
    QCOMPARE(result.attempted, 3);
}

void TestSendJob::fortunes()
{
    const QStringList all = Greetings::fortunes();
    QVERIFY(all.size() >= 12);
    for (const QString &f : all)
        QVERIFY2(f.startsWith(u"今日の運勢："_s), qPrintable(f));
    QVERIFY(all.contains(Greetings::randomFortune()));
    QCOMPARE(Greetings::withFortune(u"本文"_s, u"今日の運勢：大吉"_s), u"本文\n\n今日の運勢：大吉"_s);
}

void TestSendJob::codeWord()
{
    QVERIFY(QRegularExpression(u"^[a-z]{4}$"_s).match(Greetings::codeWord()).hasMatch());
    QVERIFY(Greetings::isCodeWord(Greetings::codeWord()));
    QVERIFY(!Greetings::isCodeWord(Greetings::codeWord().toUpper()));
    QVERIFY(!Greetings::isCodeWord(Greetings::codeWord() + u' '));
}

QTEST_GUILESS_MAIN(TestSendJob)
#include "tst_send_job.moc"
