// The whole road on real servers, through the program's own windows: set the
// servers and the account, write and send a Japanese mail with an attachment,
// receive it, read it, register its sender, answer it, receive the answer,
// delete one mail and then all. The slots are the steps, run in order on one
// running program; once a step fails, the later ones are skipped.

#include "AppWindows.h"
#include "TestMailServers.h"
#include "transport/PlainLoginConsent.h"

#include "compose/WriteForm.h"
#include "inbox/ReceiveController.h"
#include "panel/MainForm.h"
#include "storage/AddressBookFile.h"
#include "storage/AppState.h"
#include "storage/MailRecordFile.h"
#include "winutil/Prompt.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidget>
#include <memory>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

constexpr int NetworkTimeout = 120000; // ms; the machine running the suite may be very busy

// A control of a window, or a failed check naming what is missing.
#define CONTROL(var, Type, window, name)                                                      \
    Type *var = (window) ? (window)->findChild<Type *>(QStringLiteral(name)) : nullptr;     \
    QVERIFY2(var, "no control " name " in " #window)

// Nothing went wrong where the user would have been told.
#define NO_BOXES_SHOWN() QVERIFY2(boxesShown().isEmpty(), qPrintable(boxesShown()))

// A helper that checks as it goes; the step ends at its first failed check.
#define STEP(call)                                                                             \
    do {                                                                                       \
        call;                                                                                  \
        if (QTest::currentTestFailed())                                                        \
            return;                                                                            \
    } while (false)

// Text as a Japanese input method hands it over: one committed string.
void commitText(QWidget *target, const QString &text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(target, &event);
}

// Several lines typed into an editor, Return between them.
void typeLines(QTextEdit *editor, const QStringList &lines)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            QTest::keyClick(editor, Qt::Key_Return);
        commitText(editor, lines.at(i));
    }
}

QString withoutTrailingLineEnds(QString text)
{
    text.replace(u"\r\n"_s, u"\n"_s);
    while (text.endsWith(u'\n'))
        text.chop(1);
    return text;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private:
    TestMailServers m_servers;
    QTemporaryDir m_root;   // the program's data root
    QTemporaryDir m_files;  // the user's own files (the attachment)
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<AppWindows> m_windows;
    bool m_broken = false;

    const QString m_subject = u"【見積】第２期 資料送付の件"_s;
    const QStringList m_bodyLines = {u"山田様"_s, u"いつもお世話になっております。"_s,
                                     u"①見積書を添付いたしますので、ご確認ください。"_s};
    const QString m_senderName = u"山田 花子"_s;
    const QString m_replyLine = u"拝受しました。ありがとうございます。"_s;
    const QString m_attachmentName = u"見積書.bin"_s;
    QString m_attachmentPath;
    QByteArray m_attachmentBytes;
    QString m_receivedBody; // the first mail's body as the inbox shows it

    QWidget *window(const char *className) const { return m_windows->loaded(className); }
    bool isShown(const char *className) const
    {
        const QWidget *w = window(className);
        return w && w->isVisible();
    }
    bool floatingWindowsShown() const
    {
        for (const char *name : {"Form1", "Form2", "Form3", "Form4", "Form5"}) {
            if (!isShown(name))
                return false;
        }
        return true;
    }
    bool floatingWindowsHidden() const
    {
        for (const char *name : {"Form1", "Form2", "Form3", "Form4", "Form5"}) {
            if (isShown(name))
                return false;
        }
        return true;
    }
    QString expectedBody() const { return m_bodyLines.join(u'\n'); }
    // Every message box and question shown since the step began ("title: text");
    // file dialogs are left out.
    static QString boxesShown()
    {
        QStringList boxes;
        for (const Prompt::Shown &s : Prompt::shown()) {
            if (s.kind != Prompt::Kind::OpenFile && s.kind != Prompt::Kind::SaveFile)
                boxes << s.title + u": "_s + s.text;
        }
        return boxes.join(u" | "_s);
    }
    int receivedRecords() const
    {
        const DataRoot &root = m_state->root;
        return MailRecordFile(root.receivedMailFile(), root.receivedMailTemp()).count();
    }

    // Clicks a floating window's button (Form1 … Form5).
    void clickFloating(const char *form)
    {
        QTRY_VERIFY2(isShown(form), form);
        CONTROL(button, QPushButton, window(form), "Command1");
        QTest::mouseClick(button, Qt::LeftButton);
    }

    void clickRow(QAbstractItemView *view, int row)
    {
        QVERIFY(row < view->model()->rowCount());
        const QModelIndex index = view->model()->index(row, 0);
        view->scrollTo(index);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
    }

    // Form4's receive: runs on its own thread under a progress dialog; waits
    // until it has ended and the floating windows are back. The settings ask
    // for a notice board that stays: it tells the count and is closed here.
    void receive(int expectedNew)
    {
        STEP(clickFloating("Form4"));
        QTRY_VERIFY_WITH_TIMEOUT(!ReceiveController::isRunning(), NetworkTimeout);
        NO_BOXES_SHOWN();
        QTRY_VERIFY(floatingWindowsShown());

        CONTROL(newCount, QLineEdit, window("MainForm"), "Text6");
        QCOMPARE(newCount->text(), QString::number(expectedNew));
        QTRY_VERIFY(isShown("MsgForm"));
        QWidget *board = window("MsgForm");
        CONTROL(sentence, QLineEdit, board, "Text1");
        CONTROL(count, QLineEdit, board, "Text2");
        QCOMPARE(sentence->text(), u"新着メールがあります。"_s);
        QCOMPARE(count->text(), QString::number(expectedNew));
        board->close();
        QTRY_VERIFY(!window("MsgForm"));
    }

    // Form3's button: the inbox, its list refilled from the received-mail file.
    void openInbox(int expectedRows)
    {
        STEP(clickFloating("Form3"));
        QTRY_VERIFY(isShown("TyakuForm"));
        CONTROL(list, QAbstractItemView, window("TyakuForm"), "MailListView");
        CONTROL(count, QLineEdit, window("TyakuForm"), "Text2");
        QCOMPARE(list->model()->rowCount(), expectedRows);
        QCOMPARE(count->text(), QString::number(expectedRows));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QVERIFY(m_files.isValid());
        Prompt::beginScript();

        // Binary content: every byte value, NULs, lone CRs and LFs.
        for (int i = 0; i < 3000; ++i)
            m_attachmentBytes.append(char((i * 7 + 3) & 0xFF));
        m_attachmentBytes.append("\r\n.\r\n\n\r\0end", 12);
        m_attachmentPath = QDir(m_files.path()).filePath(m_attachmentName);
        QFile f(m_attachmentPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(m_attachmentBytes), m_attachmentBytes.size());
    }

    void cleanupTestCase()
    {
        m_windows.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_servers.stop();
        Prompt::endScript();
    }

    void init()
    {
        if (m_broken)
            QSKIP("an earlier step of the road failed");
        Prompt::clearShown();
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            m_broken = true;
    }

    // The program starts as main() starts it: the panel's load step shows the
    // five floating windows and counts no stored mail.
    void startUp()
    {
        QString error;
        QVERIFY2(m_servers.start({}, &error), qPrintable(error));

        m_state = std::make_unique<AppState>();
        m_state->root = DataRoot(m_root.path());
        QVERIFY(m_state->root.ensureTree());
        // The user said yes to plain logins on the test server (it has no STLS).
        QVERIFY(PlainLoginConsent(m_state->root.iniFile()).give(m_servers.pop3Server(), nullptr));
        m_windows = std::make_unique<AppWindows>(*m_state);
        MainForm *panel = m_windows->mainForm();
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel));

        QVERIFY(floatingWindowsShown());
        CONTROL(count, QLineEdit, panel, "Text4");
        QCOMPARE(count->text(), u"0"_s);
        NO_BOXES_SHOWN();
    }

    // Settings window → server dialog and account dialog, typed in and accepted.
    void setServersAndAccount()
    {
        STEP(clickFloating("Form1"));
        QTRY_VERIFY(isShown("SetForm"));
        QWidget *setForm = window("SetForm");

        CONTROL(serverButton, QPushButton, setForm, "Command2");
        QTest::mouseClick(serverButton, Qt::LeftButton);
        QTRY_VERIFY(isShown("OptionForm"));
        QWidget *option = window("OptionForm");
        CONTROL(smtp, QLineEdit, option, "SmtpText");
        CONTROL(pop3, QLineEdit, option, "Pop3Text");
        CONTROL(mail, QLineEdit, option, "MailText");
        CONTROL(apop, QCheckBox, option, "ApopCheck");
        CONTROL(set, QPushButton, option, "OkCommand");
        // A fresh data root has no server settings.
        QVERIFY(smtp->text().isEmpty() && pop3->text().isEmpty() && mail->text().isEmpty());
        QVERIFY(!apop->isChecked());
        QTest::keyClicks(smtp, m_servers.smtpServer());
        QTest::keyClicks(pop3, m_servers.pop3Server());
        QTest::keyClicks(mail, m_servers.address());
        QTest::mouseClick(set, Qt::LeftButton);
        QTRY_VERIFY(!isShown("OptionForm"));
        QCOMPARE(m_state->smtpServer, m_servers.smtpServer());
        QCOMPARE(m_state->pop3Server, m_servers.pop3Server());
        QCOMPARE(m_state->mailAddress, m_servers.address());
        QCOMPARE(m_state->apopFlag, qint16(0));
        // What the next start reads back.
        QCOMPARE(fileBytes(m_state->root.serverSettingsFile()),
                 (u"SMTP="_s + m_servers.smtpServer() + u"\r\nPOP3="_s + m_servers.pop3Server()
                  + u"\r\nMAIL="_s + m_servers.address() + u"\r\nAPOP=0\r\n"_s)
                     .toLatin1());

        // The receive reads the account from the file, so it is saved (Check1).
        CONTROL(accountButton, QPushButton, setForm, "Command1");
        QTest::mouseClick(accountButton, Qt::LeftButton);
        QTRY_VERIFY(isShown("IdPassForm"));
        QWidget *idPass = window("IdPassForm");
        CONTROL(id, QLineEdit, idPass, "IdText");
        CONTROL(pass, QLineEdit, idPass, "PassText");
        CONTROL(save, QCheckBox, idPass, "Check1");
        CONTROL(ok, QPushButton, idPass, "OKCommand");
        QTest::keyClicks(id, m_servers.user());
        QTest::keyClicks(pass, m_servers.password());
        QTest::mouseClick(save, Qt::LeftButton);
        QVERIFY(save->isChecked());
        QTest::mouseClick(ok, Qt::LeftButton);
        QTRY_VERIFY(!isShown("IdPassForm"));
        QCOMPARE(m_state->accountId, m_servers.user());
        QCOMPARE(m_state->accountPassword, m_servers.password());

        // The new-mail notice board is asked for, without erasing itself.
        CONTROL(notice, QRadioButton, setForm, "Option1");
        CONTROL(autoErase, QCheckBox, setForm, "Check2");
        QVERIFY(!notice->isChecked());
        QTest::mouseClick(notice, Qt::LeftButton);
        QVERIFY(notice->isChecked());
        QVERIFY(!autoErase->isChecked());

        // Closing the window keeps its choices for the receive, which loads it anew.
        setForm->close();
        QTRY_VERIFY(!window("SetForm"));
        QVERIFY(floatingWindowsShown());
        NO_BOXES_SHOWN();
    }

    // Form2 → WriteForm: recipient, Japanese subject and body typed through the
    // input method, one attachment picked in the file dialog, sent.
    void composeAndSend()
    {
        STEP(clickFloating("Form2"));
        QTRY_VERIFY(isShown("WriteForm"));
        QVERIFY(floatingWindowsHidden());
        auto *writeForm = qobject_cast<WriteForm *>(window("WriteForm"));
        QVERIFY(writeForm);
        CONTROL(to, QLineEdit, writeForm, "ToText");
        CONTROL(subject, QLineEdit, writeForm, "SubjectText");
        CONTROL(body, QTextEdit, writeForm, "rtfEd");
        CONTROL(attachText, QLineEdit, writeForm, "AttachText");
        CONTROL(attachButton, QPushButton, writeForm, "AttachCommand");
        CONTROL(attachNames, QListWidget, writeForm, "List2");
        CONTROL(status, QLabel, writeForm, "Label7");
        CONTROL(sendButton, QPushButton, writeForm, "Command1");

        QTest::keyClicks(to, m_servers.address());
        commitText(subject, m_subject);
        body->setFocus();
        typeLines(body, m_bodyLines);
        QCOMPARE(subject->text(), m_subject);
        QCOMPARE(body->toPlainText(), expectedBody());

        Prompt::queueFileName(m_attachmentPath);
        QTest::mouseClick(attachButton, Qt::LeftButton);
        QCOMPARE(attachText->text(), m_attachmentPath);
        QCOMPARE(attachNames->count(), 1);
        QCOMPARE(attachNames->item(0)->text(), m_attachmentName);

        bool finished = false;
        QString statusAtEnd;
        QPointer<QLabel> statusLabel = status;
        connect(writeForm, &WriteForm::sendFinished, this, [&] {
            finished = true;
            if (statusLabel)
                statusAtEnd = statusLabel->text();
        });
        QTest::mouseClick(sendButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(finished, NetworkTimeout);
        NO_BOXES_SHOWN();
        QCOMPARE(statusAtEnd, u"送信完了です。"_s);

        // A finished send closes the window and brings the floating windows back.
        QTRY_VERIFY(!window("WriteForm"));
        QVERIFY(floatingWindowsShown());
        const QList<QByteArray> delivered = m_servers.mailboxMessages();
        QCOMPARE(delivered.size(), 1);
        // Japanese travels encoded: the header block is plain ASCII.
        const QByteArray header = delivered.first().left(delivered.first().indexOf("\n\n"));
        QVERIFY(!header.isEmpty());
        for (const char c : header)
            QVERIFY2(uchar(c) < 0x80, header.constData());
    }

    // Form4 receives it; Form3's inbox lists it; a click shows it, and the
    // attachment lies in the attachment folder with the bytes that were sent.
    void receiveAndRead()
    {
        STEP(receive(1));
        QVERIFY(m_servers.mailboxMessages().isEmpty()); // deleted on the server
        QCOMPARE(receivedRecords(), 1);

        STEP(openInbox(1));
        QWidget *inbox = window("TyakuForm");
        QVERIFY(floatingWindowsHidden());
        CONTROL(list, QAbstractItemView, inbox, "MailListView");
        CONTROL(subject, QLineEdit, inbox, "Text7");
        CONTROL(sender, QLineEdit, inbox, "Text8");
        CONTROL(date, QLineEdit, inbox, "Text9");
        CONTROL(body, QTextEdit, inbox, "rtfEd");
        STEP(clickRow(list, 0));
        NO_BOXES_SHOWN();
        QCOMPARE(subject->text(), m_subject);
        QCOMPARE(sender->text(), m_servers.address());
        QVERIFY(!date->text().isEmpty());
        // The body as typed, then the line that tells where the attachment went.
        m_receivedBody = withoutTrailingLineEnds(body->toPlainText());
        QVERIFY2(m_receivedBody.startsWith(expectedBody()), qPrintable(m_receivedBody));
        QCOMPARE(m_receivedBody.mid(expectedBody().size()).trimmed(),
                 u"♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪"_s);

        const QString extracted = QDir(m_state->root.attachmentFolder()).filePath(m_attachmentName);
        QVERIFY2(QFile::exists(extracted),
                 qPrintable(QDir(m_state->root.attachmentFolder()).entryList(QDir::Files).join(u", "_s)));
        QCOMPARE(fileBytes(extracted), m_attachmentBytes);
    }

    // The inbox's "アドレス帳登録" opens the address book with the sender;
    // registering it with a name writes the entry.
    void registerSender()
    {
        QWidget *inbox = window("TyakuForm");
        QVERIFY(inbox && inbox->isVisible());
        CONTROL(list, QAbstractItemView, inbox, "MailListView");
        CONTROL(registerButton, QPushButton, inbox, "Command4");
        STEP(clickRow(list, 0));
        QTest::mouseClick(registerButton, Qt::LeftButton);
        QTRY_VERIFY(isShown("FriendForm"));
        QWidget *book = window("FriendForm");
        CONTROL(address, QLineEdit, book, "Text4");
        CONTROL(name, QLineEdit, book, "Text2");
        CONTROL(add, QPushButton, book, "Command3");
        CONTROL(entries, QTreeWidget, book, "MailListView");
        QCOMPARE(address->text(), m_servers.address());

        commitText(name, m_senderName);
        QCOMPARE(name->text(), m_senderName);
        QTest::mouseClick(add, Qt::LeftButton);
        NO_BOXES_SHOWN();
        QCOMPARE(entries->topLevelItemCount(), 1);

        const DataRoot &root = m_state->root;
        AddressBookFile file(root.addressBookFile(), root.addressBookTemp());
        QCOMPARE(file.count(), 1);
        AddressEntry entry;
        QVERIFY(file.read(1, &entry));
        QCOMPARE(entry.name.trimmed(), m_senderName);
        QCOMPARE(entry.address.trimmed(), m_servers.address());

        book->close();
        QTRY_VERIFY(!isShown("FriendForm"));
    }

    // The inbox's "返事を書く" opens the reply window filled from the mail;
    // the reply is sent, received and listed after the first mail.
    void replyAndReceive()
    {
        QWidget *inbox = window("TyakuForm");
        QVERIFY(inbox && inbox->isVisible());
        CONTROL(list, QAbstractItemView, inbox, "MailListView");
        CONTROL(replyButton, QPushButton, inbox, "Command5");
        STEP(clickRow(list, 0));
        QTest::mouseClick(replyButton, Qt::LeftButton);
        QTRY_VERIFY(isShown("BackForm"));
        QWidget *back = window("BackForm");
        CONTROL(to, QLineEdit, back, "ToText");
        CONTROL(subject, QLineEdit, back, "SubjectText");
        CONTROL(body, QTextEdit, back, "BodyText");
        CONTROL(sendButton, QPushButton, back, "Command2");
        const QString replySubject = u"Re:  "_s + m_subject;
        QCOMPARE(subject->text(), replySubject);
        QCOMPARE(to->text(), m_servers.address());
        QCOMPARE(withoutTrailingLineEnds(body->toPlainText()), m_receivedBody);

        body->setFocus();
        body->moveCursor(QTextCursor::Start);
        commitText(body, m_replyLine);
        QTest::keyClick(body, Qt::Key_Return);
        const QString replyBody = m_replyLine + u'\n' + m_receivedBody;
        QCOMPARE(withoutTrailingLineEnds(body->toPlainText()), replyBody);

        QTest::mouseClick(sendButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window("BackForm"), NetworkTimeout);
        NO_BOXES_SHOWN();
        QCOMPARE(m_servers.mailboxMessages().size(), 1);
        // The inbox is still open: the floating windows come back only by its "ボタン表示".
        QVERIFY(floatingWindowsHidden());
        CONTROL(showButtons, QPushButton, inbox, "Command8");
        QTest::mouseClick(showButtons, Qt::LeftButton);

        STEP(receive(1));
        QCOMPARE(receivedRecords(), 2);
        STEP(openInbox(2));
        CONTROL(shownSubject, QLineEdit, inbox, "Text7");
        CONTROL(shownSender, QLineEdit, inbox, "Text8");
        CONTROL(shownBody, QTextEdit, inbox, "rtfEd");
        STEP(clickRow(list, 1));
        QCOMPARE(shownSubject->text(), replySubject);
        QCOMPARE(shownSender->text(), m_servers.address());
        QCOMPARE(withoutTrailingLineEnds(shownBody->toPlainText()), replyBody);
        STEP(clickRow(list, 0));
        QCOMPARE(shownSubject->text(), m_subject);
    }

    // The program ends and starts again on the same data root: the server
    // settings come back from hlmail.ini, the panel counts the two stored mails,
    // and the inbox lists them.
    void restart()
    {
        m_windows.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const DataRoot root = m_state->root;
        m_state = std::make_unique<AppState>();
        m_state->root = root;
        m_windows = std::make_unique<AppWindows>(*m_state);
        MainForm *panel = m_windows->mainForm();
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        QVERIFY(floatingWindowsShown());
        NO_BOXES_SHOWN();

        CONTROL(count, QLineEdit, panel, "Text4");
        QCOMPARE(count->text(), u"2"_s);
        QCOMPARE(m_state->smtpServer, m_servers.smtpServer());
        QCOMPARE(m_state->pop3Server, m_servers.pop3Server());
        QCOMPARE(m_state->mailAddress, m_servers.address());

        STEP(openInbox(2));
    }

    // "一件削除" on the first mail leaves the reply; "全件削除" leaves an empty file.
    void deleteOneAndAll()
    {
        QWidget *inbox = window("TyakuForm");
        QVERIFY(inbox && inbox->isVisible());
        CONTROL(list, QAbstractItemView, inbox, "MailListView");
        CONTROL(count, QLineEdit, inbox, "Text2");
        CONTROL(subject, QLineEdit, inbox, "Text7");
        CONTROL(deleteOne, QPushButton, inbox, "Command3");
        CONTROL(deleteAll, QPushButton, inbox, "Command6");

        STEP(clickRow(list, 0));
        Prompt::queueAnswer(Prompt::Answer::Yes);
        QTest::mouseClick(deleteOne, Qt::LeftButton);
        QCOMPARE(list->model()->rowCount(), 1);
        QCOMPARE(count->text(), u"1"_s);
        QCOMPARE(receivedRecords(), 1);
        STEP(clickRow(list, 0));
        QCOMPARE(subject->text(), u"Re:  "_s + m_subject);

        Prompt::queueAnswer(Prompt::Answer::Yes);
        QTest::mouseClick(deleteAll, Qt::LeftButton);
        QCOMPARE(list->model()->rowCount(), 0);
        QCOMPARE(count->text(), u"0"_s);
        QCOMPARE(QFileInfo(m_state->root.receivedMailFile()).size(), 0);

        // Exactly the two questions were asked, both as confirmations.
        const QList<Prompt::Shown> shown = Prompt::shown();
        QCOMPARE(shown.size(), 2);
        for (const Prompt::Shown &s : shown) {
            QCOMPARE(s.kind, Prompt::Kind::Question);
            QCOMPARE(s.title, Prompt::confirmTitle());
        }
        QCOMPARE(shown.at(0).text, u"選択された（行、青色）データを削除します。よろしいですか"_s);
        QCOMPARE(shown.at(1).text, u"すべてのデータを削除して良いですか？"_s);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
