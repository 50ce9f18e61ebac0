// Every action of the compose and reply windows that would replace or throw
// away what was typed, walked with typed content in place: it survives unless
// the user agreed. And a draft typed before the program was killed comes back
// at the next start.

#include "FreshProgram.h"
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
#include <QTest>
#include <QTextEdit>
#include <QToolBar>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

const MailDraft Typed{u"typed@example.jp"_s, u"書きかけ"_s, u"長い手紙の本文"_s, QString()};
const MailDraft Held{u"held@example.jp"_s, u"保留件名"_s, u"保留本文"_s, QString()};

QTextEdit *bodyOf(QWidget *window)
{
    if (auto *compose = qobject_cast<WriteForm *>(window))
        return compose->rtfEd();
    return static_cast<BackForm *>(window)->bodyText();
}

MailDraft shown(QWidget *window)
{
    return MailDraft{controlOf<QLineEdit>(window, "ToText")->text(),
                     controlOf<QLineEdit>(window, "SubjectText")->text(), bodyOf(window)->toPlainText(),
                     controlOf<QLineEdit>(window, "AttachText")->text()};
}

void type(QWidget *window, const MailDraft &draft)
{
    controlOf<QLineEdit>(window, "ToText")->setText(draft.to);
    controlOf<QLineEdit>(window, "SubjectText")->setText(draft.subject);
    bodyOf(window)->setPlainText(draft.body);
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
    type(form, Typed);
    controlOf<QLineEdit>(form, "AttachText")->setText(u"/tmp/添付.pdf"_s);
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(form, &deactivate);
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
        form->replyTo(u"元の件名"_s, u"from@example.jp"_s, u"> 引用"_s);
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
            static_cast<BackForm *>(form)->replyTo(u"別の件名"_s, u"other@example.jp"_s, u"> 別の引用"_s);
        } else if (action == u"rightPress") {
            QTest::mousePress(m_program->windows().floatingForm(1), Qt::RightButton);
        } else {
            m_program->windows().mainForm()->show();
            click(m_program->windows().mainForm(), "Command4");
        }
        QVERIFY2(asked(), qPrintable(Prompt::shownTexts().join(u" | "_s)));

        HeldMailStore store(m_program->state().root);
        if (outcome == u"kept") {
            QVERIFY(form->isVisible());
            QCOMPARE(shown(form), Typed);
            QCOMPARE(m_ends, 0);
            QCOMPARE(store.count(), 1);
        } else if (outcome == u"replaced") {
            const QString body = action == u"open" ? u"ファイルの本文\r\n"_s : Held.body;
            QCOMPARE(bodyOf(form)->toPlainText().trimmed(), body.trimmed());
            if (action == u"held")
                QCOMPARE(shown(form), Held);
            bodyOf(form)->undo(); // 元に戻す brings the typed body back
            QCOMPARE(bodyOf(form)->toPlainText(), Typed.body);
        } else {
            QVERIFY(!form->isVisible());
            QCOMPARE(m_ends, action == u"exit" ? 1 : 0);
            QCOMPARE(store.count(), outcome == u"held" ? 2 : 1);
            HeldMail last;
            QVERIFY(store.load(store.count(), &last));
            QCOMPARE(last.subject, outcome == u"held" ? Typed.subject : Held.subject);
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

    void killedDraftIsOfferedAtTheNextStart()
    {
        QProcess typing;
        typing.start(QCoreApplication::applicationFilePath(),
                     {u"--type-draft"_s, m_program->state().root.root()});
        QVERIFY(typing.waitForReadyRead(60000));
        QCOMPARE(typing.readAllStandardOutput(), QByteArray("typed\n"));
        typing.kill();
        QVERIFY(typing.waitForFinished());

        Prompt::queueAnswer(Prompt::Answer::Yes);
        offerUnsentDrafts(m_program->windows(), m_program->state().root);
        QCOMPARE(Prompt::shownTexts(), QStringList{UnsentDraftFile::restoreQuestion()});
        auto *form = static_cast<WriteForm *>(m_program->windows().loaded("WriteForm"));
        QVERIFY(form && form->isVisible());
        QCOMPARE(shown(form), (MailDraft{Typed.to, Typed.subject, Typed.body, u"/tmp/添付.pdf"_s}));
        QCOMPARE(controlOf<QListWidget>(form, "List2")->item(0)->text(), u"添付.pdf"_s);
        QVERIFY(form->fields().isAtRisk());

        // Declined, the kept draft goes and is not offered again.
        form->fields().saveRecovery();
        Prompt::clearShown();
        Prompt::queueAnswer(Prompt::Answer::No);
        offerUnsentDrafts(m_program->windows(), m_program->state().root);
        QVERIFY(!UnsentDraftFile(m_program->state().root, u"compose"_s).exists());
    }

    void replyDraftOpensInTheReplyWindow()
    {
        const MailDraft kept{u"from@example.jp"_s, u"Re:  元の件名"_s, u"返事の本文\n> 引用"_s, u"/tmp/a.txt,/tmp/b.txt"_s};
        QVERIFY(UnsentDraftFile(m_program->state().root, u"reply"_s).save(kept));
        Prompt::queueAnswer(Prompt::Answer::Yes);
        offerUnsentDrafts(m_program->windows(), m_program->state().root);
        QVERIFY(!m_program->windows().isLoaded("WriteForm"));
        auto *form = static_cast<BackForm *>(m_program->windows().loaded("BackForm"));
        QVERIFY(form && form->isVisible());
        QCOMPARE(shown(form), kept);
        QCOMPARE(controlOf<QListWidget>(form, "List2")->count(), 2);
        QVERIFY(!controlOf<QPushButton>(form, "AttachCommand")->isEnabled()); // 追加 adds, nothing replaces
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--type-draft") == 0)
        return typeDraftAndWait(argc, argv);
    QApplication app(argc, argv);
    TestUnsentGuard test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_unsent_guard.moc"
