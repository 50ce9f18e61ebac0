#include "inbox/logic/ReceivedRecord.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestReceivedRecord : public QObject {
    Q_OBJECT

private slots:
    void keepsWhatTheSenderWrote_data();
    void keepsWhatTheSenderWrote();
};

void TestReceivedRecord::keepsWhatTheSenderWrote_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("storedSubject");
    QTest::addColumn<QString>("storedFrom");
    QTest::addColumn<QString>("storedBody"); // before the line naming the full-text file
    QTest::addColumn<bool>("fullText");

    const QString date = u"Mon, 7 Dec 2026"_s;
    QTest::newRow("all storable") << u"会議①"_s << date << u"a@example.jp"_s << u"本文"_s << u"会議①"_s
                                  << u"a@example.jp"_s << u"本文"_s << false;
    QTest::newRow("subject and sender lose characters")
        << u"𠮷野家で打ち上げ🍺"_s << date << u"森鷗外 <ogai@example.jp>"_s << u"金曜日です。"_s << u"〓野家で打ち上げ〓"_s
        << u"森〓外 <ogai@example.jp>"_s << u"金曜日です。"_s << true;
    QTest::newRow("date loses a character") << u"s"_s << date + u" ☀"_s << u"a@example.jp"_s << u"b"_s << u"s"_s << u"a@example.jp"_s
                                            << u"b"_s << true;
    QTest::newRow("NUL inside the body") << u"s"_s << date << u"a@example.jp"_s << u"前半\0後半"_s << u"s"_s
                                         << u"a@example.jp"_s << u"前半〓後半"_s << false;
}

void TestReceivedRecord::keepsWhatTheSenderWrote()
{
    QFETCH(QString, subject);
    QFETCH(QString, date);
    QFETCH(QString, from);
    QFETCH(QString, body);
    QFETCH(bool, fullText);
    QTemporaryDir folder;
    MailRecord record;
    Error err;
    QVERIFY(ReceivedRecord::build({subject, date, from, body, 0, {}}, folder.path(), &record, &err));
    QTEST(record.subject, "storedSubject");
    QTEST(record.address, "storedFrom");
    const QStringList saved = QDir(folder.path()).entryList(QDir::Files);
    QCOMPARE(saved.size(), fullText ? 1 : 0);
    if (!fullText) {
        QTEST(record.body, "storedBody");
        return;
    }
    QFETCH(QString, storedBody);
    QCOMPARE(record.body, storedBody + u"\r\n"_s + ReceivedRecord::fullTextLine(saved.first()));
    QFile file(QDir(folder.path()).filePath(saved.first()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()),
             u"Subject: "_s + subject + u"\r\nFrom: "_s + from + u"\r\nDate: "_s + date + u"\r\n\r\n"_s + body);
}

QTEST_APPLESS_MAIN(TestReceivedRecord)
#include "tst_receivedrecord.moc"
