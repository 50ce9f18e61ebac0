#include "transport/MailLib.h"

#include "ScriptedServer.h"
#include "TestMailServers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonArray>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

// An ISO-2022-JP subject and body, as Japanese mailers send them.
QByteArray japaneseMail(int i)
{
    return "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>\r\n"
           "To: alice@example.jp\r\n"
           "Subject: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?= " + QByteArray::number(i) + "\r\n"
           "Date: Mon, 7 Dec 2026 10:00:00 +0900\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
           "Content-Transfer-Encoding: 7bit\r\n"
           "\r\n"
           "\x1b$B$3$s$K$A$O\x1b(B\r\n";
}

QString normalised(QString s)
{
    s.replace(u"\r\n"_s, u"\n"_s);
    while (s.endsWith(u'\n'))
        s.chop(1);
    return s;
}

} // namespace

class TestMailLib : public QObject {
    Q_OBJECT

    TestMailServers m_servers;

    void startServers()
    {
        QString error;
        QVERIFY2(m_servers.start({}, &error), qPrintable(error));
    }

private slots:
    void cleanup() { m_servers.stop(); }

    void receiveAll_data()
    {
        QTest::addColumn<int>("messages");
        QTest::addColumn<bool>("apop");
        QTest::newRow("empty mailbox") << 0 << false;
        QTest::newRow("three, plain login") << 3 << false;
        QTest::newRow("three, APOP") << 3 << true;
        QTest::newRow("eighty: more than one pipeline window") << 80 << false;
    }
    void receiveAll()
    {
        QFETCH(int, messages);
        QFETCH(bool, apop);
        startServers();
        for (int i = 1; i <= messages; ++i)
            QVERIFY(m_servers.deliver(japaneseMail(i)));
        MailLib lib;
        const int handle = lib.pop3Connect(m_servers.pop3Server());
        QVERIFY2(handle != -1, qPrintable(lib.getMessage()));
        QCOMPARE(lib.pop3Authenticate(handle, m_servers.user(), m_servers.password(), apop ? -1 : 0), messages);
        for (int n = 1; n <= messages; ++n) {
            QString subject, date, from, header, body;
            QCOMPARE(lib.pop3GetMailStatus(handle, n, &subject, &date, &from, &header), 0);
            QCOMPARE(subject, u"会議 %1"_s.arg(n));
            QVERIFY(lib.pop3GetMailSize(handle, n) >= japaneseMail(n).size());
            QCOMPARE(lib.pop3GetMail(handle, n, &subject, &date, &from, &header, &body), 0);
            QCOMPARE(subject, u"会議 %1"_s.arg(n));
            QCOMPARE(from, u"山田 <yamada@example.jp>"_s);
            QCOMPARE(date, u"Mon, 7 Dec 2026 10:00:00 +0900"_s);
            QVERIFY(header.contains(u"Subject:"_s));
            QCOMPARE(normalised(body), u"こんにちは"_s);
            QCOMPARE(lib.pop3DeleteMail(handle, n), 0);
        }
        QCOMPARE(lib.pop3Close(handle), 0);
        QCOMPARE(m_servers.mailboxMessages().size(), 0);
    }

    void askedMessageWhateverWasReadAhead()
    {
        // Messages are read and decoded ahead of the caller: asked in order,
        // past some or back, it gets the one it asks for.
        startServers();
        for (int i = 1; i <= 12; ++i)
            QVERIFY(m_servers.deliver(japaneseMail(i)));
        MailLib lib;
        const int handle = lib.pop3Connect(m_servers.pop3Server());
        QCOMPARE(lib.pop3Authenticate(handle, m_servers.user(), m_servers.password(), 0), 12);
        QString s, d, f, h, b;
        for (const int n : {1, 2, 5, 3, 9, 10}) {
            QCOMPARE(lib.pop3GetMail(handle, n, &s, &d, &f, &h, &b), 0);
            QCOMPARE(s, u"会議 %1"_s.arg(n));
        }
        QCOMPARE(lib.pop3DeleteMail(handle, 11), 0); // read ahead, deleted unasked
        QCOMPARE(lib.pop3GetMail(handle, 12, &s, &d, &f, &h, &b), 0);
        QCOMPARE(s, u"会議 12"_s);
        QCOMPARE(lib.pop3Close(handle), 0);
        QCOMPARE(m_servers.mailboxMessages().size(), 11);
    }

    void abortKeepsEveryMessage()
    {
        startServers();
        for (int i = 1; i <= 3; ++i)
            QVERIFY(m_servers.deliver(japaneseMail(i)));
        MailLib lib;
        const int handle = lib.pop3Connect(m_servers.pop3Server());
        QCOMPARE(lib.pop3Authenticate(handle, m_servers.user(), m_servers.password(), 0), 3);
        QString s, d, f, h, b;
        QCOMPARE(lib.pop3GetMail(handle, 1, &s, &d, &f, &h, &b), 0);
        QCOMPARE(lib.pop3DeleteMail(handle, 1), 0);
        QCOMPARE(lib.pop3Abort(handle), 0);
        QCOMPARE(m_servers.mailboxMessages().size(), 3);
        // The handle is gone.
        QVERIFY(lib.pop3Close(handle) < 0);
        QVERIFY(!lib.getMessage().isEmpty());
    }

    void failuresNameTheCause()
    {
        startServers();
        MailLib lib;
        const int handle = lib.pop3Connect(m_servers.pop3Server());
        QVERIFY(handle != -1);
        QVERIFY(lib.pop3Authenticate(handle, m_servers.user(), u"wrong"_s, 0) < 0);
        QVERIFY2(lib.getMessage().contains(m_servers.pop3Server()), qPrintable(lib.getMessage()));
        QVERIFY2(lib.getMessage().contains(u"-ERR"_s), qPrintable(lib.getMessage()));
        QCOMPARE(lib.pop3Close(handle), 0);

        const QString nowhere = u"127.0.0.1:%1"_s.arg(freeLocalPort());
        QCOMPARE(lib.pop3Connect(nowhere), -1);
        QVERIFY2(lib.getMessage().contains(nowhere), qPrintable(lib.getMessage()));
    }

    void silentServerTimesOut()
    {
        ScriptedServer silent;
        QVERIFY(silent.start());
        MailLib lib;
        lib.setTimeouts(800, 800);
        QElapsedTimer t;
        t.start();
        QCOMPARE(lib.pop3Connect(silent.server()), -1);
        QVERIFY(t.elapsed() < 5000);
        QVERIFY2(lib.getMessage().contains(u"応答がありません"_s), qPrintable(lib.getMessage()));
    }

    // A server without PIPELINING (nor CAPA): one command at a time, the
    // header by TOP, and each DELE answered before the next command.
    void serverWithoutPipelining()
    {
        ScriptedServer old;
        old.send("+OK ready\r\n")
            .expectLine().send("-ERR what?\r\n")
            .expectLine().send("+OK\r\n")
            .expectLine().send("+OK\r\n")
            .expectLine().send("-ERR what?\r\n")
            .expectLine().send("+OK 1 34\r\n")
            .expectLine().send("+OK\r\nSubject: old\r\n\r\n.\r\n")
            .expectLine().send("+OK 1 34\r\n")
            .expectLine().send("+OK\r\nSubject: old\r\n\r\n..dot\r\n.\r\n")
            .expectLine().send("+OK\r\n")
            .expectLine().send("+OK bye\r\n").close();
        QVERIFY(old.start());
        MailLib lib;
        lib.setTimeouts(2000, 2000);
        const int handle = lib.pop3Connect(old.server());
        QVERIFY2(handle != -1, qPrintable(lib.getMessage()));
        QCOMPARE(lib.pop3Authenticate(handle, u"alice"_s, u"secret"_s, 0), 1);
        QString subject, date, from, header, body;
        QCOMPARE(lib.pop3GetMailStatus(handle, 1, &subject, &date, &from, &header), 0);
        QCOMPARE(subject, u"old"_s);
        QCOMPARE(lib.pop3GetMailSize(handle, 1), 34);
        QCOMPARE(lib.pop3GetMail(handle, 1, &subject, &date, &from, &header, &body), 0);
        QCOMPARE(normalised(body), u".dot"_s);
        QCOMPARE(lib.pop3DeleteMail(handle, 1), 0);
        QCOMPARE(lib.pop3Close(handle), 0);
        QCOMPARE(old.received(), (QList<QByteArray>{"CAPA", "USER alice", "PASS secret", "CAPA", "STAT", "TOP 1 0",
                                                    "LIST 1", "RETR 1", "DELE 1", "QUIT"}));
    }

    void sendsShareOneConnectionAndEmptyRecipientFails()
    {
        startServers();
        MailLib lib;
        QString server = m_servers.smtpServer();
        QVERIFY(lib.smtpSendMail(server, QString(), {}, {}, m_servers.address(), u"件名"_s, u"本文"_s, {}, {}, 0) < 0);
        QVERIFY(!lib.getMessage().isEmpty());
        QVERIFY(m_servers.smtpLog().isEmpty());
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(lib.smtpSendMail(server, u"bob%1@example.jp"_s.arg(i), {}, {}, m_servers.address(),
                                      u"件名"_s, u"本文"_s, {}, {}, 0), 0);
        }
        QCOMPARE(server, m_servers.smtpServer());
        QCOMPARE(m_servers.mailboxMessages().size(), 3);
        QCOMPARE(m_servers.smtpConnectionCount(), 1);

        // A quoted local part goes; a line break anywhere in the recipient does not.
        QCOMPARE(lib.smtpSendMail(server, u"ボブ<\"bob smith\"@example.jp>"_s, {}, {}, m_servers.address(),
                                  u"件名"_s, u"本文"_s, {}, {}, 0), 0);
        QVERIFY(m_servers.smtpLog().last().contains(u"DATA"_s));
        QVERIFY(m_servers.smtpLog().filter(u"RCPT"_s).last().endsWith(u" \"bob smith\"@example.jp"_s));
        QVERIFY(lib.smtpSendMail(server, u"bob@example.jp\n<carol@example.jp>"_s, {}, {}, m_servers.address(),
                                 u"件名"_s, u"本文"_s, {}, {}, 0) < 0);
        QVERIFY2(lib.getMessage().contains(u"改行"_s), qPrintable(lib.getMessage()));
        QCOMPARE(m_servers.mailboxMessages().size(), 4);
    }

    // Send a Japanese mail with two attachments, read the sent bytes with
    // Python's email package, then receive it over POP3 through MailLib.
    void roundTrip()
    {
        startServers();
        QTemporaryDir files;
        QVERIFY(files.isValid());
        const QString name1 = u"会議資料①.txt"_s;
        const QString name2 = u"写真 2026.bin"_s;
        QByteArray bytes1 = u"議事録\r\n～ここまで～\r\n"_s.toUtf8();
        QByteArray bytes2(3000, Qt::Uninitialized);
        for (int i = 0; i < bytes2.size(); ++i)
            bytes2[i] = char(QRandomGenerator::global()->bounded(256));
        const QString path1 = files.filePath(name1), path2 = files.filePath(name2);
        for (const auto &[path, data] : {std::pair{path1, bytes1}, std::pair{path2, bytes2}}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(data);
        }
        const QString subject = u"打ち合わせの件（12月7日）"_s;
        const QString body = u"山田様\r\n\r\nお世話になっております。\r\n資料を添付します。\r\n.\r\n以上"_s;

        MailLib lib;
        QString server = m_servers.smtpServer();
        QCOMPARE(lib.smtpSendMail(server, u"山田 太郎<bob@example.jp>"_s, {}, {}, m_servers.address(), subject, body,
                                  {}, path1 + u',' + path2, 0), 0);
        const QList<QByteArray> box = m_servers.mailboxMessages();
        QCOMPARE(box.size(), 1);
        QVERIFY(m_servers.smtpLog().contains(u"RCPT "_s + m_servers.smtpLog().first().section(u' ', 1, 1)
                                             + u" bob@example.jp"_s));

        // Python's reading of the sent bytes.
        const QString sent = files.filePath(u"sent.eml"_s);
        {
            QFile f(sent);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(box.first());
        }
        QProcess py;
        py.start(u"/usr/bin/python3"_s, {u"-c"_s, uR"(
import email, email.policy, json, sys
m = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=email.policy.default)
b = m.get_body(preferencelist=('plain',))
print(json.dumps({'subject': str(m['subject']), 'body': b.get_content() if b else None,
                  'files': [p.get_filename() for p in m.iter_attachments()],
                  'to': str(m['to'])}))
)"_s, sent});
        QVERIFY(py.waitForFinished(30000));
        const QByteArray out = py.readAllStandardOutput();
        const QJsonObject parsed = QJsonDocument::fromJson(out).object();
        QVERIFY2(!parsed.isEmpty(), out + py.readAllStandardError());
        QCOMPARE(parsed[u"subject"_s].toString(), subject);
        QCOMPARE(normalised(parsed[u"body"_s].toString()), normalised(body));
        QCOMPARE(parsed[u"files"_s].toArray().toVariantList(), (QVariantList{name1, name2}));
        QVERIFY2(parsed[u"to"_s].toString().contains(u"bob@example.jp"_s), qPrintable(parsed[u"to"_s].toString()));

        // Hollin's own reading, over POP3.
        const int handle = lib.pop3Connect(m_servers.pop3Server());
        QCOMPARE(lib.pop3Authenticate(handle, m_servers.user(), m_servers.password(), 0), 1);
        QString s, d, f, h, b;
        QCOMPARE(lib.pop3GetMail(handle, 1, &s, &d, &f, &h, &b), 0);
        QCOMPARE(s, subject);
        QCOMPARE(normalised(b), normalised(body));
        QCOMPARE(f, m_servers.address());
        QTemporaryDir folder;
        QCOMPARE(lib.attachmentFileFirst(s, d, f, h, b, folder.path() + u'/', folder.filePath(u"0.txt"_s), QString()), 1);
        lib.attachmentFileClose();
        QCOMPARE(lib.lastAttachmentFiles(), (QStringList{name1, name2}));
        for (const auto &[name, data] : {std::pair{name1, bytes1}, std::pair{name2, bytes2}}) {
            QFile file(folder.filePath(name));
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(name));
            QCOMPARE(file.readAll(), data);
        }
        QCOMPARE(lib.pop3DeleteMail(handle, 1), 0);
        QCOMPARE(lib.pop3Close(handle), 0);
        QVERIFY(m_servers.mailboxMessages().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestMailLib)
#include "tst_maillib.moc"
