#include "TestMailServers.h"
#include "app/AppWindows.h"
#include "reply/BackForm.h"
#include "storage/AppState.h"
#include "storage/SentMailFile.h"
#include "winutil/Prompt.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <memory>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

// Subject and text body of a raw message as Python's email package reads it.
QJsonObject parsed(const QByteArray &raw)
{
    QProcess python;
    python.start(u"/usr/bin/python3"_s, {u"-c"_s, uR"(
import email, email.policy, json, sys
m = email.message_from_bytes(sys.stdin.buffer.read(), policy=email.policy.default)
part = m.get_body(preferencelist=('plain',))
sys.stdout.buffer.write(json.dumps({'subject': str(m['subject']), 'to': str(m['to']),
                                    'body': part.get_content() if part else ''}).encode())
)"_s});
    python.write(raw);
    python.closeWriteChannel();
    python.waitForFinished(30000);
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

} // namespace

class TestReplySend : public QObject {
    Q_OBJECT

    TestMailServers m_servers;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<AppWindows> m_windows;

    BackForm *form() { return m_windows->backForm(); }
    void send() { QTest::mouseClick(form()->findChild<QPushButton *>(u"Command2"_s), Qt::LeftButton); }

private slots:
    void initTestCase()
    {
        TestMailServers::Options options;
        options.pop3 = false;
        options.refusedRecipients = {u"nobody@example.jp"_s};
        QString error;
        QVERIFY2(m_servers.start(options, &error), qPrintable(error));
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_state = std::make_unique<AppState>();
        m_state->root = DataRoot(m_dir->path());
        QVERIFY(m_state->root.ensureTree());
        m_state->smtpServer = m_servers.smtpServer();
        m_state->mailAddress = m_servers.address();
        m_windows = std::make_unique<AppWindows>(*m_state);
        Prompt::beginScript();
        Prompt::clearShown();
    }
    void cleanup()
    {
        Prompt::endScript();
        m_windows.reset();
        m_state.reset();
        m_dir.reset();
    }

    void replyArrivesInJapanese()
    {
        const qsizetype before = m_servers.mailboxMessages().size();
        form()->replyTo(u" 会議の件 "_s, u" bob@example.jp "_s, u"明日は①番会議室です。"_s);
        form()->bodyText()->setPlainText(u"了解しました。～よろしく～\n"_s + form()->bodyText()->toPlainText());
        send();
        QTRY_VERIFY_WITH_TIMEOUT(!m_windows->isLoaded("BackForm"), 30000);
        QVERIFY(Prompt::shown().isEmpty());

        const QList<QByteArray> mails = m_servers.mailboxMessages();
        QCOMPARE(mails.size(), before + 1);
        const QJsonObject mail = parsed(mails.last());
        QCOMPARE(mail.value(u"subject"_s).toString(), u"Re:  会議の件"_s);
        QCOMPARE(mail.value(u"to"_s).toString(), u"bob@example.jp"_s);
        const QString body = mail.value(u"body"_s).toString();
        QVERIFY2(body.contains(u"了解しました。"_s), qPrintable(body));
        QVERIFY2(body.contains(u"①番会議室"_s), qPrintable(body));
    }

    // The reply threads to the mail answered, and the copy the server took is kept as sent.
    void replyThreadsAndIsKept()
    {
        form()->replyTo(u"会議"_s, u"bob@example.jp"_s, u"本文"_s,
                        {u"<c@example.jp>"_s, u"<a@example.jp> <b@example.jp>"_s});
        send();
        QTRY_VERIFY_WITH_TIMEOUT(!m_windows->isLoaded("BackForm"), 30000);
        const QByteArray mail = m_servers.mailboxMessages().last(); // stored with LF line ends
        QVERIFY2(mail.contains("\nIn-Reply-To: <c@example.jp>\n"), mail.constData());
        QVERIFY2(mail.contains("\nReferences: <a@example.jp>\n <b@example.jp>\n <c@example.jp>\n"), mail.constData());
        SentMailFile kept(SentMailFile::pathIn(m_state->root.dataFolder()));
        QList<SentMailFile::Entry> entries;
        QByteArray copy;
        QVERIFY(kept.list(&entries, nullptr));
        QCOMPARE(entries.size(), 1);
        QVERIFY(kept.read(entries.first(), &copy, nullptr));
        QVERIFY2(mail.endsWith(copy.replace("\r\n", "\n")), copy.constData());
    }

    // A copy that cannot be kept is told; the reply went out all the same.
    void copyNotKeptIsTold()
    {
        QVERIFY(QDir().mkpath(SentMailFile::pathIn(m_state->root.dataFolder()))); // a folder where the file belongs
        const qsizetype before = m_servers.mailboxMessages().size();
        form()->replyTo(u"件名"_s, u"bob@example.jp"_s, u"本文"_s);
        send();
        QTRY_VERIFY_WITH_TIMEOUT(!m_windows->isLoaded("BackForm"), 30000);
        QCOMPARE(m_servers.mailboxMessages().size(), before + 1);
        QCOMPARE(Prompt::shown().size(), 1);
        QVERIFY2(Prompt::shown().first().text.startsWith(u"送信しましたが、送信済みメールの控えを保存できませんでした（1 件）。"_s),
                 qPrintable(Prompt::shown().first().text));
    }

    void failingReplyKeepsWindow()
    {
        const qsizetype before = m_servers.mailboxMessages().size();
        form()->replyTo(u"件名"_s, u"nobody@example.jp"_s, u"本文"_s);
        send();
        QTRY_VERIFY_WITH_TIMEOUT(!Prompt::shown().isEmpty(), 30000);
        QCOMPARE(Prompt::shown().first().title, u"送信エラー"_s);
        QVERIFY2(Prompt::shown().first().text.contains(u"550"_s), qPrintable(Prompt::shown().first().text));
        QVERIFY(m_windows->isLoaded("BackForm"));
        QVERIFY(form()->isVisible());
        QVERIFY(form()->isEnabled());
        QCOMPARE(form()->findChild<QLineEdit *>(u"SubjectText"_s)->text(), u"Re:  件名"_s);
        QCOMPARE(form()->bodyText()->toPlainText(), u"本文"_s);
        QCOMPARE(m_servers.mailboxMessages().size(), before);
        QList<SentMailFile::Entry> entries; // nobody got it: nothing kept
        QVERIFY(SentMailFile(SentMailFile::pathIn(m_state->root.dataFolder())).list(&entries, nullptr));
        QVERIFY(entries.isEmpty());
    }

    void refusedOneOfTwoStaysInTheBox()
    {
        const qsizetype before = m_servers.mailboxMessages().size();
        form()->replyTo(u"件名"_s, u"bob@example.jp、ボブ<nobody@example.jp>"_s, u"本文"_s);
        send();
        QTRY_VERIFY_WITH_TIMEOUT(!Prompt::shown().isEmpty(), 30000);
        QVERIFY2(Prompt::shown().first().text.contains(u"nobody@example.jp（550"_s), qPrintable(Prompt::shown().first().text));
        QCOMPARE(m_servers.mailboxMessages().size(), before + 1);
        QVERIFY(form()->isVisible());
        QCOMPARE(form()->findChild<QLineEdit *>(u"ToText"_s)->text(), u"ボブ<nobody@example.jp>"_s);
    }
};

QTEST_MAIN(TestReplySend)
#include "tst_reply_send.moc"
