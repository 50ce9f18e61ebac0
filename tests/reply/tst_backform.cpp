#include "FreshProgram.h"
#include "app/AppWindows.h"
#include "compose/MailFields.h"
#include "compose/logic/HeldMailStore.h"
#include "reply/BackForm.h"
#include "reply/ReplyText.h"
#include "storage/AppState.h"
#include "storage/OwnSettings.h"
#include "winutil/Prompt.h"
#include "winutil/TextFiles.h"
#include "winutil/Twips.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <memory>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestBackForm : public QObject {
    Q_OBJECT

    std::unique_ptr<FreshProgram> m_program;

    BackForm *form() { return m_program->windows().backForm(); }
    template <class T> T *control(const char *name, QWidget *window = nullptr)
    {
        return controlOf<T>(window ? window : form(), name);
    }
    QString text(const char *name) { return control<QLineEdit>(name)->text(); }
    QString body() { return form()->bodyText()->toPlainText(); }
    void click(const char *name, QWidget *window = nullptr)
    {
        QTest::mouseClick(control<QPushButton>(name, window), Qt::LeftButton);
    }
    QListWidget *heldList() { return control<QListWidget>("List1"); }
    void pickLine(int line)
    {
        QListWidget *l = heldList();
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(line)).center());
    }
    HeldMailStore held() const { return HeldMailStore(m_program->state().root); }
    void fill(const QString &to, const QString &subject, const QString &bodyText)
    {
        control<QLineEdit>("ToText")->setText(to);
        control<QLineEdit>("SubjectText")->setText(subject);
        form()->bodyText()->setPlainText(bodyText);
    }
    // Holds what the fields hold, answering yes.
    void holdFields()
    {
        Prompt::queueAnswer(Prompt::Answer::Yes);
        click("Command13");
    }

private slots:
    void init()
    {
        m_program = std::make_unique<FreshProgram>();
        QVERIFY(m_program->isReady());
    }
    void cleanup() { m_program.reset(); }

    void prefill_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("wantSubject");
        QTest::addColumn<QString>("wantTo");
        QTest::addColumn<QString>("wantBody");
        QTest::newRow("plain") << u"abc"_s << u"a@example.jp"_s << u"本文"_s
                               << u"Re:  abc"_s << u"a@example.jp"_s << u"本文"_s;
        QTest::newRow("spaces trimmed, ideographic kept")
            << u"  Hello　 "_s << u" 太郎 <t@example.jp>  "_s << u"  > 引用なし\n "_s
            << u"Re:  Hello　"_s << u"太郎 <t@example.jp>"_s << u"> 引用なし\n"_s;
        QTest::newRow("empty subject") << QString() << QString() << QString()
                                       << u"Re:  "_s << QString() << QString();
        QTest::newRow("a reply to a reply has one Re:")
            << u"Re:  Re: hello"_s << u"a@example.jp"_s << u"本文"_s << u"Re:  hello"_s << u"a@example.jp"_s << u"本文"_s;
        QTest::newRow("RE: and a full-width colon count too")
            << u"RE：hello"_s << u"a@example.jp"_s << u"本文"_s << u"Re:  hello"_s << u"a@example.jp"_s << u"本文"_s;
        QTest::newRow("a word starting with re stays")
            << u"report"_s << u"a@example.jp"_s << u"本文"_s << u"Re:  report"_s << u"a@example.jp"_s << u"本文"_s;
        QTest::newRow("the program's note is not quoted")
            << u"s"_s << u"a@example.jp"_s
            << u"本文〓\n※このメールをそのまま保存できなかったため、全文を添付フォルダの「1.txt」に保存しました。"_s
            << u"Re:  s"_s << u"a@example.jp"_s << u"本文〓"_s;
        QTest::newRow("nor its line break")
            << u"s"_s << u"a@example.jp"_s
            << u"本文\r\n\r\n※このメールをそのまま保存できなかったため、全文を添付フォルダの「2.txt」に保存しました。\r\n"_s
            << u"Re:  s"_s << u"a@example.jp"_s << u"本文"_s;
    }
    void prefill()
    {
        QFETCH(QString, subject);
        QFETCH(QString, sender);
        QFETCH(QString, received);
        m_program->windows().hideFloatingWindows();
        form()->replyTo(subject, sender, received);
        QVERIFY(form()->isVisible());
        QCOMPARE(form()->windowTitle(), u"返事を書く"_s);
        QTEST(text("SubjectText"), "wantSubject");
        QTEST(text("ToText"), "wantTo");
        QTEST(body(), "wantBody");
    }

    // The signature goes below the prefilled body, and is the program's text:
    // closing the untouched reply asks nothing.
    void signatureFollowsThePrefill()
    {
        QVERIFY(OwnSettings(m_program->state().root.hollinIniFile()).writeSender({}, u"--\n山田"_s, nullptr));
        m_program->windows().hideFloatingWindows();
        form()->replyTo(u"s"_s, u"a@example.jp"_s, u"本文\n\n"_s);
        QCOMPARE(body(), u"本文\n\n--\n山田"_s);
        QVERIFY(!form()->fields().isAtRisk());
    }

    void pasteIntoBodyAtTheCaret()
    {
        form()->replyTo(u"s"_s, u"a@example.jp"_s, u"原文"_s);
        QTextEdit *edit = form()->bodyText();
        edit->setPlainText(u"返事XX\n原文"_s);
        QTextCursor cursor = edit->textCursor();
        cursor.setPosition(2);
        cursor.setPosition(4, QTextCursor::KeepAnchor);
        edit->setTextCursor(cursor);
        QApplication::clipboard()->setText(u" 貼付 "_s);
        click("Command4");
        QCOMPARE(body(), u"返事貼付\n原文"_s);
        QCOMPARE(QApplication::clipboard()->text(), u" 貼付 "_s);
        edit->undo();
        QCOMPARE(body(), u"返事XX\n原文"_s);
    }

    void holdAsksBeforeLosingCharacters()
    {
        fill(u"a@example.jp"_s, u"件名😀"_s, u"本文"_s);
        Prompt::queueAnswer(Prompt::Answer::Yes);
        Prompt::queueAnswer(Prompt::Answer::No);
        click("Command13");
        QCOMPARE(Prompt::shownTexts(), (QStringList{HeldMailStore::holdQuestion(), cp932LossQuestion(u"😀"_s)}));
        QCOMPARE(held().count(), 0);
        QCOMPARE(text("SubjectText"), u"件名😀"_s);
    }

    void panelAndAttachmentListCoverNothing()
    {
        form()->replyTo(u"s"_s, u"a@example.jp"_s, u"b"_s);
        auto rectOf = [this](const char *name) { return control<QWidget>(name)->geometry(); };
        click("Command17");
        for (const char *name : {"Command10", "Command17", "List1"})
            QVERIFY2(!rectOf("Picture7").intersects(rectOf(name)), name);
        QVERIFY(!rectOf("List1").intersects(rectOf("Command17")));

        // The list pushes the body down instead of covering it; "リスト" hides it again.
        Prompt::queueFileName(u"/tmp/a.txt"_s);
        click("AttachCommand");
        click("Command9");
        QVERIFY(!rectOf("List2").intersects(rectOf("BodyText")));
        m_program->state().listToggleCount = 0;
        click("Command16");
        QVERIFY(!control<QWidget>("List2")->isVisible());
        QCOMPARE(rectOf("BodyText").top(), twips::toPixels(1560));
    }

    void holdWithEmptySubjectWritesNothing()
    {
        fill(u"a@example.jp"_s, QString(), u"本文"_s);
        click("Command13");
        QCOMPARE(Prompt::shownTexts(), QStringList{u"件名が空白です。保存出来ません。"_s});
        QCOMPARE(held().count(), 0);
        QCOMPARE(body(), u"本文"_s);
    }

    void holdEmptiesFieldsAndPickBringsMailBackWhole()
    {
        const QString longBody = QString(4999, u'あ') + u'終';
        fill(u" a@example.jp "_s, u"件名"_s, longBody);
        holdFields();
        QCOMPARE(Prompt::shown().size(), 1);
        QCOMPARE(Prompt::shown().first().text, HeldMailStore::holdQuestion());
        QCOMPARE(m_program->state().currentRecordNumber, qint16(1));
        QVERIFY(text("ToText").isEmpty());
        QVERIFY(text("SubjectText").isEmpty());
        QVERIFY(body().isEmpty());
        QCOMPARE(heldList()->count(), 1);
        QCOMPARE(text("Text1"), u"1"_s);

        click("Command14"); // recall
        QCOMPARE(m_program->state().sideListMode, qint16(10));
        pickLine(0);
        QCOMPARE(text("Text2"), u"1"_s);
        QCOMPARE(text("ToText"), u"a@example.jp"_s);
        QCOMPARE(text("SubjectText"), u"件名"_s);
        QCOMPARE(body(), longBody);
    }

    // A mail held in the compose window for the whole address book, with
    // copies, comes back with its typed recipients only, and the window says so.
    void heldWholeBookMailIsToldToSendToTheBoxOnly()
    {
        HeldMail mail{u"a@example.jp"_s, u"お知らせ"_s, u"本文"_s};
        mail.wholeBook = true;
        mail.cc = u"c@example.jp"_s;
        QCOMPARE(held().hold(mail), 1);
        click("Command14");
        Prompt::clearShown();
        pickLine(0);
        QCOMPARE(text("ToText"), u"a@example.jp"_s);
        QCOMPARE(Prompt::shownTexts(), QStringList{HeldMailStore::notSentFromReply(mail)});
        QVERIFY(Prompt::shownTexts().first().contains(u"一括送信"_s));
        QVERIFY(Prompt::shownTexts().first().contains(u"Cc・Bcc"_s));
    }

    void tooLongBodyAsksBeforeHolding()
    {
        fill(u"a@example.jp"_s, u"長い"_s, QString(16001, u'あ')); // 32002 bytes in CP932
        Prompt::queueAnswer(Prompt::Answer::Yes);
        Prompt::queueAnswer(Prompt::Answer::No);
        click("Command13");
        QCOMPARE(Prompt::shownTexts(), (QStringList{HeldMailStore::holdQuestion(), HeldMailStore::tooLongQuestion()}));
        QCOMPARE(held().count(), 0);
        QCOMPARE(text("SubjectText"), u"長い"_s);
    }

    void deleteHeldBeforeRecallDoesNothing()
    {
        fill(QString(), u"一"_s, QString());
        holdFields();
        Prompt::clearShown();
        click("Command17");
        QCOMPARE(m_program->state().sideListMode, qint16(0));
        pickLine(0);
        click("Command15");
        QVERIFY(Prompt::shown().isEmpty());
        QCOMPARE(held().count(), 1);
        QVERIFY(text("Text2").isEmpty());
        QCOMPARE(control<QPushButton>("Command17")->text(), u"下書き"_s);
    }

    void deleteHeldAnswered_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void deleteHeldAnswered()
    {
        QFETCH(bool, yes);
        for (const QString &s : {u"一"_s, u"二"_s, u"三"_s}) {
            fill(u"to@example.jp"_s, s, u"本文"_s + s);
            holdFields();
        }
        click("Command14");
        // Without a pick first: nothing is selected.
        Prompt::clearShown();
        click("Command15");
        QCOMPARE(Prompt::shownTexts(), QStringList{HeldMailStore::noSelectionMessage()});
        QCOMPARE(held().count(), 3);

        pickLine(1);
        Prompt::clearShown();
        Prompt::queueAnswer(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
        click("Command15");
        QCOMPARE(Prompt::shownTexts(), QStringList{HeldMailStore::deleteQuestion()});
        if (yes)
            QCOMPARE(m_program->state().currentRecordNumber, qint16(2));
        // Declined, the mail loaded from the held one stays; deleted, it goes with it.
        QCOMPARE(body(), yes ? QString() : u"本文二"_s);
        QVERIFY(text("Text2").isEmpty());
        QCOMPARE(held().count(), yes ? 2 : 3);
        QCOMPARE(heldList()->count(), yes ? 2 : 3);
        QCOMPARE(heldList()->item(1)->text(), yes ? u"三"_s : u"二"_s);
        QCOMPARE(text("SubjectText").isEmpty(), yes);
    }

    void attachmentsJoinWithCommas()
    {
        QTemporaryDir files;
        const QStringList paths{files.filePath(u"一.txt"_s), files.filePath(u"二.pdf"_s)};
        for (const QString &path : paths) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            Prompt::queueFileName(path);
        }
        click("Command9"); // nothing attached yet: no dialog
        QCOMPARE(Prompt::shown().size(), 0);
        click("AttachCommand");
        click("Command9");
        QCOMPARE(text("AttachText"), paths.join(u','));
        auto *names = control<QListWidget>("List2");
        QCOMPARE(names->count(), 2);
        QCOMPARE(names->item(1)->text(), u"二.pdf"_s);
        QVERIFY(!control<QPushButton>("AttachCommand")->isEnabled());
        click("Command10");
        QVERIFY(text("AttachText").isEmpty());
        QCOMPARE(names->count(), 0);
        QVERIFY(control<QPushButton>("AttachCommand")->isEnabled());
        QVERIFY(!control<QPushButton>("Command9")->isEnabled());
    }

    void closeShowsFloatingWindowsAndForgetsTexts()
    {
        form()->replyTo(u"s"_s, u"a@example.jp"_s, u"b"_s);
        QVERIFY(!m_program->windows().loaded("Form1")->isVisible()); // hidden while the reply is loaded
        click("Command3");
        for (int n = 1; n <= 5; ++n)
            QVERIFY(m_program->windows().loaded(("Form" + QByteArray::number(n)).constData())->isVisible());
        QTRY_VERIFY(!m_program->windows().isLoaded("BackForm"));
        QVERIFY(body().isEmpty()); // a new window
    }

    void panelPhaseIsSharedWithCompose()
    {
        m_program->windows().writeForm();
        QWidget *compose = m_program->windows().loaded("WriteForm");
        compose->show();
        click("Command17", compose);
        QVERIFY(control<QWidget>("Picture7", compose)->isVisible());

        form()->show();
        QWidget *panel = control<QWidget>("Picture7");
        QVERIFY(!panel->isVisible());
        click("Command17");
        QVERIFY(!panel->isVisible()); // the compose window's click set the phase
        QCOMPARE(control<QPushButton>("Command17")->text(), u"下書き"_s);
        click("Command17");
        QVERIFY(panel->isVisible());
        QCOMPARE(control<QPushButton>("Command17")->text(), u"　下書き"_s);
        QCOMPARE(m_program->state().heldPanelToggleCount, qint16(3));
    }
};

QTEST_MAIN(TestBackForm)
#include "tst_backform.moc"
