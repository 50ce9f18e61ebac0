#include "storage/MailRecordFile.h"
#include "storage/DataRoot.h"
#include "storage/ThreadIndex.h"
#include "transport/MailDecoder.h"
#include "transport/Mbox.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

// A message with one attachment "<subject>-<i>.bin" of each size.
QByteArray messageWith(const QByteArray &subject, const QList<int> &sizes)
{
    QByteArray m = "Subject: " + subject + "\nFrom: a@example.jp\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\nContent-Type: text/plain\n\nbody\n";
    for (int i = 0; i < sizes.size(); ++i)
        m += "--b\nContent-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n"
             "Content-Disposition: attachment; filename=\"" + subject + '-' + QByteArray::number(i + 1) + ".bin\"\n\n"
            + QByteArray(sizes[i], 'x').toBase64() + '\n';
    return m + "--b--\n";
}

} // namespace

// mboxrd writing and reading, records as messages, and Python's mailbox module as the peer.
class TestMbox : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    struct Run {
        int exitCode = -1;
        QString out, err;
    };

    Run runCli(const QStringList &args) { return runCliIn(m_dir.path(), args); }

    // No file of the run grows past fileSizeLimit bytes: a write beyond fails with EFBIG.
    Run runCliIn(const QString &root, const QStringList &args, rlim_t fileSizeLimit = RLIM_INFINITY)
    {
        QProcess p;
        p.setChildProcessModifier([fileSizeLimit] {
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, SIG_IGN);
        });
        p.start(QStringLiteral(HOLLIN_CLI), QStringList{u"--root"_s, root} + args);
        p.waitForFinished(60000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }

    Run runPython(const QString &script, const QStringList &args)
    {
        QProcess p;
        p.start(u"/usr/bin/python3"_s, QStringList{u"-c"_s, script} + args);
        p.waitForFinished(60000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }

private slots:
    void quotingRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("plain") << QByteArray("Subject: a\n\nbody\n");
        QTest::newRow("From lines at every depth")
            << QByteArray("Subject: a\n\nFrom here\n>From there\n>>From far\nFromage\n");
        QTest::newRow("CR LF becomes LF") << QByteArray("Subject: a\r\n\r\nline\r\n");
        QTest::newRow("no final line end") << QByteArray("Subject: a\n\nend");
    }

    void quotingRoundTrip()
    {
        QFETCH(QByteArray, message);
        QByteArray mbox;
        Mbox::append(&mbox, message, u"a@example.jp"_s, QDateTime::currentDateTimeUtc());
        Mbox::append(&mbox, "Subject: second\n\nFrom the second\n", u"b@example.jp"_s, {});
        QVERIFY(Mbox::looksLikeMbox(mbox));
        QVERIFY(mbox.contains("\n>From the second\n"));
        const QList<QByteArray> back = Mbox::split(mbox);
        QCOMPARE(back.size(), 2);
        QByteArray expected = QByteArray(message).replace("\r\n", "\n");
        if (!expected.endsWith('\n'))
            expected += '\n';
        QCOMPARE(back[0], expected);
        QCOMPARE(back[1], QByteArray("Subject: second\n\nFrom the second\n"));
    }

    void recordBecomesADecodableMessage()
    {
        MailRecord record{u"  件名～①  "_s, u"Mon, 7 Dec 2026 08:00:00 +0900"_s, u"山田 太郎 <taro@example.jp>"_s,
                          u"本文です。\r\n二行目"_s};
        const DecodedMail mail = MailDecoder::decode(RecordMessage::build(record, false));
        QCOMPARE(mail.subject, u"件名～①"_s);
        QCOMPARE(mail.from, u"山田 太郎 <taro@example.jp>"_s);
        QCOMPARE(RecordMessage::parseDate(mail.date), RecordMessage::parseDate(record.date));
        QCOMPARE(mail.body.trimmed().replace(u"\r\n"_s, u"\n"_s), u"本文です。\n二行目"_s);
    }

    void heldRecordNamesTheRecipient()
    {
        MailRecord record{u"下書き"_s, QString(), u"hanako@example.jp"_s, u"まだ途中"_s};
        const QByteArray message = RecordMessage::build(record, true, u"me@example.jp"_s);
        QVERIFY(message.contains("To: hanako@example.jp"));
        QVERIFY(message.contains("From: me@example.jp"));
    }

    void pythonReadsWhatHollinExports()
    {
        DataRoot root(m_dir.path());
        QVERIFY(root.ensureTree());
        MailRecordFile file(root.receivedMailFile(), root.receivedMailTemp());
        QVERIFY(file.append({u"打ち合わせ"_s, u"Mon, 7 Dec 2026 08:00:00 +0900"_s, u"佐藤 花子 <hanako@example.jp>"_s,
                             u"From the start\r\n来週の水曜日です。"_s}) == 1);
        QVERIFY(file.append({u"ⅠとⅡ"_s, u"日付なし"_s, u"ichiro@example.jp"_s, u"資料①"_s}) == 2);
        const QString mbox = m_dir.filePath(u"out.mbox"_s);
        const mode_t oldMask = ::umask(0); // all the mail: private whatever the umask
        const Run exported = runCli({u"export-mbox"_s, mbox});
        ::umask(oldMask);
        QVERIFY2(exported.exitCode == 0, qPrintable(exported.err));
        QCOMPARE(int(QFile::permissions(mbox)) & 0x7077, 0x6000); // rw for the owner, nothing for others

        const Run python = runPython(uR"(
import email, email.policy, mailbox, sys
box = mailbox.mbox(sys.argv[1], create=False)
for key in box.keys():
    msg = email.message_from_bytes(box.get_bytes(key), policy=email.policy.default)
    body = msg.get_body(('plain',)).get_content().rstrip('\n')
    print(str(msg['subject']) + '|' + str(msg['from']) + '|' + body.replace('\n', '\\n'))
)"_s, {mbox});
        QVERIFY2(python.exitCode == 0, qPrintable(python.err));
        const QStringList lines = python.out.trimmed().split(u'\n');
        QCOMPARE(lines.size(), 2);
        // mboxrd quotes a body line starting "From "; Python's mbox reader leaves the ">" in place
        QCOMPARE(lines[0], u"打ち合わせ|佐藤 花子 <hanako@example.jp>|>From the start\\n来週の水曜日です。"_s);
        QCOMPARE(lines[1], u"ⅠとⅡ|ichiro@example.jp|資料①"_s);
    }

    void hollinImportsWhatPythonWrites()
    {
        DataRoot root(m_dir.path());
        QVERIFY(root.ensureTree());
        const QString mbox = m_dir.filePath(u"python.mbox"_s);
        const QString eml = m_dir.filePath(u"single.eml"_s);
        const Run python = runPython(uR"(
import mailbox, sys
from email.message import EmailMessage
box = mailbox.mbox(sys.argv[1])
first = EmailMessage()
first['Subject'] = '会議の議事録'
first['From'] = '鈴木 一郎 <ichiro@example.jp>'
first['Date'] = 'Mon, 07 Dec 2026 09:00:00 +0900'
first.set_content('議事録を送ります。\nFrom the meeting\n')
first.add_attachment('メモ①'.encode('utf-8'), maintype='text', subtype='plain', filename='メモ.txt')
box.add(first)
second = EmailMessage()
second['Subject'] = 'ＩＳＯの件'
second['From'] = 'hanako@example.jp'
second.set_content('こんにちは', charset='iso-2022-jp')
box.add(second)
box.flush()
third = EmailMessage()
third['Subject'] = '単独のメール'
third['From'] = 'ken@example.jp'
third['Message-ID'] = '<single@example.jp>'
third['References'] = '<root@example.jp>'
third.set_content('本文')
open(sys.argv[2], 'wb').write(bytes(third))
)"_s, {mbox, eml});
        QVERIFY2(python.exitCode == 0, qPrintable(python.err));

        MailRecordFile file(root.receivedMailFile(), root.receivedMailTemp());
        const int before = file.count();
        const Run imported = runCli({u"import"_s, mbox, eml});
        QVERIFY2(imported.exitCode == 0, qPrintable(imported.err));
        QCOMPARE(file.count(), before + 3);
        MailRecord record;
        QVERIFY(file.read(before + 1, &record));
        QCOMPARE(record.subject.trimmed(), u"会議の議事録"_s);
        QCOMPARE(record.address.trimmed(), u"鈴木 一郎 <ichiro@example.jp>"_s);
        QVERIFY2(record.body.contains(u"議事録を送ります。\r\nFrom the meeting"_s), qPrintable(record.body));
        QVERIFY(record.body.trimmed().endsWith(u"♪♪♪"_s)); // the attachment line
        QFile attachment(QDir(root.attachmentFolder()).filePath(u"メモ.txt"_s));
        QVERIFY(attachment.open(QIODevice::ReadOnly));
        QCOMPARE(attachment.readAll(), u"メモ①"_s.toUtf8());
        QVERIFY(file.read(before + 2, &record));
        QCOMPARE(record.subject.trimmed(), u"ＩＳＯの件"_s);
        QVERIFY(file.read(before + 3, &record));
        QCOMPARE(record.subject.trimmed(), u"単独のメール"_s);
        // Its ids are kept beside it, for a reply.
        QString digest;
        ThreadIndex::Ids ids;
        QVERIFY(ThreadIndex::digestOf(file.path(), before + 3, &digest, nullptr));
        QVERIFY(ThreadIndex(ThreadIndex::pathIn(root.dataFolder())).find(digest, &ids, nullptr));
        QCOMPARE(ids.messageId, u"<single@example.jp>"_s);
        QCOMPARE(ids.references, u"<root@example.jp>"_s);
    }

    void importStopsAtAMailItCannotStore_data()
    {
        QTest::addColumn<int>("fileSizeLimit");
        QTest::addColumn<QList<int>>("secondAttachments");
        // The first mail's record and attachment fit, the third has no attachment.
        QTest::newRow("an attachment does not fit") << 100000 << QList<int>{100, 200000};
        QTest::newRow("its record does not fit") << 40000 << QList<int>{100};
    }

    void importStopsAtAMailItCannotStore()
    {
        QFETCH(int, fileSizeLimit);
        QFETCH(QList<int>, secondAttachments);
        QTemporaryDir dir;
        const QString rootPath = dir.filePath(u"root"_s);
        DataRoot root(rootPath);
        QVERIFY(root.ensureTree());
        QByteArray mbox;
        Mbox::append(&mbox, messageWith("first", {100}), u"a@example.jp"_s, {});
        Mbox::append(&mbox, messageWith("second", secondAttachments), u"a@example.jp"_s, {});
        Mbox::append(&mbox, messageWith("third", {}), u"a@example.jp"_s, {});
        Mbox::append(&mbox, messageWith("third", {}), u"a@example.jp"_s, {}); // twice in one input: stored once
        const QString input = dir.filePath(u"in.mbox"_s);
        QFile file(input);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(mbox);
        file.close();

        const Run imported = runCliIn(rootPath, {u"import"_s, input}, rlim_t(fileSizeLimit));
        QCOMPARE(imported.exitCode, 1);
        QVERIFY2(imported.out.isEmpty(), qPrintable(imported.out));
        for (const QString &said : {u"in.mbox の 2 通目"_s, u"「second」"_s, u"1 件を取り込んだところで止まりました"_s})
            QVERIFY2(imported.err.contains(said), qPrintable(imported.err));
        QCOMPARE(MailRecordFile(root.receivedMailFile(), root.receivedMailTemp()).count(), 1);
        QCOMPARE(QDir(root.attachmentFolder()).entryList(QDir::Files), QStringList{u"first-1.bin"_s});
        // Once there is room, the same import again: what was stored is not stored twice.
        const Run again = runCliIn(rootPath, {u"import"_s, input});
        QCOMPARE(again.exitCode, 0);
        QVERIFY2(again.out.contains(u"2 件は保存済みのため取り込みませんでした"_s), qPrintable(again.out));
        QCOMPARE(MailRecordFile(root.receivedMailFile(), root.receivedMailTemp()).count(), 3);
        QStringList files{u"first-1.bin"_s};
        for (int i = 1; i <= secondAttachments.size(); ++i)
            files << u"second-%1.bin"_s.arg(i);
        QCOMPARE(QDir(root.attachmentFolder()).entryList(QDir::Files), files);
    }

    void importOfAMissingFileChangesNothing()
    {
        DataRoot root(m_dir.path());
        QVERIFY(root.ensureTree());
        MailRecordFile file(root.receivedMailFile(), root.receivedMailTemp());
        const int before = file.count();
        const QString eml = m_dir.filePath(u"ok.eml"_s);
        QFile ok(eml);
        QVERIFY(ok.open(QIODevice::WriteOnly));
        ok.write("Subject: ok\r\n\r\nbody\r\n");
        ok.close();
        const Run imported = runCli({u"import"_s, eml, m_dir.filePath(u"missing.mbox"_s)});
        QCOMPARE(imported.exitCode, 1);
        QVERIFY(imported.err.contains(u"ファイルを読めません"_s));
        QCOMPARE(file.count(), before);
    }
};

QTEST_MAIN(TestMbox)
#include "tst_mbox.moc"
