#include "inbox/MsgForm.h"
#include "inbox/ReceiveController.h"
#include "inbox/TyakuForm.h"
#include "app/AppWindows.h"
#include "panel/FloatingForm.h"
#include "panel/MainForm.h"
#include "settings/IdPassForm.h"
#include "storage/AppState.h"
#include "storage/MailRecordFile.h"
#include "storage/ProfileFile.h"
#include "winutil/AppContext.h"
#include "winutil/Prompt.h"

#include "TestMailServers.h"
#include "transport/PlainLoginConsent.h"

#include <QCheckBox>
#include <QPushButton>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTableView>
#include <QTest>
#include <QTextEdit>

#include <memory>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

QByteArray mail(const QByteArray &subject, const QByteArray &extraHeader = {}, const QByteArray &body = "text\r\n")
{
    return "From: sender@example.jp\r\nTo: alice@example.jp\r\nSubject: " + subject
           + "\r\nDate: Mon, 7 Dec 2026 09:00:00 +0900\r\n" + extraHeader + "\r\n" + body;
}

} // namespace

// The receive as the receive button runs it, against a real POP3 server.
class TestReceiveController : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestMailServers> m_servers;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<AppWindows> m_windows;

    void setNotice(const char *show, const char *autoErase)
    {
        ProfileFile ini(m_state->root.iniFile());
        QVERIFY(ini.writeText(u"NUMBER5"_s, QString::fromLatin1(show)));
        QVERIFY(ini.writeText(u"NUMBER4"_s, QString::fromLatin1(autoErase)));
    }
    void setPassword(const QString &password)
    {
        ProfileFile account(m_state->root.idPassIniFile(), true);
        QVERIFY(account.writeText(u"NAME"_s, m_servers->user()));
        QVERIFY(account.writeText(u"NAME2"_s, password));
    }
    void receive()
    {
        ReceiveController controller(AppContext{*m_state, *m_windows});
        QSignalSpy finished(&controller, &ReceiveController::finished);
        controller.start();
        QVERIFY(finished.wait(60000));
        // Shown again, unless the inbox is open: they would cover it.
        QWidget *inbox = m_windows->loaded("TyakuForm");
        const bool inboxOpen = inbox && inbox->isVisible();
        for (int n = 1; n <= 5; ++n)
            QCOMPARE(m_windows->floatingForm(n)->isVisible(), !inboxOpen);
    }
    // The panel (its start-up reads the absent server settings) with
    // "新着メール有りで、メールを見るを自動表示" ticked or not.
    void showPanel(bool opensInbox)
    {
        m_windows->mainForm()->show();
        m_state->pop3Server = m_servers->pop3Server();
        QVERIFY(PlainLoginConsent(m_state->root.iniFile()).give(m_state->pop3Server, nullptr)); // a plain test server
        m_windows->mainForm()->findChild<QCheckBox *>(u"Check2"_s)->setChecked(opensInbox);
    }
    int records() const
    {
        return MailRecordFile(m_state->root.receivedMailFile(), m_state->root.receivedMailTemp()).count();
    }
    QString boardCount()
    {
        auto *board = qobject_cast<MsgForm *>(m_windows->loaded("MsgForm"));
        return board && board->isVisible() ? board->text2()->text() : QString();
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_servers = std::make_unique<TestMailServers>();
        TestMailServers::Options options;
        options.smtp = false;
        QString error;
        QVERIFY2(m_servers->start(options, &error), qPrintable(error));
        m_state = std::make_unique<AppState>();
        m_state->root = DataRoot(m_dir->path());
        QVERIFY(m_state->root.ensureTree());
        m_state->pop3Server = m_servers->pop3Server();
        QVERIFY(PlainLoginConsent(m_state->root.iniFile()).give(m_state->pop3Server, nullptr)); // a plain test server
        setPassword(m_servers->password());
        setNotice("1", "0");
        m_windows = std::make_unique<AppWindows>(*m_state);
        Prompt::beginScript();
        Prompt::clearShown();
    }
    void cleanup()
    {
        m_windows.reset();
        m_servers.reset();
        Prompt::endScript();
    }

    void threeMessagesFillTheInboxAndTheBoard()
    {
        showPanel(true);
        for (const QByteArray s : {"first", "second", "third"})
            QVERIFY(m_servers->deliver(mail(s)));
        receive();
        QCOMPARE(records(), 3);
        QCOMPARE(m_servers->mailboxMessages().size(), 0);
        auto *inbox = m_windows->tyakuForm();
        QVERIFY(inbox->isVisible());
        QCOMPARE(inbox->findChild<QLineEdit *>(u"Text7"_s)->text(), u"third"_s);
        QCOMPARE(inbox->rtfEd()->toPlainText(), u"text\n"_s); // only spaces are trimmed
        QCOMPARE(boardCount(), u"3"_s);
        QCOMPARE(m_windows->msgForm()->windowTitle(), u"新着お知らせボード"_s);
        QCOMPARE(m_windows->msgForm()->text1()->text(), u"新着メールがあります。"_s);
        QCOMPARE(m_state->accountId, m_servers->user());
        QVERIFY(Prompt::shown().isEmpty());
    }

    // The inbox is loaded by the first mail while the rest are still being
    // stored; when the receive ends its list and both counts show them all.
    void manyMessagesAreAllListedAtTheEnd()
    {
        constexpr int count = 300;
        for (int i = 0; i < count; ++i)
            QVERIFY(m_servers->deliver(mail("mail " + QByteArray::number(i))));
        showPanel(true);
        receive();
        QCOMPARE(records(), count);
        TyakuForm *inbox = m_windows->tyakuForm();
        QCOMPARE(inbox->findChild<QTableView *>(u"MailListView"_s)->model()->rowCount(), count);
        QCOMPARE(inbox->findChild<QLineEdit *>(u"Text2"_s)->text(), QString::number(count));
        QCOMPARE(m_windows->mainForm()->findChild<QLineEdit *>(u"Text4"_s)->text(), QString::number(count));
    }

    // Stored mail opens the inbox only when the panel asks for it; an open
    // inbox shows it either way. Both counts come from the file.
    void newMailOpensTheInboxWhenAsked_data()
    {
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<bool>("openBefore");
        QTest::newRow("ticked") << true << false;
        QTest::newRow("not ticked") << false << false;
        QTest::newRow("not ticked, inbox open") << false << true;
    }
    void newMailOpensTheInboxWhenAsked()
    {
        QFETCH(bool, ticked);
        QFETCH(bool, openBefore);
        showPanel(ticked);
        if (openBefore)
            m_windows->tyakuForm()->fillAndShow();
        for (const QByteArray s : {"first", "second"})
            QVERIFY(m_servers->deliver(mail(s)));
        receive();
        const bool opened = ticked || openBefore;
        QCOMPARE(m_windows->isLoaded("TyakuForm") && m_windows->tyakuForm()->isVisible(), opened);
        if (opened)
            QCOMPARE(m_windows->tyakuForm()->findChild<QLineEdit *>(u"Text7"_s)->text(), u"second"_s);
        QCOMPARE(m_windows->mainForm()->findChild<QLineEdit *>(u"Text4"_s)->text(), u"2"_s);
        QCOMPARE(m_windows->mainForm()->findChild<QLineEdit *>(u"Text6"_s)->text(), u"2"_s);
    }

    // A large receive shows its latest mail a few times a second, not every mail.
    void progressIsCoalesced()
    {
        constexpr int count = 60;
        for (int i = 0; i < count; ++i)
            QVERIFY(m_servers->deliver(mail("mail " + QByteArray::number(i))));
        showPanel(true);
        m_windows->tyakuForm()->fillAndShow();
        QSignalSpy shown(m_windows->tyakuForm()->findChild<QLineEdit *>(u"Text7"_s), &QLineEdit::textChanged);
        receive();
        QCOMPARE(records(), count);
        QVERIFY2(shown.size() < count / 4, qPrintable(QString::number(shown.size())));
        QCOMPARE(m_windows->tyakuForm()->findChild<QLineEdit *>(u"Text7"_s)->text(), u"mail 59"_s);
    }

    void noticeBoardOptions_data()
    {
        QTest::addColumn<QByteArray>("show");
        QTest::addColumn<QByteArray>("autoErase");
        QTest::addColumn<bool>("boardStays");
        QTest::newRow("board stays") << QByteArray("1") << QByteArray("0") << true;
        QTest::newRow("erased after a second") << QByteArray("1") << QByteArray("1") << false;
        QTest::newRow("no board") << QByteArray("") << QByteArray("0") << false;
    }
    void noticeBoardOptions()
    {
        QFETCH(QByteArray, show);
        QFETCH(QByteArray, autoErase);
        QFETCH(bool, boardStays);
        setNotice(show.constData(), autoErase.constData());
        QVERIFY(m_servers->deliver(mail("one")));
        receive();
        QCOMPARE(records(), 1);
        QCOMPARE(boardCount(), boardStays ? u"1"_s : QString());
    }

    void emptyMailboxShowsNothing()
    {
        receive();
        QCOMPARE(records(), 0);
        QVERIFY(!m_windows->isLoaded("MsgForm"));
        QVERIFY(!m_windows->isLoaded("TyakuForm"));
        QVERIFY(Prompt::shown().isEmpty());
    }

    // A server without STLS: the password would go in clear. Asked once per
    // server before the login; "no" logs in nowhere, "yes" is remembered.
    void plainLoginAskedOnce()
    {
        QVERIFY(ProfileFile(m_state->root.iniFile()).writeText(u"PLAINLOGIN"_s, {})); // not agreed yet
        QVERIFY(m_servers->deliver(mail("one", "", "body\r\n")));
        // An automatic receive asks nothing (the user may be typing elsewhere): it only tells.
        QString shownFailure;
        QSet<QString> shownNotices;
        ReceiveController automatic(AppContext{*m_state, *m_windows});
        QSignalSpy finished(&automatic, &ReceiveController::finished);
        automatic.startAutomatic(&shownFailure, &shownNotices);
        QVERIFY(finished.wait(20000));
        QCOMPARE(Prompt::shown().size(), 1);
        QCOMPARE(Prompt::shown().first().kind, Prompt::Kind::Message);
        QCOMPARE(records(), 0);

        Prompt::clearShown();
        Prompt::queueAnswer(Prompt::Answer::No);
        receive();
        QVERIFY2(Prompt::shownTexts().value(0).contains(u"パスワードが暗号化されずに送られます"_s),
                 qPrintable(Prompt::shownTexts().join(u'\n')));
        QCOMPARE(records(), 0);
        QCOMPARE(m_servers->mailboxMessages().size(), 1);
        QVERIFY(!PlainLoginConsent(m_state->root.iniFile()).isGiven(m_state->pop3Server));

        Prompt::clearShown();
        Prompt::queueAnswer(Prompt::Answer::Yes);
        receive();
        QCOMPARE(records(), 1);
        QCOMPARE(ProfileFile(m_state->root.iniFile()).readText(u"PLAINLOGIN"_s), m_state->pop3Server);

        Prompt::clearShown();
        QVERIFY(m_servers->deliver(mail("two", "", "body\r\n")));
        receive();
        QCOMPARE(records(), 2);
        QVERIFY2(Prompt::shownTexts().filter(u"暗号化されずに"_s).isEmpty(), qPrintable(Prompt::shownTexts().join(u'\n')));
    }

    void incompleteSplitMessageAsksAndIsStored()
    {
        QVERIFY(m_servers->deliver(mail("part", "MIME-Version: 1.0\r\nContent-Type: message/partial; id=\"p@x\"; number=2; total=3\r\n",
                                        "tail of the message\r\n")));
        receive();
        QCOMPARE(Prompt::shownTexts(), QStringList{u"分割されたメールが全て揃っていません"_s});
        QCOMPARE(records(), 1);
        QCOMPARE(m_servers->mailboxMessages().size(), 0);
    }

    // The receive button pressed during an automatic receive shows its
    // progress box; a notice the session raises then is open over it while
    // the session ends, which closes the progress box.
    void noticeOpenWhileTheReceiveEnds()
    {
        QVERIFY(m_servers->deliver(mail("part", "MIME-Version: 1.0\r\nContent-Type: message/partial; id=\"p@x\"; number=2; total=3\r\n",
                                        "tail of the message\r\n")));
        QString shownFailure;
        QSet<QString> shownNotices;
        ReceiveController automatic(AppContext{*m_state, *m_windows});
        QSignalSpy finished(&automatic, &ReceiveController::finished);
        Prompt::queueWhileOpen([this] {
            QTRY_COMPARE_WITH_TIMEOUT(records(), 1, 20000);
            QTest::qWait(300); // the session's end is handled meanwhile
        });
        automatic.startAutomatic(&shownFailure, &shownNotices);
        ReceiveController button(AppContext{*m_state, *m_windows});
        button.start();
        QVERIFY(finished.wait(20000));
        QCOMPARE(Prompt::shownTexts(), QStringList{u"分割されたメールが全て揃っていません"_s});
        QCOMPARE(m_servers->mailboxMessages().size(), 0);
    }

    void missingPasswordOpensTheAccountDialog()
    {
        setPassword(QString());
        QVERIFY(m_servers->deliver(mail("waiting")));
        receive();
        auto *dialog = qobject_cast<IdPassForm *>(m_windows->loaded("IdPassForm"));
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->idText(), m_servers->user());
        QVERIFY(dialog->passText().isEmpty());
        // Ticked, so OK stores the account and the next receive does not ask again.
        QVERIFY(dialog->findChild<QCheckBox *>(u"Check1"_s)->isChecked());
        QCOMPARE(records(), 0);
        QCOMPARE(m_servers->mailboxMessages().size(), 1);
        QVERIFY(Prompt::shown().isEmpty());

        // Not saved (a shared computer): the receive goes on with what was
        // typed, the file never gets it, and the next receive does not ask.
        dialog->findChild<QCheckBox *>(u"Check1"_s)->setChecked(false);
        dialog->findChild<QLineEdit *>(u"PassText"_s)->setText(m_servers->password());
        dialog->findChild<QPushButton *>(u"OKCommand"_s)->click();
        QTRY_COMPARE_WITH_TIMEOUT(records(), 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!ReceiveController::isRunning(), 20000);
        QVERIFY(ProfileFile(m_state->root.idPassIniFile()).readText(u"NAME2"_s).isEmpty());
        QVERIFY(m_servers->deliver(mail("second")));
        receive();
        QCOMPARE(records(), 2);
        QVERIFY(Prompt::shown().isEmpty());
    }

    void wrongPasswordShowsTheErrorBox()
    {
        setPassword(u"wrong"_s);
        QVERIFY(m_servers->deliver(mail("waiting")));
        receive();
        QCOMPARE(Prompt::shown().size(), 1);
        QCOMPARE(Prompt::shown().first().title, u"エラー"_s);
        QVERIFY(!Prompt::shown().first().text.isEmpty());
        QCOMPARE(m_servers->mailboxMessages().size(), 1);
        QVERIFY(!m_windows->isLoaded("MsgForm"));
    }

    void fullRecordFileIsReported()
    {
        QFile file(m_state->root.receivedMailFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(MailRecordFile::MaxRecords) * MailRecordFile::RecordSize));
        file.close();
        QVERIFY(m_servers->deliver(mail("no room")));
        receive();
        QCOMPARE(Prompt::shown().size(), 1);
        QVERIFY(Prompt::shownTexts().first().contains(u"32767"_s));
        QCOMPARE(m_servers->mailboxMessages().size(), 1);
        QVERIFY(!m_windows->isLoaded("MsgForm"));
    }
};

QTEST_MAIN(TestReceiveController)
#include "tst_receivecontroller.moc"
