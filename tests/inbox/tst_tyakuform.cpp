#include "inbox/TyakuForm.h"
#include "inbox/logic/InboxListModel.h"
#include "FreshProgram.h"
#include "app/AppWindows.h"
#include "panel/FloatingForm.h"
#include "storage/AppState.h"
#include "storage/Cp932.h"
#include "storage/MailRecordFile.h"
#include "storage/SavedFullText.h"
#include "storage/SentMailFile.h"
#include "transport/MailComposer.h"
#include "winutil/ListedFile.h"
#include "winutil/Prompt.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QScreen>
#include <QScrollBar>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>

#include <memory>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestTyakuForm : public QObject {
    Q_OBJECT

    std::unique_ptr<FreshProgram> m_program;

    TyakuForm *form() { return m_program->windows().tyakuForm(); }
    template <class T> T *control(const char *name) { return controlOf<T>(form(), name); }
    QString text(const char *name) { return control<QLineEdit>(name)->text(); }
    QString body() { return form()->rtfEd()->toPlainText(); }
    QTableView *list() { return control<QTableView>("MailListView"); }
    void click(const char *name) { QTest::mouseClick(control<QPushButton>(name), Qt::LeftButton); }
    void clickRow(int row)
    {
        QTableView *view = list();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(view->model()->index(row, 0)).center());
    }
    void hover(QWidget *widget)
    {
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QApplication::sendEvent(widget, &enter);
    }
    MailRecordFile file() const
    {
        return MailRecordFile(m_program->state().root.receivedMailFile(), m_program->state().root.receivedMailTemp());
    }
    void store(int count)
    {
        for (int i = 1; i <= count; ++i)
            QVERIFY(file().append({u"件名%1"_s.arg(i), u"Mon, %1 Dec 2026"_s.arg(i),
                                   u"user%1@example.jp"_s.arg(i), u"本文%1\r\n二行目"_s.arg(i)}) == i);
    }
    QColor copyColour() { return control<QPushButton>("Command1")->palette().color(QPalette::Button); }

private slots:
    void init()
    {
        m_program = std::make_unique<FreshProgram>();
        QVERIFY(m_program->isReady());
    }
    void cleanup() { m_program.reset(); }

    void fillListsEveryRecordAndShowsTheLast()
    {
        store(3);
        m_program->windows().showFloatingWindows();
        form()->fillAndShow();
        QVERIFY(form()->isVisible());
        QCOMPARE(form()->windowTitle(), u"着信履歴"_s);
        QCOMPARE(m_program->state().sideListMode, qint16(1));
        QCOMPARE(list()->model()->rowCount(), 3);
        QCOMPARE(list()->model()->index(0, 0).data().toString().trimmed(), u"件名1"_s);
        QCOMPARE(text("Text2"), u"3"_s);
        QCOMPARE(text("Text7"), u"件名3"_s);
        QCOMPARE(text("Text8"), u"user3@example.jp"_s);
        QCOMPARE(text("Text9"), u"Mon, 3 Dec 2026"_s);
        QCOMPARE(body(), u"本文3\n二行目"_s);
        for (int n = 1; n <= 5; ++n)
            QVERIFY(!m_program->windows().floatingForm(n)->isVisible());
        form()->close();
        for (int n = 1; n <= 5; ++n)
            QVERIFY(m_program->windows().floatingForm(n)->isVisible());
        QVERIFY(!m_program->windows().isLoaded("TyakuForm") || !m_program->windows().loaded("TyakuForm")->isVisible());
    }

    // The 送信済み view lists the kept copies, newest first, shows one in the
    // boxes, and 再送信 puts it into the compose window.
    void sentViewShowsAndResendsACopy()
    {
        store(1);
        SentMailFile sent(SentMailFile::pathIn(m_program->state().root.dataFolder()));
        const QString quote = m_program->dir().filePath(u"見積書.txt"_s);
        QFile attached(quote);
        QVERIFY(attached.open(QIODevice::WriteOnly) && attached.write("total 100\n") == 10);
        attached.close();
        for (const QString &subject : {u"先週の件"_s, u"見積もりの件"_s}) {
            OutgoingMail mail{u"me@example.jp"_s, u"取引先<client@example.jp>"_s, subject, u"お世話になります。\n"_s,
                              {quote}};
            mail.cc = u"boss@example.jp"_s;
            QVERIFY(sent.append(MailComposer::build(mail), 1765000000, nullptr));
        }
        form()->fillAndShow();
        click("SentToggle");
        auto *sentList = control<QTableView>("SentList");
        QVERIFY(sentList->isVisible());
        QVERIFY(!list()->isVisible());
        QCOMPARE(sentList->model()->rowCount(), 2);
        QCOMPARE(sentList->model()->index(0, 1).data().toString(), u"見積もりの件"_s);
        QVERIFY(!control<QPushButton>("ResendCommand")->isEnabled());
        QTest::mouseClick(sentList->viewport(), Qt::LeftButton, {},
                          sentList->visualRect(sentList->model()->index(0, 0)).center());
        QCOMPARE(text("Text7"), u"見積もりの件"_s);
        QCOMPARE(text("Text8"), u"取引先 <client@example.jp>"_s);
        QVERIFY2(body().contains(u"お世話になります。"_s), qPrintable(body()));

        click("ResendCommand");
        QWidget *compose = m_program->windows().loaded("WriteForm");
        QVERIFY(compose && compose->isVisible());
        QCOMPARE(controlOf<QLineEdit>(compose, "ToText")->text(), u"取引先 <client@example.jp>, boss@example.jp"_s);
        QCOMPARE(controlOf<QLineEdit>(compose, "SubjectText")->text(), u"見積もりの件"_s);
        // The attachment goes again: taken out of the copy into the attachment folder.
        const QString again = controlOf<QLineEdit>(compose, "AttachText")->text();
        QCOMPARE(QFileInfo(again).absolutePath(), QDir(m_program->state().root.attachmentFolder()).absolutePath());
        QFile copy(again);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), QByteArray("total 100\n"));

        click("SentToggle"); // back to the received mail
        QVERIFY(list()->isVisible());
        QVERIFY(!sentList->isVisible());
    }

    void emptyFileGivesEmptyList()
    {
        form()->fillAndShow();
        QCOMPARE(list()->model()->rowCount(), 0);
        QCOMPARE(text("Text2"), u"0"_s);
        QVERIFY(body().isEmpty());
    }

    void rowClickShowsThatRecord()
    {
        store(3);
        QVERIFY(file().write(2, {u"  padded  "_s, u"d"_s, u"a"_s, u"before"_s + QChar(0) + u"after"_s}));
        form()->fillAndShow();
        clickRow(1);
        QCOMPARE(text("Text5"), u"1"_s);
        QCOMPARE(text("Text7"), u"padded"_s);
        QCOMPARE(control<QLineEdit>("Text8")->cursorPosition(), 0); // narrow boxes show the beginning
        QCOMPARE(body(), u"before"_s);
        clickRow(0);
        QCOMPARE(text("Text7"), u"件名1"_s);
        clickRow(0);
        QCOMPARE(text("Text7"), u"件名1"_s);
        QVERIFY(Prompt::shown().isEmpty());
    }

    void deleteOneYesRenumbers()
    {
        store(3);
        form()->fillAndShow();
        clickRow(1);
        Prompt::queueAnswer(Prompt::Answer::Yes);
        click("Command3");
        QCOMPARE(Prompt::shownTexts(), QStringList{u"選択された（行、青色）データを削除します。よろしいですか"_s});
        QCOMPARE(Prompt::shown().first().title, u"確認"_s);
        QCOMPARE(file().count(), 2);
        QCOMPARE(list()->model()->rowCount(), 2);
        QCOMPARE(list()->model()->index(1, 0).data().toString().trimmed(), u"件名3"_s);
        QCOMPARE(text("Text2"), u"2"_s);
        QCOMPARE(text("Text7"), u"件名3"_s);
        QVERIFY(text("Text5").isEmpty());
        // The click was used up.
        Prompt::clearShown();
        click("Command3");
        QCOMPARE(Prompt::shownTexts(), QStringList{u"データが選択されていません"_s});
        QCOMPARE(file().count(), 2);
    }

    void staleRecordNumberReloadsInsteadOfDeleting()
    {
        store(3);
        form()->fillAndShow();
        clickRow(1);
        QVERIFY(file().deleteRecord(1)); // by another process: 件名3 is now record 2
        Prompt::queueAnswer(Prompt::Answer::Yes);
        click("Command3");
        QCOMPARE(Prompt::shownTexts().last(), ListedFile::changedMessage());
        QCOMPARE(file().count(), 2);
        QCOMPARE(list()->model()->rowCount(), 2);
        MailRecord r;
        QVERIFY(file().readHead(2, &r));
        QCOMPARE(r.subject.trimmed(), u"件名3"_s);
    }

    // While a question is open the list may be read again (an automatic
    // receive ended) after another process deleted a mail: what was selected
    // is gone, and nothing is deleted or saved in its place.
    void refillDuringTheQuestion_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("一件削除") << "Command3"_ba;
        QTest::newRow("全件削除") << "Command6"_ba;
        QTest::newRow("TextQuickSave") << "Command2"_ba;
    }
    void refillDuringTheQuestion()
    {
        QFETCH(QByteArray, command);
        store(3);
        form()->fillAndShow();
        clickRow(1);
        const QString saved = m_program->state().root.quickSaveFolder() + u"/件名2.txt"_s;
        QVERIFY(QDir().mkpath(m_program->state().root.quickSaveFolder()));
        QFile old(saved);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        Prompt::queueWhileOpen([this, command] {
            QVERIFY(file().deleteRecord(1)); // 件名3 is now record 2
            if (command == "Command6") // and a new mail the user has not seen
                QVERIFY(file().append({u"新着"_s, u"d"_s, u"a"_s, u"b"_s}) > 0);
            form()->fill();
        });
        Prompt::queueAnswer(Prompt::Answer::Yes);
        click(command.constData());
        QCOMPARE(Prompt::shownTexts().last(), ListedFile::changedMessage());
        QCOMPARE(file().count(), command == "Command6" ? 3 : 2);
        MailRecord r;
        QVERIFY(file().readHead(2, &r));
        QCOMPARE(r.subject.trimmed(), u"件名3"_s);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), "old"_ba);
    }

    // The highlighted row is the shown, replied-to and deleted mail, however it was reached.
    void keyboardSelectionIsTheShownMail()
    {
        store(3);
        form()->fillAndShow();
        clickRow(0);
        QTest::keyClick(list(), Qt::Key_Down);
        QCOMPARE(text("Text7"), u"件名2"_s);
        QCOMPARE(body(), u"本文2\n二行目"_s);
        click("Command5");
        QCOMPARE(m_program->windows().loaded("BackForm")->findChild<QLineEdit *>(u"SubjectText"_s)->text(),
                 u"Re:  件名2"_s);
        QTest::keyClick(list(), Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(text("Text7"), u"件名3"_s);
        QTest::keyClick(list(), Qt::Key_Up);
        click("Command3");
        QCOMPARE(list()->model()->rowCount(), 2);
        QCOMPARE(list()->model()->index(1, 0).data().toString(), u"件名3"_s);
    }

    // A large file takes a while to compact: the program keeps handling events
    // (painting) meanwhile, under a busy pointer.
    void deleteKeepsThePaintingGoing_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("left");
        QTest::newRow("一件削除") << "Command3"_ba << 1499;
        QTest::newRow("全件削除") << "Command6"_ba << 0;
    }
    void deleteKeepsThePaintingGoing()
    {
        QFETCH(QByteArray, command);
        QFETCH(int, left);
        store(1);
        QFile data(m_program->state().root.receivedMailFile());
        QVERIFY(data.open(QIODevice::ReadWrite));
        QVERIFY(data.write(data.readAll().repeated(1499)) == 1499 * MailRecordFile::RecordSize);
        data.close();
        form()->fillAndShow();
        clickRow(0);
        bool busyWhileDeleting = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor)
                busyWhileDeleting = true;
        });
        watch.start(0);
        click(command.constData());
        watch.stop();
        QVERIFY(busyWhileDeleting);
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(file().count(), left);
        QCOMPARE(text("Text2"), QString::number(left));
    }

    // Rows as tall as the text, so the list shows five or more at the designed size.
    void listShowsFiveRowsAtTheDesignedSize()
    {
        store(8);
        form()->fillAndShow();
        QVERIFY(list()->rowHeight(0) >= list()->fontMetrics().height());
        QVERIFY2(list()->viewport()->height() >= 5 * list()->rowHeight(0),
                 qPrintable(u"%1 px rows in %2 px"_s.arg(list()->rowHeight(0)).arg(list()->viewport()->height())));
    }

    void deleteOneNoKeepsListAndEmptiesBody()
    {
        store(3);
        form()->fillAndShow();
        clickRow(2);
        Prompt::queueAnswer(Prompt::Answer::No);
        click("Command3");
        QCOMPARE(file().count(), 3);
        QCOMPARE(list()->model()->rowCount(), 3);
        QVERIFY(body().isEmpty());
        Prompt::clearShown();
        click("Command2");
        QCOMPARE(Prompt::shownTexts(), QStringList{u"データが選択されていません"_s});
    }

    void deleteAll_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes") << 2 << true;
        QTest::newRow("no") << 2 << false;
        QTest::newRow("empty file") << 0 << true;
    }
    void deleteAll()
    {
        QFETCH(int, records);
        QFETCH(bool, yes);
        store(records);
        form()->fillAndShow();
        Prompt::queueAnswer(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
        click("Command6");
        QCOMPARE(Prompt::shownTexts(), QStringList{u"すべてのデータを削除して良いですか？"_s});
        const int left = yes ? 0 : records;
        QCOMPARE(file().count(), left);
        QCOMPARE(list()->model()->rowCount(), left);
        QCOMPARE(text("Text2"), QString::number(left));
        if (yes) {
            QVERIFY(text("Text7").isEmpty());
            QVERIFY(body().isEmpty());
            QVERIFY(!QFile::exists(m_program->state().root.receivedMailTemp()));
        }
    }

    void quickSaveAndOverwriteQuestion()
    {
        QVERIFY(file().append({u"abc"_s, u"d"_s, u"from@example.jp"_s, u"text"_s}) == 1);
        form()->fillAndShow();
        QVERIFY(QDir(m_program->state().root.quickSaveFolder()).removeRecursively()); // made when missing
        clickRow(0);
        click("Command2");
        QVERIFY(Prompt::shown().isEmpty());
        const QString path = m_program->state().root.quickSaveFolder() + u"/abc.txt"_s;
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readLine(), QByteArray("Subject:  abc\r\n"));
        saved.close();
        const QString block = u"Subject:  abc\nFrom:  from@example.jp\nDate:  d\nBody:  text"_s;
        QCOMPARE(body(), block);

        // Second save of the same mail: asked, and No leaves file and body alone.
        clickRow(0);
        form()->rtfEd()->setPlainText(u"changed"_s);
        Prompt::queueAnswer(Prompt::Answer::No);
        click("Command2");
        QCOMPARE(Prompt::shownTexts(), QStringList{u"同名のファイルが既に存在します。上書きしますか？ "_s});
        QCOMPARE(body(), u"changed"_s);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll().endsWith("Body:  text\r\n"));
    }

    void quickSaveFailureIsReported()
    {
        QVERIFY(file().append({u"x"_s, u"d"_s, u"f"_s, u"b"_s}) == 1);
        form()->fillAndShow();
        QVERIFY(QDir(m_program->state().root.quickSaveFolder()).removeRecursively());
        QFile blocker(m_program->state().root.quickSaveFolder());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        clickRow(0);
        click("Command2");
        QCOMPARE(Prompt::shown().size(), 1);
        QVERIFY(Prompt::shownTexts().first().contains(u"TextQuickSave"_s));
        QCOMPARE(body(), u"b"_s);
    }

    void copyBoxFollowsTheHoveredBox()
    {
        store(1);
        form()->fillAndShow();
        const std::pair<const char *, QColor> boxes[] = {
            {"Text7", QColor(255, 255, 0)}, {"Text8", QColor(0, 0, 255)}, {"Text9", QColor(255, 255, 255)}};
        for (const auto &[name, colour] : boxes) {
            hover(control<QLineEdit>(name));
            QCOMPARE(text("Text6"), text(name));
            QCOMPARE(copyColour(), colour);
        }
        click("Command1");
        QCOMPARE(QGuiApplication::clipboard()->text(), u"Mon, 1 Dec 2026"_s);
        hover(list()->viewport());
        QCOMPARE(copyColour(), QColor(128, 128, 128));
    }

    void selectionIsNeeded_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("delete one") << QByteArray("Command3");
        QTest::newRow("quick save") << QByteArray("Command2");
        QTest::newRow("register") << QByteArray("Command4");
        QTest::newRow("reply") << QByteArray("Command5");
    }
    void selectionIsNeeded()
    {
        QFETCH(QByteArray, command);
        store(2);
        form()->fillAndShow();
        click(command.constData());
        QCOMPARE(Prompt::shownTexts(), QStringList{u"データが選択されていません"_s});
        QCOMPARE(file().count(), 2);
        QVERIFY(!m_program->windows().isLoaded("FriendForm"));
        QVERIFY(!m_program->windows().isLoaded("BackForm"));
    }

    void registerAndReplyGetTheShownMail()
    {
        store(2);
        form()->fillAndShow();
        clickRow(0);
        click("Command4");
        QVERIFY(m_program->windows().isLoaded("FriendForm"));
        QVERIFY(m_program->windows().loaded("FriendForm")->isVisible());
        clickRow(0);
        click("Command5");
        QWidget *back = m_program->windows().loaded("BackForm");
        QVERIFY(back && back->isVisible());
        QCOMPARE(back->findChild<QLineEdit *>(u"SubjectText"_s)->text(), u"Re:  件名1"_s);
        QVERIFY(text("Text5").isEmpty());
        // The reply goes; the inbox stays open, with no floating window over it.
        QVERIFY(back->close());
        for (int n = 1; n <= 5; ++n)
            QVERIFY(!m_program->windows().floatingForm(n)->isVisible());
    }

    // A record that lost characters shows, and quotes, the full text saved beside it.
    void savedFullTextIsShownAndQuoted()
    {
        const QString name = u"本文_20261207-090000.txt"_s;
        QVERIFY(file().append({u"笑顔〓"_s, u"d"_s, u"a@example.jp"_s,
                               u"笑顔〓です\r\n"_s + SavedFullText::note(name)}) == 1);
        QFile saved(m_program->state().root.attachmentFolder() + u'/' + name);
        QVERIFY(saved.open(QIODevice::WriteOnly));
        saved.write(u"Subject: 笑顔😀\r\nFrom: a@example.jp\r\nDate: d\r\n\r\n笑顔😀です"_s.toUtf8());
        saved.close();
        form()->fillAndShow();
        QCOMPARE(body(), u"笑顔😀です"_s);
        clickRow(0);
        click("Command5");
        QWidget *back = m_program->windows().loaded("BackForm");
        QVERIFY(back && back->isVisible());
        QVERIFY(back->findChild<QTextEdit *>(u"BodyText"_s)->toPlainText().contains(u"笑顔😀です"_s));
        QVERIFY(!back->findChild<QTextEdit *>(u"BodyText"_s)->toPlainText().contains(u"※"_s));
    }

    void saveKeyWritesTheHeaderBlock()
    {
        store(1);
        form()->fillAndShow();
        const QString path = m_program->dir().filePath(u"saved.txt"_s);
        Prompt::queueFileName(path);
        form()->toolBar()->findChild<QAction *>(u"Save"_s)->trigger();
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(Cp932::decode(saved.readAll()).startsWith(u"Subject:  件名1\r\nFrom:  user1@example.jp\r\n"_s));
    }

    void hideAndShowButtons()
    {
        form()->fillAndShow();
        click("Command8");
        QVERIFY(m_program->windows().floatingForm(3)->isVisible());
        click("Command7");
        for (int n = 1; n <= 5; ++n)
            QVERIFY(!m_program->windows().floatingForm(n)->isVisible());
    }

    // The list is read while the window keeps painting, under the busy
    // pointer; a refill asked for meanwhile leaves the list as the file is.
    void listIsReadWhileTheWindowPaints()
    {
        store(2);
        form()->fillAndShow();
        bool busy = false;
        QTimer::singleShot(0, this, [&] {
            busy = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            QVERIFY(file().append({u"件名3"_s, u"date"_s, u"c@example.jp"_s, u"本文3"_s}) == 3);
            form()->fill();
        });
        form()->fill();
        QVERIFY(busy);
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(list()->model()->rowCount(), 3);
        QCOMPARE(text("Text2"), u"3"_s);
    }

    // Five digits in the count, a whole date beside the scroll bar, and the
    // window within the screen (also run with QT_SCALE_FACTOR=1.25).
    void opensWithinTheScreenAndShowsWholeValues()
    {
        for (int i = 1; i <= 40; ++i)
            QVERIFY(file().append({u"件名%1"_s.arg(i), u"Mon, 07 Dec 2026 09:00:00 +0900"_s, u"a@example.jp"_s,
                                   u"本文"_s}) == i);
        form()->fillAndShow();
        QVERIFY(QTest::qWaitForWindowExposed(form()));
        QVERIFY2(form()->screen()->availableGeometry().contains(form()->frameGeometry()),
                 qPrintable(u"%1,%2 %3x%4"_s.arg(form()->frameGeometry().x()).arg(form()->frameGeometry().y())
                                .arg(form()->frameGeometry().width()).arg(form()->frameGeometry().height())));
        QVERIFY(list()->verticalScrollBar()->isVisible());
        const QHeaderView *header = list()->horizontalHeader();
        const int date = InboxListModel::DateColumn;
        QVERIFY(header->sectionViewportPosition(date) + header->sectionSize(date) <= list()->viewport()->width());
        const QString dateText = list()->model()->index(0, date).data().toString();
        QVERIFY(list()->fontMetrics().horizontalAdvance(dateText) < header->sectionSize(date));

        QLineEdit *count = control<QLineEdit>("Text2");
        count->setText(u"32767"_s);
        count->setCursorPosition(5);
        const QImage fromEnd = count->grab().toImage();
        count->setCursorPosition(0);
        QCOMPARE(count->grab().toImage(), fromEnd); // nothing scrolled out of view
    }

    // The toolbar opens the attachment folder with xdg-open; when no file
    // manager takes it (xdg-open exits 3, or is missing) the user is told where it is.
    void attachmentFolderOpens_data()
    {
        QTest::addColumn<QByteArray>("opener"); // the xdg-open on PATH; empty: none
        QTest::addColumn<bool>("told");
        QTest::newRow("file manager") << QByteArray("echo \"$1\" > \"$0.args\"\nexit 0\n") << false;
        QTest::newRow("no file manager") << QByteArray("echo \"$1\" > \"$0.args\"\nexit 3\n") << true;
        QTest::newRow("no xdg-open") << QByteArray() << true;
    }
    void attachmentFolderOpens()
    {
        QFETCH(QByteArray, opener);
        QFETCH(bool, told);
        QTemporaryDir bin;
        const QString script = bin.filePath(u"xdg-open"_s);
        if (!opener.isEmpty()) {
            QFile file(script);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("#!/bin/sh\n" + opener);
            file.close();
            QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()));
        control<QAction>("OpenAttachmentFolder")->trigger();
        qputenv("PATH", path);
        const QString folder = m_program->state().root.attachmentFolder();
        if (!opener.isEmpty())
            QTRY_VERIFY(QFile::exists(script + u".args"_s));
        if (told) {
            QTRY_COMPARE(Prompt::shown().size(), 1);
            QVERIFY(Prompt::shownTexts().first().endsWith(u'\n' + folder));
        } else {
            QTest::qWait(200);
            QVERIFY(Prompt::shown().isEmpty());
        }
    }
};

QTEST_MAIN(TestTyakuForm)
#include "tst_tyakuform.moc"
