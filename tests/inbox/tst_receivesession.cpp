#include "inbox/logic/ReceiveSession.h"
#include "inbox/logic/ReceivedRecord.h"
#include "storage/Cp932.h"
#include "storage/DataRoot.h"
#include "storage/MailRecordFile.h"
#include "storage/ProfileFile.h"
#include "storage/TextUtil.h"

#include "TestMailServers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

QByteArray plainMail(const QByteArray &subject, const QByteArray &body = "hello\r\n")
{
    return "From: Sender <sender@example.jp>\r\nTo: alice@example.jp\r\nSubject: " + subject
           + "\r\nDate: Mon, 7 Dec 2026 09:00:00 +0900\r\nMessage-ID: <" + subject.toHex() + "@example.jp>\r\n"
             "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
           + body;
}

QByteArray mailWithAttachment()
{
    return "From: sender@example.jp\r\nTo: alice@example.jp\r\nSubject: with file\r\n"
           "Date: Mon, 7 Dec 2026 09:00:00 +0900\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n"
           "--XX\r\nContent-Type: text/plain; charset=US-ASCII\r\n\r\nSee the file.\r\n"
           "--XX\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
           "Content-Disposition: attachment; filename=\"data.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
           "AAECAwQF\r\n--XX--\r\n";
}

QByteArray partialMail()
{
    return "From: sender@example.jp\r\nTo: alice@example.jp\r\nSubject: split\r\n"
           "Date: Mon, 7 Dec 2026 09:00:00 +0900\r\nMIME-Version: 1.0\r\n"
           "Content-Type: message/partial; id=\"part-set-1@example.jp\"; number=1; total=2\r\n\r\n"
           "Subject: split\r\nContent-Type: text/plain\r\n\r\nfirst half\r\n";
}

} // namespace

class TestReceiveSession : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void emptyMailbox_data();
    void emptyMailbox();
    void threeMessagesInServerOrder();
    void attachmentLineOnlyForWrittenFiles();
    void incompleteSplitMessageIsStored();
    void missingPasswordFetchesNothing();
    void wrongPasswordGivesServerText();
    void noServerAndNoConnection();
    void leadingSpacesAreTrimmed();
    void bodyTooLongIsStoredCutAndSavedWhole_data();
    void bodyTooLongIsStoredCutAndSavedWhole();
    void fullRecordFileStopsBeforeFetching();
    void serverKilledLosesNothing();
    void cancelDeletesOnlyStoredMessages();

private:
    ReceiveSettings settings(qint16 apop = 0) const;
    void setAccount(const QString &id, const QString &password);
    QList<MailRecord> records() const;
    QString recordFile() const { return m_root.receivedMailFile(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestMailServers> m_servers;
    DataRoot m_root;
};

void TestReceiveSession::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_root = DataRoot(m_dir->path());
    QVERIFY(m_root.ensureTree());
    m_servers = std::make_unique<TestMailServers>();
    TestMailServers::Options options;
    options.smtp = false;
    QString error;
    QVERIFY2(m_servers->start(options, &error), qPrintable(error));
    setAccount(m_servers->user(), m_servers->password());
}

void TestReceiveSession::cleanup()
{
    m_servers.reset();
    m_dir.reset();
}

ReceiveSettings TestReceiveSession::settings(qint16 apop) const
{
    ReceiveSettings s;
    s.pop3Server = m_servers->pop3Server();
    s.apopFlag = apop;
    s.idPassIniFile = m_root.idPassIniFile();
    s.receivedMailFile = m_root.receivedMailFile();
    s.receivedMailTemp = m_root.receivedMailTemp();
    s.uidlListFile = m_root.uidlListFile();
    s.attachmentFolder = m_root.attachmentFolder();
    return s;
}

void TestReceiveSession::setAccount(const QString &id, const QString &password)
{
    ProfileFile file(m_root.idPassIniFile(), true);
    QVERIFY(file.writeText(u"NAME"_s, id));
    QVERIFY(file.writeText(u"NAME2"_s, password));
}

QList<MailRecord> TestReceiveSession::records() const
{
    QList<MailRecord> out;
    MailRecordFile(m_root.receivedMailFile(), m_root.receivedMailTemp())
        .readAll([&](int, const MailRecord &r) {
            out.append({trimSpaces(r.subject), trimSpaces(r.date), trimSpaces(r.address), trimSpaces(r.body)});
            return true;
        });
    return out;
}

void TestReceiveSession::emptyMailbox_data()
{
    QTest::addColumn<int>("apop");
    QTest::newRow("USER/PASS") << 0;
    QTest::newRow("APOP") << 1;
}

void TestReceiveSession::emptyMailbox()
{
    QFETCH(int, apop);
    ReceiveSession session(settings(qint16(apop)));
    int progressCalls = 0;
    connect(&session, &ReceiveSession::progress, this, [&] { ++progressCalls; });
    const ReceiveResult r = session.run();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::Completed);
    QCOMPARE(r.count, 0);
    QCOMPARE(r.stored, 0);
    QCOMPARE(progressCalls, 0);
    QCOMPARE(records().size(), 0);
}

void TestReceiveSession::threeMessagesInServerOrder()
{
    for (const QByteArray subject : {"m1", "m2", "m3"})
        QVERIFY(m_servers->deliver(plainMail(subject, "body of " + subject + "\r\n")));
    ReceiveSession session(settings());
    QList<int> progress;
    QStringList shown;
    connect(&session, &ReceiveSession::progress, this, [&](int n, int count) {
        QCOMPARE(count, 3);
        progress.append(n);
    });
    connect(&session, &ReceiveSession::messageReceived, this,
            [&](const QString &subject, const QString &from, const QString &, const QString &body) {
                shown << subject;
                QCOMPARE(from, u"Sender <sender@example.jp>"_s);
                QCOMPARE(body, u"body of "_s + subject + u"\r\n"_s); // only spaces are trimmed
            });
    QStringList account;
    connect(&session, &ReceiveSession::accountRead, this,
            [&](const QString &id, const QString &password) { account << id << password; });
    const ReceiveResult r = session.run();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::Completed);
    QCOMPARE(r.count, 3);
    QCOMPARE(r.stored, 3);
    QCOMPARE(progress, (QList<int>{1, 2, 3}));
    QCOMPARE(shown, (QStringList{u"m1"_s, u"m2"_s, u"m3"_s}));
    QCOMPARE(account, (QStringList{m_servers->user(), m_servers->password()}));
    const QList<MailRecord> stored = records();
    QCOMPARE(stored.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(stored[i].subject, u"m%1"_s.arg(i + 1));
        QCOMPARE(stored[i].address, u"Sender <sender@example.jp>"_s);
        QVERIFY(!stored[i].date.isEmpty());
    }
    QCOMPARE(m_servers->mailboxMessages().size(), 0);
    QVERIFY(!QFile::exists(m_root.attachmentFolder() + u"/0.txt"_s));
}

void TestReceiveSession::attachmentLineOnlyForWrittenFiles()
{
    QVERIFY(m_servers->deliver(mailWithAttachment()));
    QVERIFY(m_servers->deliver(plainMail("word only", "see the attachment, it is not there\r\n")));
    ReceiveSession session(settings());
    QCOMPARE(session.run().stored, 2);
    const QList<MailRecord> stored = records();
    QCOMPARE(stored.size(), 2);
    QVERIFY2(stored[0].body.endsWith(u"\r\n"_s + ReceivedRecord::attachmentLine()), qPrintable(stored[0].body));
    QVERIFY(stored[0].body.startsWith(u"See the file."_s));
    QVERIFY(!stored[1].body.contains(ReceivedRecord::attachmentLine()));
    QFile file(m_root.attachmentFolder() + u"/data.bin"_s);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("\x00\x01\x02\x03\x04\x05", 6));
}

void TestReceiveSession::incompleteSplitMessageIsStored()
{
    QVERIFY(m_servers->deliver(partialMail()));
    ReceiveSession session(settings());
    QStringList notices;
    connect(&session, &ReceiveSession::notice, this, [&](const QString &text) { notices << text; });
    const ReceiveResult r = session.run();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::Completed);
    QCOMPARE(notices, QStringList{u"分割されたメールが全て揃っていません"_s});
    QCOMPARE(records().size(), 1);
    QCOMPARE(records().at(0).subject, u"split"_s);
    QCOMPARE(m_servers->mailboxMessages().size(), 0);
}

void TestReceiveSession::missingPasswordFetchesNothing()
{
    setAccount(m_servers->user(), QString());
    QVERIFY(m_servers->deliver(plainMail("waiting")));
    ReceiveSession session(settings());
    QStringList account;
    connect(&session, &ReceiveSession::accountRead, this,
            [&](const QString &id, const QString &password) { account << id << password; });
    const ReceiveResult r = session.run();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::NeedAccount);
    QCOMPARE(account, (QStringList{m_servers->user(), QString()}));
    QCOMPARE(records().size(), 0);
    QCOMPARE(m_servers->mailboxMessages().size(), 1);
}

void TestReceiveSession::wrongPasswordGivesServerText()
{
    setAccount(m_servers->user(), u"wrong"_s);
    QVERIFY(m_servers->deliver(plainMail("waiting")));
    ReceiveSession session(settings());
    const ReceiveResult r = session.run();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::AuthFailed);
    QVERIFY(!r.error.message.isEmpty());
    QVERIFY(!r.error.message.contains(QChar(0)));
    QCOMPARE(r.stored, 0);
    QCOMPARE(m_servers->mailboxMessages().size(), 1);
}

void TestReceiveSession::noServerAndNoConnection()
{
    ReceiveSettings s = settings();
    s.pop3Server.clear();
    QCOMPARE(ReceiveSession(s).run().outcome, ReceiveResult::Outcome::NoServer);
    s.pop3Server = u"127.0.0.1:%1"_s.arg(freeLocalPort());
    const ReceiveResult r = ReceiveSession(s).run();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::NoConnection);
    QVERIFY(r.error.isSet());
}

void TestReceiveSession::leadingSpacesAreTrimmed()
{
    // An encoded word keeps its spaces through header parsing.
    QVERIFY(m_servers->deliver(plainMail("=?UTF-8?B?" + QByteArray("   spaced  ").toBase64() + "?=",
                                         "   body with spaces   \r\n")));
    ReceiveSession session(settings());
    QCOMPARE(session.run().stored, 1);
    QCOMPARE(records().at(0).subject, u"spaced"_s);
    QByteArray raw;
    QFile file(recordFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    raw = file.read(MailRecordFile::RecordSize);
    QVERIFY(raw.startsWith("spaced "));
    QVERIFY(raw.mid(280).startsWith("body with spaces "));
}

void TestReceiveSession::bodyTooLongIsStoredCutAndSavedWhole_data()
{
    QTest::addColumn<QString>("body");
    QTest::newRow("longer than the field") << QString(20000, u'あ') + u"END"_s;
    QTest::newRow("characters CP932 lacks") << u"絵文字 😀 と é"_s;
}

void TestReceiveSession::bodyTooLongIsStoredCutAndSavedWhole()
{
    QFETCH(QString, body);
    QVERIFY(m_servers->deliver(plainMail("long", body.toUtf8() + "\r\n")));
    ReceiveSession session(settings());
    QCOMPARE(session.run().stored, 1);

    const QStringList saved = QDir(m_root.attachmentFolder()).entryList({u"*.txt"_s}, QDir::Files);
    QCOMPARE(saved.size(), 1);
    QFile whole(m_root.attachmentFolder() + u'/' + saved.first());
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(whole.readAll()), body + u"\r\n"_s);

    const QString stored = records().at(0).body;
    QVERIFY2(stored.endsWith(u"\r\n"_s + ReceivedRecord::fullTextLine(saved.first())), qPrintable(stored));
    QVERIFY(Cp932::encode(stored).size() <= MailRecordFile::BodyWidth);
    QVERIFY(body.startsWith(stored.left(10)) || stored.startsWith(u"絵文字"_s));
    QCOMPARE(m_servers->mailboxMessages().size(), 0);
}

void TestReceiveSession::fullRecordFileStopsBeforeFetching()
{
    QFile file(recordFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(qint64(MailRecordFile::MaxRecords) * MailRecordFile::RecordSize)); // sparse
    file.close();
    QVERIFY(m_servers->deliver(plainMail("no room")));
    ReceiveSession session(settings());
    const ReceiveResult r = session.run();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::Stopped);
    QCOMPARE(r.stored, 0);
    QVERIFY(r.error.message.contains(u"32767"_s));
    QCOMPARE(m_servers->mailboxMessages().size(), 1);
    QCOMPARE(QFileInfo(recordFile()).size(), qint64(MailRecordFile::MaxRecords) * MailRecordFile::RecordSize);
}

void TestReceiveSession::serverKilledLosesNothing()
{
    // Big enough that the connection is still needed when the server goes.
    const QByteArray big = QByteArray(300 * 1024, 'x').toBase64(QByteArray::KeepTrailingEquals);
    for (const QByteArray subject : {"k1", "k2", "k3", "k4", "k5", "k6"})
        QVERIFY(m_servers->deliver(plainMail(subject, big + "\r\n")));
    ReceiveSession session(settings());
    connect(&session, &ReceiveSession::messageReceived, this, [&] { m_servers->stopPop3(); });
    const ReceiveResult r = session.run();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::Stopped);
    QVERIFY(r.error.isSet());
    QVERIFY(r.stored >= 1);
    QCOMPARE(records().size(), r.stored);
    // Every message is stored or still on the server (no QUIT: nothing was deleted).
    QStringList kept;
    for (const MailRecord &record : records())
        kept << record.subject;
    for (const QByteArray &raw : m_servers->mailboxMessages())
        kept << QString::fromLatin1(raw.mid(raw.indexOf("Subject: ") + 9, 2));
    for (const QString &subject : {u"k1"_s, u"k2"_s, u"k3"_s, u"k4"_s, u"k5"_s, u"k6"_s})
        QVERIFY2(kept.contains(subject), qPrintable(subject));
}

void TestReceiveSession::cancelDeletesOnlyStoredMessages()
{
    for (const QByteArray subject : {"c1", "c2", "c3"})
        QVERIFY(m_servers->deliver(plainMail(subject)));
    ReceiveSession session(settings());
    connect(&session, &ReceiveSession::messageReceived, this, [&] { session.cancel(); });
    const ReceiveResult r = session.run();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::Cancelled);
    QCOMPARE(r.stored, 1);
    QCOMPARE(records().size(), 1);
    const QList<QByteArray> left = m_servers->mailboxMessages();
    QCOMPARE(left.size(), 2);
    QVERIFY(left[0].contains("Subject: c2"));
    QVERIFY(left[1].contains("Subject: c3"));
}

QTEST_GUILESS_MAIN(TestReceiveSession)
#include "tst_receivesession.moc"
