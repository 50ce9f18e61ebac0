#include "inbox/logic/ReceiveSession.h"
#include "inbox/logic/ReceivedRecord.h"
#include "storage/Cp932.h"
#include "storage/DataFolderLock.h"
#include "storage/DataRoot.h"
#include "storage/MailRecordFile.h"
#include "storage/ProfileFile.h"
#include "storage/RecordAppender.h"
#include "storage/TextUtil.h"
#include "storage/ThreadIndex.h"
#include "storage/UidlList.h"

#include "ScriptedServer.h"
#include "TestMailServers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

QByteArray partialMail(int number = 1)
{
    return "From: sender@example.jp\r\nTo: alice@example.jp\r\nSubject: split\r\n"
           "Date: Mon, 7 Dec 2026 09:00:00 +0900\r\nMIME-Version: 1.0\r\n"
           "Content-Type: message/partial; id=\"part-set-1@example.jp\"; number=" + QByteArray::number(number)
           + "; total=2\r\n\r\n"
           + (number == 1 ? "Subject: split\r\nContent-Type: multipart/mixed; boundary=XX\r\n\r\n--XX\r\n"
                            "Content-Type: text/plain\r\n\r\nfirst half\r\n"
                          : "--XX\r\nContent-Type: application/octet-stream\r\n"
                            "Content-Disposition: attachment; filename=whole.bin\r\n\r\nsecond half\r\n--XX--\r\n");
}

// A message nested depth multiparts deep, with a file at the bottom.
QByteArray deepMime(int depth)
{
    QByteArray inner = "Content-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=deep.bin\r\n"
                       "Content-Transfer-Encoding: base64\r\n\r\nAAEC\r\n";
    for (int d = depth; d >= 1; --d) {
        const QByteArray b = "b" + QByteArray::number(d);
        inner = "Content-Type: multipart/mixed; boundary=" + b + "\r\n\r\n--" + b + "\r\n" + inner + "--" + b + "--\r\n";
    }
    return "From: a@example.jp\r\nSubject: deep\r\nMIME-Version: 1.0\r\n" + inner;
}

QByteArray deepHtml(int depth)
{
    return "From: a@example.jp\r\nSubject: deep\r\nMIME-Version: 1.0\r\nContent-Type: text/html\r\n\r\n<html><body>"
           + QByteArray("<div>").repeated(depth) + "deep text</body></html>\r\n";
}

// The dialogue of a login on a plain POP3 server without extensions, up to
// the answer to UIDL.
void scriptLogin(ScriptedServer &fake, int count, const QByteArray &uidlReply)
{
    fake.send("+OK ready\r\n").expectLine().send("-ERR\r\n")    // CAPA
        .expectLine().send("+OK\r\n").expectLine().send("+OK\r\n") // USER, PASS
        .expectLine().send("-ERR\r\n")                             // CAPA
        .expectLine().send("+OK " + QByteArray::number(count) + " 100\r\n")
        .expectLine().send(uidlReply);
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
    void splitMailKeepsItsFragmentsUntilItsRecordIsWritten();
    void anotherWriterBetweenTwoMessagesKeepsItsMail();
    void lookAlikeMailIsStoredNotDeleted();
    void missingPasswordFetchesNothing();
    void wrongPasswordGivesServerText();
    void noServerAndNoConnection();
    void leadingSpacesAreTrimmed();
    void bodyTooLongIsStoredCutAndSavedWhole_data();
    void bodyTooLongIsStoredCutAndSavedWhole();
    void fullRecordFileStopsBeforeFetching();
    void serverKilledLosesNothing();
    void cancelDeletesOnlyStoredMessages();
    void killedReceiveStoresEachMailOnce_data();
    void killedReceiveStoresEachMailOnce();
    void keepOnServerFetchesEachMailOnce_data();
    void keepOnServerFetchesEachMailOnce();
    void keptMailIsRecognisedWithoutItsId();
    void serverWithoutUidlReconnectsAfterEachBatch();
    void keepWithoutUsableUidlTouchesNothing_data();
    void keepWithoutUsableUidlTouchesNothing();
    void failingMessageDoesNotHoldBackLaterMail();
    void serverRefusingEveryMessageIsNotWaitedThrough();
    void skippedMessageIsTriedAgainWhenAsked();
    void cancelEndsStalledTransferAtOnce();
    void attachmentWriteFailureLeavesMailOnServer();
    void recordWriteFailureLosesNothingAndLeavesNothing();
    void writersGoOnWhileTheServerIsWaitedFor();
    void cancelAfterTheLastMessageStillDeletes();
    void abortAtTheEndDoesNotWaitForDeletions();
    void tooDeepNestingKeepsWholeMessage_data();
    void tooDeepNestingKeepsWholeMessage();

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
    s.storedMessageListFile = m_root.storedMessageListFile();
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
        // Its Message-ID is kept beside it, for a reply.
        QString digest;
        ThreadIndex::Ids ids;
        QVERIFY(ThreadIndex::digestOf(m_root.receivedMailFile(), i + 1, &digest, nullptr));
        QVERIFY(ThreadIndex(ThreadIndex::pathIn(m_root.dataFolder())).find(digest, &ids, nullptr));
        QCOMPARE(ids.messageId, u"<%1@example.jp>"_s.arg(QString::fromLatin1(("m" + QByteArray::number(i + 1)).toHex())));
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

// The kept fragments are all there is of a split mail until its record is
// written: a failed write leaves them for the next receive.
void TestReceiveSession::splitMailKeepsItsFragmentsUntilItsRecordIsWritten()
{
    QVERIFY(m_servers->deliver(partialMail(1)));
    QCOMPARE(ReceiveSession(settings()).run().stored, 1);
    QVERIFY(m_servers->deliver(partialMail(2)));
    rlimit old{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = MailRecordFile::RecordSize * 3 / 2; // the second record does not fit
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    ReceiveResult r = ReceiveSession(settings()).run();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    QCOMPARE(r.outcome, ReceiveResult::Outcome::Stopped);

    ReceiveSession again(settings());
    QStringList notices;
    connect(&again, &ReceiveSession::notice, this, [&](const QString &text) { notices << text; });
    r = again.run();
    QCOMPARE(r.stored, 1);
    QCOMPARE(notices, QStringList());
    QFile whole(m_root.attachmentFolder() + u"/whole.bin"_s);
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QCOMPARE(whole.readAll().trimmed(), "second half");
    QVERIFY(!QFileInfo::exists(m_root.attachmentFolder() + u"/.partial"_s)); // gone once stored
}

// An import between two messages of a receive: its records and keys stay,
// the receive's records go after them.
void TestReceiveSession::anotherWriterBetweenTwoMessagesKeepsItsMail()
{
    for (const QByteArray subject : {"r1", "r2", "r3"})
        QVERIFY(m_servers->deliver(plainMail(subject)));
    ReceiveSession session(settings());
    connect(&session, &ReceiveSession::progress, this, [&](int n) {
        if (n != 2)
            return;
        DataFolderLock lock(m_root.dataFolder(), u"取り込み"_s);
        UidlList keys(m_root.storedMessageListFile(), recordFile(), QString::fromUtf16(UidlList::StoredMessages));
        RecordAppender store(recordFile(), m_root.receivedMailTemp());
        const QByteArray bytes = MailRecordFile::encode({u"imported"_s, u"d"_s, u"a@example.jp"_s, u"body"_s});
        QVERIFY(lock.take(nullptr) && keys.load(nullptr) && store.sync(nullptr));
        QVERIFY(keys.addPending(u"imported-key"_s, store.nextNumber(), bytes, nullptr));
        QVERIFY(store.append(bytes, nullptr) && store.flush(nullptr) && keys.commit(nullptr));
    });
    QCOMPARE(session.run().stored, 3);
    QStringList subjects;
    for (const MailRecord &record : records())
        subjects << record.subject;
    QCOMPARE(subjects, (QStringList{u"r1"_s, u"imported"_s, u"r2"_s, u"r3"_s}));
    UidlList keys(m_root.storedMessageListFile(), recordFile(), QString::fromUtf16(UidlList::StoredMessages));
    QVERIFY(keys.load(nullptr));
    QVERIFY(keys.storedSince(u"imported-key"_s) > 0);
}

// One-time codes and alerts: the same Message-ID, Date and size, another text.
void TestReceiveSession::lookAlikeMailIsStoredNotDeleted()
{
    QVERIFY(m_servers->deliver(plainMail("code", "Your code is 111111\r\n")));
    QCOMPARE(ReceiveSession(settings()).run().stored, 1);
    QVERIFY(m_servers->deliver(plainMail("code", "Your code is 222222\r\n")));
    QCOMPARE(ReceiveSession(settings()).run().stored, 1);
    QCOMPARE(records().size(), 2);
    QCOMPARE(records().at(1).body, u"Your code is 222222\r\n"_s);
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
    const QString wholeText = QString::fromUtf8(whole.readAll());
    QVERIFY(wholeText.startsWith(u"Subject: long\r\nFrom: "_s));
    QVERIFY(wholeText.endsWith(u"\r\n\r\n"_s + body + u"\r\n"_s));

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

void TestReceiveSession::killedReceiveStoresEachMailOnce_data()
{
    // The receive is killed (SIGKILL) when it reports this message stored,
    // or before it fetches this one; 50 records make a batch.
    // Then the user deletes record 1 (1), every record (-1) or nothing (0).
    QTest::addColumn<int>("killWhenStored");
    QTest::addColumn<int>("killBeforeFetching");
    QTest::addColumn<int>("deleteAfterKill");
    QTest::newRow("records written, none flushed") << 3 << 0 << 0;
    QTest::newRow("first batch deleted, no QUIT") << 0 << 53 << 0;
    QTest::newRow("every record written, no QUIT") << 60 << 0 << 0;
    QTest::newRow("records written, then one deleted") << 30 << 0 << 1;
    QTest::newRow("records written, then all deleted") << 30 << 0 << -1;
}

void TestReceiveSession::killedReceiveStoresEachMailOnce()
{
    QFETCH(int, killWhenStored);
    QFETCH(int, killBeforeFetching);
    QFETCH(int, deleteAfterKill);
    QStringList ids;
    for (int i = 1; i <= 60; ++i) {
        ids << u"id%1"_s.arg(i, 2, 10, QChar(u'0'));
        QVERIFY(m_servers->deliver(plainMail(ids.last().toLatin1(), QByteArray(4000, 'x') + "\r\n")));
    }
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ReceiveSession session(settings());
        int stored = 0;
        connect(&session, &ReceiveSession::messageReceived, &session, [&] {
            if (++stored == killWhenStored)
                ::raise(SIGKILL);
        });
        connect(&session, &ReceiveSession::progress, &session, [&](int n) {
            if (n == killBeforeFetching)
                ::raise(SIGKILL);
        });
        session.run();
        ::_exit(0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    QCOMPARE(m_servers->mailboxMessages().size(), 60); // no QUIT: nothing deleted
    const int before = int(records().size());
    QVERIFY(before >= 1);
    MailRecordFile file(m_root.receivedMailFile(), m_root.receivedMailTemp());
    if (deleteAfterKill > 0) {
        ids.removeOne(records().at(deleteAfterKill - 1).subject);
        QVERIFY(file.deleteRecord(deleteAfterKill));
    } else if (deleteAfterKill < 0) {
        for (const MailRecord &record : records())
            ids.removeOne(record.subject);
        QVERIFY(file.deleteAll());
    }

    const ReceiveResult r = ReceiveSession(settings()).run();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::Completed);
    QCOMPARE(r.stored, 60 - before); // what was stored is not fetched again, nor what was deleted
    QCOMPARE(m_servers->mailboxMessages().size(), 0);
    QStringList stored;
    for (const MailRecord &record : records())
        stored << record.subject;
    stored.sort();
    QCOMPARE(stored, ids);
}

void TestReceiveSession::keepOnServerFetchesEachMailOnce_data()
{
    QTest::addColumn<int>("days");
    QTest::addColumn<int>("leftAtEnd");
    QTest::newRow("kept for ever") << 0 << 3;
    QTest::newRow("deleted after 2 days") << 2 << 1;
}

void TestReceiveSession::keepOnServerFetchesEachMailOnce()
{
    QFETCH(int, days);
    QFETCH(int, leftAtEnd);
    ReceiveSettings s = settings();
    s.keep = {true, days};
    QVERIFY(m_servers->deliver(plainMail("k1")));
    QVERIFY(m_servers->deliver(plainMail("k2")));
    ReceiveResult r = ReceiveSession(s).run();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::Completed);
    QCOMPARE(r.stored, 2);
    QCOMPARE(m_servers->mailboxMessages().size(), 2);

    // Three days pass for what was stored; one new mail comes.
    QFile list(m_root.uidlListFile());
    QVERIFY(list.open(QIODevice::ReadWrite));
    QByteArray older;
    for (const QByteArray &line : list.readAll().trimmed().split('\n')) {
        const QList<QByteArray> f = line.split(' '); // uidl, first stored
        older += f[0] + ' ' + QByteArray::number(f[1].toLongLong() - 3 * 86400) + '\n';
    }
    QVERIFY(list.resize(0) && list.seek(0) && list.write(older) == older.size());
    list.close();
    QVERIFY(m_servers->deliver(plainMail("k3")));
    r = ReceiveSession(s).run();
    QCOMPARE(r.stored, 1); // k1 and k2 are not fetched again
    QCOMPARE(records().size(), 3);
    QCOMPARE(m_servers->mailboxMessages().size(), leftAtEnd);
    QVERIFY(m_servers->mailboxMessages().last().contains("Subject: k3"));
    // The list forgets what the server no longer has.
    QVERIFY(list.open(QIODevice::ReadOnly));
    QCOMPARE(list.readAll().count('\n'), leftAtEnd);
}

void TestReceiveSession::keptMailIsRecognisedWithoutItsId()
{
    ReceiveSettings s = settings();
    s.keep = {true, 0};
    QVERIFY(m_servers->deliver(plainMail("k1")));
    QVERIFY(m_servers->deliver(plainMail("k2")));
    QCOMPARE(ReceiveSession(s).run().stored, 2);
    // The list of server ids is damaged (or the server gave its mail new ids).
    QFile list(m_root.uidlListFile());
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("\x01\x02 damaged\n");
    list.close();
    for (int run = 1; run <= 2; ++run) {
        ReceiveSession session(s);
        QStringList shown;
        connect(&session, &ReceiveSession::notice, this, [&](const QString &text) { shown << text; });
        const ReceiveResult r = session.run();
        QCOMPARE(r.outcome, ReceiveResult::Outcome::Completed);
        QCOMPARE(r.stored, 0);
        QCOMPARE(shown.size(), run == 1 ? 1 : 0); // said once: the list is whole again
        QVERIFY(shown.isEmpty() || shown.first().contains(u"壊れていて"_s));
    }
    QCOMPARE(records().size(), 2);
    QCOMPARE(m_servers->mailboxMessages().size(), 2);
    // The damaged line is kept aside, not dropped with the rewrite.
    const QStringList aside = QDir(m_root.dataFolder()).entryList({u"hlmuidl.txt.damaged-*"_s});
    QCOMPARE(aside.size(), 1);
}

void TestReceiveSession::serverWithoutUidlReconnectsAfterEachBatch()
{
    ScriptedServer fake;
    auto message = [](int n) { return "+OK\r\nSubject: n" + QByteArray::number(n) + "\r\n\r\nbody\r\n.\r\n"; };
    scriptLogin(fake, 51, "-ERR no UIDL\r\n");
    for (int n = 1; n <= 50; ++n)
        fake.expectLine().send(message(n));
    for (int n = 1; n <= 51; ++n) // 50 DELE, QUIT
        fake.expectLine().send("+OK\r\n");
    fake.acceptNext();
    scriptLogin(fake, 1, "-ERR no UIDL\r\n");
    fake.expectLine().send(message(51)).expectLine().send("+OK\r\n").expectLine().send("+OK\r\n");
    QVERIFY(fake.start());
    ReceiveSettings s = settings();
    s.pop3Server = fake.server();
    const ReceiveResult r = ReceiveSession(s).run();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::Completed);
    QCOMPARE(r.stored, 51);
    QCOMPARE(records().size(), 51);
    QCOMPARE(records().last().subject, u"n51"_s);
    const QList<QByteArray> sent = fake.received();
    QCOMPARE(sent.count("QUIT"), 2);
    QCOMPARE(sent.mid(sent.indexOf("QUIT") - 1, 2), (QList<QByteArray>{"DELE 50", "QUIT"}));
    QCOMPARE(sent.last(), "QUIT"_ba);
}

void TestReceiveSession::keepWithoutUsableUidlTouchesNothing_data()
{
    QTest::addColumn<QByteArray>("uidlReply");
    QTest::newRow("no UIDL") << "-ERR no UIDL\r\n"_ba;
    QTest::newRow("an id twice") << "+OK\r\n1 same\r\n2 same\r\n.\r\n"_ba;
}

void TestReceiveSession::keepWithoutUsableUidlTouchesNothing()
{
    QFETCH(QByteArray, uidlReply);
    ScriptedServer fake;
    scriptLogin(fake, 2, uidlReply);
    fake.expectLine().send("+OK\r\n"); // QUIT
    QVERIFY(fake.start());
    ReceiveSettings s = settings();
    s.pop3Server = fake.server();
    s.keep.keepOnServer = true;
    const ReceiveResult r = ReceiveSession(s).run();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::Stopped);
    QVERIFY2(r.error.message.contains(u"サーバーに残したまま受信することができません"_s), qPrintable(r.error.text()));
    QCOMPARE(r.stored, 0);
    const QList<QByteArray> sent = fake.received();
    QVERIFY2(!sent.contains("RETR 1") && !sent.contains("DELE 1") && sent.last() == "QUIT", sent.join(' '));
}

void TestReceiveSession::failingMessageDoesNotHoldBackLaterMail()
{
    ScriptedServer fake;
    scriptLogin(fake, 3, "+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n");
    fake.expectLine().send("+OK\r\nSubject: one\r\n\r\nbody\r\n.\r\n");
    fake.expectLine().send("-ERR cannot read this message\r\n");
    fake.expectLine().send("+OK\r\nSubject: three\r\n\r\nbody\r\n.\r\n");
    for (int i = 0; i < 3; ++i) // DELE 1, DELE 3, QUIT
        fake.expectLine().send("+OK\r\n");
    QVERIFY(fake.start());
    ReceiveSettings s = settings();
    s.pop3Server = fake.server();
    // Two receives failed on message 2 already.
    QFile list(m_root.uidlListFile());
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("b F2 " + UidlList::accountKey(s.pop3Server, m_servers->user()).toLatin1() + '\n');
    list.close();
    ReceiveSession session(s);
    QStringList shown;
    connect(&session, &ReceiveSession::notice, this, [&](const QString &text) { shown << text; });
    const ReceiveResult r = session.run();
    QVERIFY2(r.outcome == ReceiveResult::Outcome::Completed, qPrintable(r.error.text() + QString::fromLatin1(fake.received().join(' '))));
    QCOMPARE(r.stored, 2);
    QVERIFY(!fake.received().contains("DELE 2"));
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().contains(u"2 通目"_s), qPrintable(shown.first()));
    // The third failure in a row: the next receive leaves it without asking the server.
    QVERIFY(list.open(QIODevice::ReadOnly));
    QVERIFY(list.readAll().contains("b F3 "));
}

void TestReceiveSession::skippedMessageIsTriedAgainWhenAsked()
{
    ScriptedServer fake;
    scriptLogin(fake, 1, "+OK\r\n1 b\r\n.\r\n");
    fake.expectLine().send("+OK\r\nSubject: at last\r\n\r\nbody\r\n.\r\n");
    fake.expectLine().send("+OK\r\n").expectLine().send("+OK\r\n"); // DELE 1, QUIT
    QVERIFY(fake.start());
    ReceiveSettings s = settings();
    s.pop3Server = fake.server();
    s.retrySkipped = true;
    QFile list(m_root.uidlListFile());
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("b F3 " + UidlList::accountKey(s.pop3Server, m_servers->user()).toLatin1() + '\n');
    list.close();
    QCOMPARE(ReceiveSession(s).run().stored, 1);
    QVERIFY(fake.received().contains("DELE 1"));
}

void TestReceiveSession::serverRefusingEveryMessageIsNotWaitedThrough()
{
    constexpr int Count = 40;
    QByteArray uidl = "+OK\r\n";
    for (int n = 1; n <= Count; ++n)
        uidl += QByteArray::number(n) + " u" + QByteArray::number(n) + "\r\n";
    ScriptedServer fake;
    scriptLogin(fake, Count, uidl + ".\r\n");
    for (int n = 1; n <= Count; ++n)
        fake.expectLine().send("-ERR cannot read this message\r\n");
    QVERIFY(fake.start());
    ReceiveSettings s = settings();
    s.pop3Server = fake.server();
    const ReceiveResult r = ReceiveSession(s).run();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::Stopped);
    QVERIFY2(r.error.message.contains(u"渡さなかった"_s), qPrintable(r.error.text()));
    const QList<QByteArray> said = fake.received();
    QCOMPARE(std::count_if(said.cbegin(), said.cend(), [](const QByteArray &line) { return line.startsWith("RETR"); }), 20);
}

void TestReceiveSession::cancelEndsStalledTransferAtOnce()
{
    ScriptedServer fake;
    scriptLogin(fake, 1, "+OK\r\n1 a\r\n.\r\n");
    fake.expectLine().send("+OK\r\nSubject: stalled\r\n\r\nhalf a bo"); // then silence
    QVERIFY(fake.start());
    ReceiveSettings s = settings();
    s.pop3Server = fake.server();
    ReceiveSession session(s);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        session.cancel();
    });
    QElapsedTimer t;
    t.start();
    const ReceiveResult r = session.run();
    canceller.join();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::Cancelled);
    QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed()))); // not the 60 s reply timeout
    QCOMPARE(r.stored, 0);
    QCOMPARE(records().size(), 0);
    QVERIFY(!fake.received().contains("DELE 1"));
}

void TestReceiveSession::attachmentWriteFailureLeavesMailOnServer()
{
    QVERIFY(m_servers->deliver(plainMail("first")));
    QByteArray big = mailWithAttachment();
    big.replace("AAECAwQF", QByteArray(2 * 1024 * 1024, 'x').toBase64());
    QVERIFY(m_servers->deliver(big));
    QVERIFY(m_servers->deliver(plainMail("after")));
    // A disk that fills up: files of this process may not grow past 1 MB.
    rlimit old{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1024 * 1024;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const ReceiveResult r = ReceiveSession(settings()).run();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(r.outcome, ReceiveResult::Outcome::Stopped);
    QVERIFY2(r.error.message.contains(u"添付ファイルをオープンできません"_s), qPrintable(r.error.text()));
    QCOMPARE(r.stored, 1);
    QCOMPARE(records().size(), 1);
    const QList<QByteArray> left = m_servers->mailboxMessages();
    QCOMPARE(left.size(), 2);
    QVERIFY(left[0].contains("Subject: with file"));
    QVERIFY(!QFile::exists(m_root.attachmentFolder() + u"/data.bin"_s)); // no half-written file left
}

void TestReceiveSession::recordWriteFailureLosesNothingAndLeavesNothing()
{
    QVERIFY(m_servers->deliver(plainMail("r1")));
    QVERIFY(m_servers->deliver(mailWithAttachment()));
    QVERIFY(m_servers->deliver(plainMail("r3")));
    // The disk fills up halfway through the second record.
    rlimit old{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = MailRecordFile::RecordSize * 3 / 2;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    ReceiveResult r = ReceiveSession(settings()).run();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    QCOMPARE(r.outcome, ReceiveResult::Outcome::Stopped);
    QCOMPARE(r.stored, 1);
    QCOMPARE(QFileInfo(m_root.receivedMailFile()).size(), MailRecordFile::RecordSize); // no partial record
    QCOMPARE(QDir(m_root.attachmentFolder()).entryList({u"data*"_s}, QDir::Files), QStringList());

    r = ReceiveSession(settings()).run();
    QCOMPARE(r.outcome, ReceiveResult::Outcome::Completed);
    QCOMPARE(r.stored, 2);
    QStringList subjects;
    for (const MailRecord &record : records())
        subjects << record.subject;
    QCOMPARE(subjects, (QStringList{u"r1"_s, u"with file"_s, u"r3"_s}));
    QCOMPARE(QDir(m_root.attachmentFolder()).entryList({u"data*"_s}, QDir::Files), QStringList{u"data.bin"_s});
    QCOMPARE(QDir(m_root.dataFolder()).entryList({u"*.partial-*"_s}, QDir::Files), QStringList());
}

void TestReceiveSession::writersGoOnWhileTheServerIsWaitedFor()
{
    ScriptedServer fake;
    scriptLogin(fake, 1, "+OK\r\n1 a\r\n.\r\n");
    fake.expectLine(); // RETR 1, never answered
    QVERIFY(fake.start());
    ReceiveSettings s = settings();
    s.pop3Server = fake.server();
    ReceiveSession session(s);
    std::thread receiving([&] { session.run(); });
    QTRY_VERIFY(fake.received().contains("RETR 1"));
    Error err;
    DataFolderLock lock(m_root.dataFolder(), u"アドレス帳"_s);
    const bool taken = lock.take(&err, 200);
    lock.release();
    session.cancel();
    receiving.join();
    QVERIFY2(taken, qPrintable(err.text()));
}

// The program ends during a receive: the stored mail is kept and listed, and
// the end does not wait for a server slow to answer DELE.
void TestReceiveSession::abortAtTheEndDoesNotWaitForDeletions()
{
    ScriptedServer fake;
    scriptLogin(fake, 1, "+OK\r\n1 a\r\n.\r\n");
    fake.expectLine().send("+OK\r\nSubject: one\r\n\r\nbody\r\n.\r\n");
    fake.expectLine(); // DELE 1, never answered
    QVERIFY(fake.start());
    ReceiveSettings s = settings();
    s.pop3Server = fake.server();
    ReceiveSession session(s);
    connect(&session, &ReceiveSession::messageReceived, this, [&] { session.abort(); });
    QElapsedTimer t;
    t.start();
    session.run();
    QVERIFY2(t.elapsed() < 10000, qPrintable(QString::number(t.elapsed()))); // not the 60 s reply timeout
    QCOMPARE(records().size(), 1);
    UidlList ids(m_root.uidlListFile(), recordFile(), UidlList::accountKey(s.pop3Server, m_servers->user()));
    QVERIFY(ids.load(nullptr));
    QVERIFY(ids.storedSince(u"a"_s) > 0); // the next receive deletes it unfetched
}

void TestReceiveSession::cancelAfterTheLastMessageStillDeletes()
{
    ScriptedServer fake;
    scriptLogin(fake, 2, "+OK\r\n1 a\r\n2 b\r\n.\r\n");
    fake.expectLine().send("+OK\r\nSubject: one\r\n\r\nbody\r\n.\r\n");
    fake.expectLine().send("+OK\r\nSubject: two\r\n\r\nbody\r\n.\r\n");
    // A busy server takes its time over the deletions.
    fake.expectLine().sleep(1500).send("+OK\r\n").expectLine().send("+OK\r\n").expectLine().send("+OK\r\n");
    QVERIFY(fake.start());
    ReceiveSettings s = settings();
    s.pop3Server = fake.server();
    ReceiveSession session(s);
    int stored = 0;
    connect(&session, &ReceiveSession::messageReceived, this, [&] {
        if (++stored == 2)
            session.cancel();
    });
    const ReceiveResult r = session.run();
    QVERIFY2(r.outcome == ReceiveResult::Outcome::Completed, qPrintable(r.error.text()));
    QCOMPARE(r.stored, 2);
    QCOMPARE(fake.received().mid(fake.received().size() - 3),
             (QList<QByteArray>{"DELE 1", "DELE 2", "QUIT"}));
}

void TestReceiveSession::tooDeepNestingKeepsWholeMessage_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("keptWhole");
    QTest::newRow("multiparts nested 70 deep") << deepMime(70) << true;
    QTest::newRow("HTML nested 300 deep") << deepHtml(300) << true;
    QTest::newRow("multiparts nested 10 deep") << deepMime(10) << false;
}

void TestReceiveSession::tooDeepNestingKeepsWholeMessage()
{
    QFETCH(QByteArray, raw);
    QFETCH(bool, keptWhole);
    QVERIFY(m_servers->deliver(raw));
    QCOMPARE(ReceiveSession(settings()).run().stored, 1);
    const QStringList saved = QDir(m_root.attachmentFolder()).entryList({u"*.eml"_s}, QDir::Files);
    const QString body = records().at(0).body;
    if (!keptWhole) {
        QVERIFY(saved.isEmpty());
        QVERIFY(QFile::exists(m_root.attachmentFolder() + u"/deep.bin"_s));
        return;
    }
    QCOMPARE(saved, QStringList{u"deep.eml"_s});
    QVERIFY2(body.endsWith(ReceivedRecord::wholeMessageLine(saved.first())), qPrintable(body));
    QFile whole(m_root.attachmentFolder() + u"/deep.eml"_s);
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QVERIFY(whole.readAll().contains(raw.right(200)));
}

QTEST_GUILESS_MAIN(TestReceiveSession)
#include "tst_receivesession.moc"
