// Every action of the compose and reply windows that would replace or throw
// away what was typed, walked with typed content in place: it survives unless
// the user agreed. And a draft typed before the program was killed comes back
// at the next start.

#include "FreshProgram.h"
#include "app/DraftsAtStop.h"
#include "app/MailtoCompose.h"
#include "app/MailtoUrl.h"
#include "app/UnsentDrafts.h"
#include "compose/MailFields.h"
#include "compose/WriteForm.h"
#include "compose/logic/HeldMailStore.h"
#include "compose/logic/UnsentDraftFile.h"
#include "compose/logic/UnsentMail.h"
#include "panel/FloatingForm.h"
#include "panel/MainForm.h"
#include "panel/ProgramEnd.h"
#include "reply/BackForm.h"
#include "storage/Cp932.h"
#include "storage/DataFolderLock.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QSignalSpy>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextEdit>
#include <QToolBar>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

// A draft to a colleague, with a file and a copy (the copy only the compose window has).
const MailDraft Typed{u"typed@example.jp"_s, u"書きかけ"_s, u"長い手紙の本文"_s, u"/tmp/secret.pdf"_s,
                      u"boss@example.jp"_s};
const MailDraft Held{u"held@example.jp"_s, u"保留件名"_s, u"保留本文"_s, QString()};
const ThreadIndex::Ids Answered{u"<orig@example.jp>"_s, u"<root@example.jp> <orig@example.jp>"_s};

QTextEdit *bodyOf(QWidget *window)
{
    if (auto *compose = qobject_cast<WriteForm *>(window))
        return compose->rtfEd();
    return static_cast<BackForm *>(window)->bodyText();
}

MailFields &fieldsOf(QWidget *window)
{
    if (auto *compose = qobject_cast<WriteForm *>(window))
        return compose->fields();
    return static_cast<BackForm *>(window)->fields();
}

// The draft in the window, as typed (or brought back) by the user.
void type(QWidget *window, const MailDraft &draft)
{
    fieldsOf(window).replace(draft);
}

void click(QWidget *window, const char *name)
{
    QTest::mouseClick(controlOf<QPushButton>(window, name), Qt::LeftButton);
}

void pressRow(QWidget *window, int row)
{
    auto *list = controlOf<QListWidget>(window, "List1");
    list->setCurrentRow(row);
    const QPoint at = list->visualItemRect(list->item(row)).center();
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
}

// The child run of the kill test: types a draft into the compose window of a
// program on the data folder given, lets the window lose the focus, says so
// and waits to be killed.
int typeDraftAndWait(int argc, char **argv)
{
    QApplication app(argc, argv);
    AppState state;
    state.root = DataRoot(QString::fromLocal8Bit(argv[2]));
    AppWindows windows(state);
    WriteForm *form = windows.writeForm();
    form->show();
    // Stopped from outside: the drafts are kept before the program ends.
    const DraftsAtStop stop(windows);
    type(form, Typed);
    if (qstrcmp(argv[3], "deactivate") == 0) {
        QEvent deactivate(QEvent::WindowDeactivate);
        QApplication::sendEvent(form, &deactivate);
    }
    fputs("typed\n", stdout);
    fflush(stdout);
    return app.exec();
}

} // namespace

class TestUnsentGuard : public QObject {
    Q_OBJECT

    std::unique_ptr<FreshProgram> m_program;
    int m_ends = 0;

    QWidget *open(const QString &which)
    {
        if (which == u"compose") {
            WriteForm *form = m_program->windows().writeForm();
            form->show();
            return form;
        }
        BackForm *form = m_program->windows().backForm();
        form->replyTo(u"元の件名"_s, u"from@example.jp"_s, u"> 引用"_s, Answered);
        return form;
    }
    bool asked() const
    {
        for (const Prompt::Shown &s : Prompt::shown())
            if (s.text == UnsentMail::question())
                return true;
        return false;
    }

private slots:
    void init()
    {
        m_program = std::make_unique<FreshProgram>();
        QVERIFY(m_program->isReady());
        QVERIFY(HeldMailStore(m_program->state().root).hold({Held.to, Held.subject, Held.body}) == 1);
        m_ends = 0;
        ProgramEnd::setHook([this] { ++m_ends; });
    }
    void cleanup()
    {
        ProgramEnd::setHook({});
        m_program.reset();
    }

    void actionsOnTypedContent_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("action");
        QTest::addColumn<Prompt::Answer>("answer");
        QTest::addColumn<QString>("outcome"); // kept, replaced, held, discarded

        using A = Prompt::Answer;
        const auto row = [](const QString &window, const QString &what) -> QTestData & {
            return QTest::newRow(QString(window + u' ' + what).toUtf8().constData());
        };
        QTest::newRow("compose 開く, キャンセル") << u"compose"_s << u"open"_s << A::Cancel << u"kept"_s;
        QTest::newRow("compose 開く, 置き換える") << u"compose"_s << u"open"_s << A::Yes << u"replaced"_s;
        for (const QString &window : {u"compose"_s, u"reply"_s}) {
            row(window, u"held mail, キャンセル"_s) << window << u"held"_s << A::Cancel << u"kept"_s;
            row(window, u"held mail, 置き換える"_s) << window << u"held"_s << A::Yes << u"replaced"_s;
            row(window, u"送信中止, キャンセル"_s) << window << u"stop"_s << A::Cancel << u"kept"_s;
            row(window, u"送信中止, 破棄"_s) << window << u"stop"_s << A::No << u"discarded"_s;
            row(window, u"送信中止, 保留して閉じる"_s) << window << u"stop"_s << A::Yes << u"held"_s;
            row(window, u"×, キャンセル"_s) << window << u"closeBox"_s << A::Cancel << u"kept"_s;
            row(window, u"×, 破棄"_s) << window << u"closeBox"_s << A::No << u"discarded"_s;
            row(window, u"終了, キャンセル"_s) << window << u"exit"_s << A::Cancel << u"kept"_s;
            row(window, u"終了, 保留して閉じる"_s) << window << u"exit"_s << A::Yes << u"held"_s;
            row(window, u"右クリックで終了, キャンセル"_s) << window << u"rightPress"_s << A::Cancel << u"kept"_s;
        }
        QTest::newRow("reply 返事を書く for another mail, キャンセル") << u"reply"_s << u"replyAgain"_s << A::Cancel
                                                               << u"kept"_s;
        QTest::newRow("reply 返事を書く for another mail, 置き換える") << u"reply"_s << u"replyAgain"_s << A::Yes
                                                                << u"replaced"_s;
        QTest::newRow("compose mailto: link, キャンセル") << u"compose"_s << u"mailto"_s << A::Cancel << u"kept"_s;
        QTest::newRow("compose mailto: link, 置き換える") << u"compose"_s << u"mailto"_s << A::Yes << u"replaced"_s;
    }
    void actionsOnTypedContent()
    {
        QFETCH(QString, window);
        QFETCH(QString, action);
        QFETCH(Prompt::Answer, answer);
        QFETCH(QString, outcome);

        QWidget *form = open(window);
        click(form, "Command14"); // the held mails in the side list
        type(form, Typed);
        Prompt::clearShown();
        Prompt::queueAnswer(answer);
        if (action == u"open") {
            const QString file = m_program->dir().filePath(u"文書.txt"_s);
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(Cp932::encode(u"ファイルの本文"_s));
            out.close();
            Prompt::queueFileName(file);
            static_cast<WriteForm *>(form)->tbToolBar()->findChild<QAction *>(u"Open"_s)->trigger();
        } else if (action == u"held") {
            pressRow(form, 0);
        } else if (action == u"stop") {
            click(form, "Command3");
        } else if (action == u"closeBox") {
            form->close();
        } else if (action == u"replyAgain") {
            static_cast<BackForm *>(form)->replyTo(u"別の件名"_s, u"other@example.jp"_s, u"> 別の引用"_s,
                                                   {u"<other@example.jp>"_s, QString()});
        } else if (action == u"mailto") {
            composeMailto(m_program->windows(),
                          MailtoUrl{{u"stranger@example.com"_s}, {u"cc@example.com"_s}, {}, u"件名"_s, u"本文"_s});
        } else if (action == u"rightPress") {
            QTest::mousePress(m_program->windows().floatingForm(1), Qt::RightButton);
        } else {
            m_program->windows().mainForm()->show();
            click(m_program->windows().mainForm(), "Command4");
        }
        QVERIFY2(asked(), qPrintable(Prompt::shownTexts().join(u" | "_s)));

        HeldMailStore store(m_program->state().root);
        MailDraft typed = Typed;
        if (window == u"reply")
            typed.cc.clear(); // the reply window has no copies
        if (outcome == u"kept") {
            QVERIFY(form->isVisible());
            QCOMPARE(fieldsOf(form).draft(), typed);
            QCOMPARE(m_ends, 0);
            QCOMPARE(store.count(), 1);
        } else if (outcome == u"replaced") {
            // A new mail replaces everything, attachments and copies too; 開く only the body.
            const MailDraft now = fieldsOf(form).draft();
            if (action == u"open")
                QCOMPARE(now.body.trimmed(), u"ファイルの本文"_s);
            else if (action == u"held")
                QCOMPARE(now, Held); // and without the reply's thread
            else if (action == u"mailto")
                QCOMPARE(now, (MailDraft{u"stranger@example.com"_s, u"件名"_s, u"本文"_s, {}, u"cc@example.com"_s}));
            else
                QCOMPARE((QStringList{now.to, now.attachments, now.inReplyTo}),
                         (QStringList{u"other@example.jp"_s, QString(), u"<other@example.jp>"_s}));
            bodyOf(form)->undo(); // 元に戻す brings the typed mail back, not only its body
            QCOMPARE(fieldsOf(form).draft(), typed);
        } else {
            QVERIFY(!form->isVisible());
            QCOMPARE(m_ends, action == u"exit" ? 1 : 0);
            QCOMPARE(store.count(), outcome == u"held" ? 2 : 1);
            HeldMail last;
            QVERIFY(store.load(store.count(), &last));
            QCOMPARE(last.subject, outcome == u"held" ? Typed.subject : Held.subject);
            // Closed: the window's going keeps no draft of what was settled.
            QEvent deactivate(QEvent::WindowDeactivate);
            QApplication::sendEvent(form, &deactivate);
            QVERIFY(!UnsentDraftFile(m_program->state().root, window).exists());
        }
    }

    // Nothing typed, or only what the program put in: nothing is asked.
    void untouchedWindowsCloseWithoutAsking()
    {
        QWidget *compose = open(u"compose"_s);
        QWidget *reply = open(u"reply"_s);
        click(compose, "Command14");
        pressRow(compose, 0); // a held mail loaded as it is
        click(compose, "Command3");
        click(reply, "Command3");
        QVERIFY(!compose->isVisible());
        QVERIFY(!reply->isVisible());
        QVERIFY(Prompt::shownTexts().isEmpty());

        // Neither a closed reply nor a sent one (settled, as a delivered send
        // does) is kept as unsent by the deactivation that follows the close.
        const UnsentDraftFile file(m_program->state().root, u"reply"_s);
        QEvent deactivate(QEvent::WindowDeactivate);
        QApplication::sendEvent(reply, &deactivate);
        QVERIFY(!file.exists());
        reply = open(u"reply"_s);
        type(reply, Typed);
        fieldsOf(reply).settle();
        reply->close();
        QApplication::sendEvent(reply, &deactivate);
        QVERIFY(!file.exists());
    }

    // 保留 keeps the whole mail: its files, copies, and the whole-address-book
    // mode with the recipients typed before it.
    void heldMailKeepsItsFilesAndMode()
    {
        QWidget *form = open(u"compose"_s);
        type(form, Typed);
        Prompt::queueAnswer(Prompt::Answer::Yes);
        QTest::mouseClick(controlOf<QRadioButton>(form, "Option2"), Qt::LeftButton);
        QVERIFY(controlOf<QLineEdit>(form, "ToText")->text().isEmpty());
        click(form, "Command13");
        QCOMPARE(fieldsOf(form).draft(), MailDraft());
        click(form, "Command14");
        pressRow(form, 1);
        MailDraft held = Typed;
        held.wholeBook = true;
        QCOMPARE(fieldsOf(form).draft(), held);
        QVERIFY(!controlOf<QLineEdit>(form, "ToText")->isEnabled());
        QVERIFY(controlOf<QRadioButton>(form, "Option2")->isChecked());
        QVERIFY2(Prompt::shownTexts().filter(u"保存できません"_s).isEmpty(), qPrintable(Prompt::shownTexts().join(u" | "_s)));
    }

    void failedSendKeepsTheAttachmentList()
    {
        WriteForm *form = static_cast<WriteForm *>(open(u"compose"_s));
        const QString attached = m_program->dir().filePath(u"一.txt"_s);
        QFile out(attached);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.close();
        Prompt::queueFileName(attached);
        click(form, "AttachCommand");
        QVERIFY(!controlOf<QPushButton>(form, "AttachCommand")->isEnabled());
        // No recipient: the send ends at once without a pass.
        QSignalSpy finished(form, &WriteForm::sendFinished);
        click(form, "Command1");
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(controlOf<QLineEdit>(form, "AttachText")->text(), attached);
        QVERIFY(!controlOf<QPushButton>(form, "AttachCommand")->isEnabled());
        QVERIFY(controlOf<QPushButton>(form, "Command9")->isEnabled());
    }

    void recoveryFileFollowsTheTypedContent()
    {
        QWidget *form = open(u"reply"_s);
        const UnsentDraftFile file(m_program->state().root, u"reply"_s);
        QEvent deactivate(QEvent::WindowDeactivate);
        QApplication::sendEvent(form, &deactivate);
        QVERIFY(!file.exists()); // the prefill alone is not kept
        type(form, MailDraft{Typed.to, Typed.subject, u"😀 と 𠮷"_s, QString()});
        QApplication::sendEvent(form, &deactivate);
        MailDraft kept;
        QVERIFY(file.load(&kept));
        QCOMPARE(kept.body, u"😀 と 𠮷"_s); // whole, not as CP932 would keep it
        // For the user alone, even in a data folder others can enter.
        QCOMPARE(QFile::permissions(file.path()) & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                 QFile::Permissions());
        Prompt::queueAnswer(Prompt::Answer::No); // 破棄
        click(form, "Command3");
        QVERIFY(!file.exists());
    }

    // While a receive writes, the save waits for it instead of freezing the
    // window or telling the user: nothing is lost meanwhile.
    void recoveryWaitsForAnotherWriter()
    {
        QWidget *form = open(u"compose"_s);
        type(form, Typed);
        const QString folder = m_program->state().root.dataFolder();
        std::atomic_bool taken = false, release = false;
        std::thread writer([&] {
            DataFolderLock lock(folder, u"受信"_s);
            taken = lock.take(nullptr);
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        });
        QTRY_VERIFY(taken);
        QEvent deactivate(QEvent::WindowDeactivate);
        QApplication::sendEvent(form, &deactivate);
        const UnsentDraftFile file(m_program->state().root, u"compose"_s);
        QVERIFY(!file.exists());
        QVERIFY(Prompt::shownTexts().isEmpty());
        release = true;
        writer.join();
        QTRY_VERIFY_WITH_TIMEOUT(file.exists(), MailFields::RetryMs * 3);
        QVERIFY(Prompt::shownTexts().isEmpty());
    }

    void killedDraftIsOfferedAtTheNextStart_data()
    {
        QTest::addColumn<QString>("saved");
        QTest::addColumn<bool>("killed"); // else asked to stop (SIGTERM, as at logout)
        QTest::newRow("killed after the window lost the focus") << u"deactivate"_s << true;
        QTest::newRow("asked to stop before any save") << u"none"_s << false;
    }
    void killedDraftIsOfferedAtTheNextStart()
    {
        QFETCH(QString, saved);
        QFETCH(bool, killed);
        QProcess typing;
        typing.start(QCoreApplication::applicationFilePath(),
                     {u"--type-draft"_s, m_program->state().root.root(), saved});
        QVERIFY(typing.waitForReadyRead(60000));
        QCOMPARE(typing.readAllStandardOutput(), QByteArray("typed\n"));
        if (killed)
            typing.kill();
        else
            typing.terminate();
        QVERIFY(typing.waitForFinished());

        Prompt::queueAnswer(Prompt::Answer::Yes);
        offerUnsentDrafts(m_program->windows(), m_program->state().root);
        QCOMPARE(Prompt::shownTexts(), QStringList{UnsentDraftFile::restoreQuestion()});
        auto *form = static_cast<WriteForm *>(m_program->windows().loaded("WriteForm"));
        QVERIFY(form && form->isVisible());
        QCOMPARE(form->fields().draft(), Typed); // the copy of the mailto: link too
        QCOMPARE(controlOf<QListWidget>(form, "List2")->item(0)->text(), u"secret.pdf"_s);
        QVERIFY(form->fields().isAtRisk());

        // 破棄: the kept draft goes and is not offered again.
        form->fields().saveRecovery();
        Prompt::clearShown();
        Prompt::queueAnswer(Prompt::Answer::No);
        offerUnsentDrafts(m_program->windows(), m_program->state().root);
        QVERIFY(!UnsentDraftFile(m_program->state().root, u"compose"_s).exists());
    }

    // あとで: the draft waits for the next start, whatever the windows do meanwhile.
    void laterKeepsTheDraftForTheNextStart()
    {
        QVERIFY(UnsentDraftFile(m_program->state().root, u"compose"_s).save(Typed));
        Prompt::queueAnswer(Prompt::Answer::Cancel);
        offerUnsentDrafts(m_program->windows(), m_program->state().root);
        QVERIFY(!m_program->windows().isLoaded("WriteForm"));
        QWidget *form = open(u"compose"_s);
        type(form, Held);
        Prompt::queueAnswer(Prompt::Answer::No); // 破棄 of the new mail only
        form->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTest::qWait(0);

        Prompt::clearShown();
        Prompt::queueAnswer(Prompt::Answer::Yes);
        offerUnsentDrafts(m_program->windows(), m_program->state().root);
        QCOMPARE(Prompt::shownTexts(), QStringList{UnsentDraftFile::restoreQuestion()});
        auto *reopened = static_cast<WriteForm *>(m_program->windows().loaded("WriteForm"));
        QVERIFY(reopened);
        QCOMPARE(reopened->fields().draft(), Typed);
        // Now the window's own: kept under its name, and not offered twice.
        QVERIFY(UnsentDraftFile(m_program->state().root, u"compose"_s).exists());
        QVERIFY(UnsentDraftFile::putOff(m_program->state().root, u"compose"_s).isEmpty());
    }

    void replyDraftOpensInTheReplyWindow()
    {
        MailDraft kept{u"from@example.jp"_s, u"Re:  元の件名"_s, u"返事の本文\n> 引用"_s, u"/tmp/a.txt,/tmp/b.txt"_s};
        kept.inReplyTo = Answered.messageId;
        kept.references = Answered.references;
        QVERIFY(UnsentDraftFile(m_program->state().root, u"reply"_s).save(kept));
        Prompt::queueAnswer(Prompt::Answer::Yes);
        offerUnsentDrafts(m_program->windows(), m_program->state().root);
        QVERIFY(!m_program->windows().isLoaded("WriteForm"));
        auto *form = static_cast<BackForm *>(m_program->windows().loaded("BackForm"));
        QVERIFY(form && form->isVisible());
        QCOMPARE(form->fields().draft(), kept); // still answering its mail
        QCOMPARE(controlOf<QListWidget>(form, "List2")->count(), 2);
        QVERIFY(!controlOf<QPushButton>(form, "AttachCommand")->isEnabled()); // 追加 adds, nothing replaces
    }
};

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--type-draft") == 0)
        return typeDraftAndWait(argc, argv);
    QApplication app(argc, argv);
    TestUnsentGuard test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_unsent_guard.moc"
