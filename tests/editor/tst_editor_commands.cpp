#include "editor/EditorCommands.h"
#include "storage/AppState.h"
#include "storage/Cp932.h"
#include "winutil/Prompt.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QToolBar>
#include <memory>

using namespace Qt::StringLiterals;
using namespace hollin;

// Two body editors (inbox and compose) sharing one program state, as in the program.
class TestEditorCommands : public QObject {
    Q_OBJECT
    struct Host {
        std::unique_ptr<QWidget> window;
        QTextEdit *body = nullptr;
        EditorCommands *commands = nullptr;
    };

    QTemporaryDir m_dir;
    std::unique_ptr<AppState> m_state;
    Host m_inbox, m_compose;

    Host makeHost(EditorCommands::Host kind)
    {
        Host host;
        host.window = std::make_unique<QWidget>();
        host.body = new QTextEdit(host.window.get());
        host.body->setObjectName(u"rtfEd"_s);
        host.commands = new EditorCommands(*m_state, host.body, host.window.get(), kind);
        host.window->show();
        return host;
    }

    static void select(QTextEdit *body, int from, int to)
    {
        QTextCursor cursor = body->textCursor();
        cursor.setPosition(from);
        cursor.setPosition(to, QTextCursor::KeepAnchor);
        body->setTextCursor(cursor);
    }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_state = std::make_unique<AppState>();
        m_state->root = DataRoot(m_dir.path());
        m_inbox = makeHost(EditorCommands::Host::Inbox);
        m_compose = makeHost(EditorCommands::Host::Compose);
        Prompt::beginScript();
        Prompt::clearShown();
    }

    void cleanup()
    {
        Prompt::endScript();
        m_inbox = {};
        m_compose = {};
    }

    void dispatchByKey_data()
    {
        QTest::addColumn<bool>("inbox");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("handled");
        QTest::newRow("inbox Undo is not a key") << true << u"Undo"_s << false;
        QTest::newRow("compose Undo") << false << u"Undo"_s << true;
        QTest::newRow("compose Save is not a key") << false << u"Save"_s << false;
        QTest::newRow("unknown key") << true << u"Frobnicate"_s << false;
        QTest::newRow("keys are case-sensitive") << false << u"bold"_s << false;
        QTest::newRow("inbox Bold") << true << u"Bold"_s << true;
    }

    void dispatchByKey()
    {
        QFETCH(bool, inbox);
        QFETCH(QString, key);
        QFETCH(bool, handled);
        Host &host = inbox ? m_inbox : m_compose;
        host.body->setPlainText(u"本文"_s);
        host.body->textCursor().insertText(u"追加"_s); // something to undo
        const QString before = host.body->toPlainText();
        QCOMPARE(host.commands->run(key), handled);
        if (!handled)
            QCOMPARE(host.body->toPlainText(), before);
    }

    void undoInComposeRevertsTheLastEdit()
    {
        m_compose.body->setPlainText(u"本文"_s);
        QTextCursor cursor = m_compose.body->textCursor();
        cursor.movePosition(QTextCursor::End);
        m_compose.body->setTextCursor(cursor);
        QTest::keyClicks(m_compose.body, u"abc"_s);
        QVERIFY(m_compose.commands->run(u"Undo"_s));
        QCOMPARE(m_compose.body->toPlainText(), u"本文"_s);
    }

    void styleCountersAreShared()
    {
        m_inbox.commands->run(u"Bold"_s);
        QVERIFY(m_inbox.body->document()->defaultFont().bold());
        QCOMPARE(m_state->boldCount, qint16(1));
        m_compose.commands->run(u"Bold"_s);
        QVERIFY(!m_compose.body->document()->defaultFont().bold());
        QCOMPARE(m_state->boldCount, qint16(2));
        // italic and underline count on their own
        m_compose.commands->run(u"Italic"_s);
        m_compose.commands->run(u"Underline"_s);
        QVERIFY(m_compose.body->document()->defaultFont().italic());
        QVERIFY(m_compose.body->document()->defaultFont().underline());
        m_inbox.commands->run(u"Italic"_s);
        QVERIFY(!m_inbox.body->document()->defaultFont().italic());
    }

    void copyOrCutWithoutSelectionKeepsClipboard()
    {
        QApplication::clipboard()->setText(u"前の内容"_s);
        m_inbox.body->setPlainText(u"あいうえお"_s);
        QTextCursor cursor = m_inbox.body->textCursor();
        cursor.setPosition(3);
        m_inbox.body->setTextCursor(cursor);
        m_inbox.commands->run(u"Copy"_s);
        m_inbox.commands->run(u"Cut"_s);
        QCOMPARE(QApplication::clipboard()->text(), u"前の内容"_s);
        QCOMPARE(m_inbox.body->toPlainText(), u"あいうえお"_s);
        QVERIFY(m_inbox.body->isVisible());
    }

    void copyAndCutOfASelection()
    {
        m_compose.body->setPlainText(u"あいうえお"_s);
        select(m_compose.body, 1, 3);
        m_compose.commands->run(u"Copy"_s);
        QCOMPARE(QApplication::clipboard()->text(), u"いう"_s);
        QCOMPARE(m_compose.body->textCursor().position(), 3);
        QVERIFY(!m_compose.body->textCursor().hasSelection());
        select(m_compose.body, 0, 2);
        m_compose.commands->run(u"Cut"_s);
        QCOMPARE(QApplication::clipboard()->text(), u"あい"_s);
        QCOMPARE(m_compose.body->toPlainText(), u"うえお"_s);
    }

    void pasteTrimsSpacesAndReplacesSelection()
    {
        QApplication::clipboard()->setText(u"  こんにちは　 "_s);
        m_compose.body->setPlainText(u"[xx]"_s);
        select(m_compose.body, 1, 3);
        m_compose.commands->run(u"Paste"_s);
        // only ordinary spaces go; the ideographic one stays
        QCOMPARE(m_compose.body->toPlainText(), u"[こんにちは　]"_s);
    }

    void newInInboxWritesOneEmptyFileAndSetsCaption()
    {
        m_inbox.body->setPlainText(u"受信本文"_s);
        m_inbox.commands->run(u"New"_s);
        QCOMPARE(m_inbox.body->toPlainText(), QString());
        QCOMPARE(m_state->editorFileName, u"新規作成.TXT"_s);
        QCOMPARE(m_inbox.window->windowTitle(), u"新規作成.TXT      新規作成.TXT"_s);
        QFile file(m_dir.filePath(u"新規作成.TXT"_s));
        QVERIFY(file.exists());
        QCOMPARE(file.size(), 0);
    }

    void newInComposeAsksAndCanBeUndone()
    {
        QFile::remove(m_dir.filePath(u"新規作成.TXT"_s)); // left by the inbox's "New"
        m_state->editorFileName.clear();
        m_compose.window->setWindowTitle(u"新規作成"_s);
        m_compose.body->setPlainText(u"書きかけ"_s);
        Prompt::queueAnswer(Prompt::Answer::No);
        m_compose.commands->run(u"New"_s);
        QCOMPARE(Prompt::shownTexts(), QStringList{EditorCommands::startOverQuestion()});
        QCOMPARE(m_compose.body->toPlainText(), u"書きかけ"_s);
        for (int time = 1; time <= 2; ++time) { // works every time
            Prompt::queueAnswer(Prompt::Answer::Yes);
            m_compose.commands->run(u"New"_s);
            QCOMPARE(m_compose.body->toPlainText(), QString());
            m_compose.commands->run(u"Undo"_s);
            QCOMPARE(m_compose.body->toPlainText(), u"書きかけ"_s);
        }
        QCOMPARE(m_compose.window->windowTitle(), u"新規作成"_s);
        QVERIFY(!QFile::exists(m_dir.filePath(u"新規作成.TXT"_s)));
        Prompt::clearShown();
        m_compose.body->clear();
        m_compose.commands->run(u"New"_s); // nothing typed: nothing to ask
        QVERIFY(Prompt::shownTexts().isEmpty());
    }

    void newSavesAModifiedTextFirst()
    {
        const QString path = m_dir.filePath(u"memo.txt"_s);
        m_state->editorFileName = path;
        m_state->editorModified = -1;
        m_inbox.body->setPlainText(u"保存される①"_s);
        m_inbox.commands->run(u"New"_s);
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), Cp932::encode(u"保存される①"_s));
        QCOMPARE(m_state->editorFileName, m_dir.path() + u"/新規作成.TXT"_s);
        QCOMPARE(m_state->editorModified, qint16(0));
    }

    void openReadsUtf8OrCp932_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QString text = u"一行目～\r\n二行目㈱"_s;
        QTest::newRow("cp932") << Cp932::encode(text);
        QTest::newRow("utf-8 with byte order mark") << QByteArray("\xEF\xBB\xBF") + text.toUtf8();
        QTest::newRow("utf-8") << text.toUtf8();
    }

    void openReadsUtf8OrCp932()
    {
        QFETCH(QByteArray, bytes);
        const QString path = m_dir.filePath(u"in.txt"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        Prompt::queueFileName(path);
        m_compose.commands->run(u"Open"_s);
        QCOMPARE(m_compose.body->toPlainText(), u"一行目～\n二行目㈱\n"_s);
    }

    void openCancelledLeavesBody()
    {
        m_compose.body->setPlainText(u"そのまま"_s);
        m_compose.commands->run(u"Open"_s); // no file queued: the dialog is cancelled
        QCOMPARE(m_compose.body->toPlainText(), u"そのまま"_s);
        for (const Prompt::Shown &shown : Prompt::shown())
            QVERIFY2(shown.kind != Prompt::Kind::Message, qPrintable(shown.text)); // a cancel is silent
    }

    void saveWritesTheHeaderBlock()
    {
        const QString path = m_dir.filePath(u"out.txt"_s);
        m_inbox.commands->setHeaderBlock([] { return u"Subject:  件名\r\nFrom:  a@b\r\nDate:  今日\r\nBody:  本文"_s; });
        Prompt::queueFileName(path);
        m_inbox.commands->run(u"Save"_s);
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), Cp932::encode(u"Subject:  件名\r\nFrom:  a@b\r\nDate:  今日\r\nBody:  本文\r\n"_s));
        QCOMPARE(m_inbox.window->windowTitle(), path);
    }

    void printsOnlyTheSelectionOncePerCopy()
    {
        if (QStandardPaths::findExecutable(u"pdftotext"_s).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        m_compose.body->setPlainText(u"NOTPRINTED before SELECTEDTEXT after"_s);
        const int from = m_compose.body->toPlainText().indexOf(u"SELECTEDTEXT"_s);
        select(m_compose.body, from, from + 12);
        const QString pdf = m_dir.filePath(u"print.pdf"_s);
        Prompt::queuePrinterSetup([&](QPrinter &printer) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            printer.setCopyCount(2);
        });
        QStringList jobs;
        m_compose.commands->setAfterPrintJob([&](int copy) {
            const QString kept = m_dir.filePath(u"copy%1.pdf"_s.arg(copy));
            QVERIFY(QFile::copy(pdf, kept));
            QFile::remove(pdf);
            jobs << kept;
        });
        m_compose.commands->run(u"Print"_s);
        QCOMPARE(jobs.size(), 2);
        for (const QString &job : jobs) {
            QProcess text;
            text.start(u"pdftotext"_s, {job, u"-"_s});
            QVERIFY(text.waitForFinished(20000));
            const QString printed = QString::fromUtf8(text.readAllStandardOutput());
            QCOMPARE(printed.count(u"SELECTEDTEXT"_s), 1);
            QVERIFY(!printed.contains(u"NOTPRINTED"_s));
        }
    }

    void toolbarActionsRunTheirKeys()
    {
        QWidget window;
        auto *body = new QTextEdit(&window);
        auto *toolBar = new QToolBar(&window);
        for (const QString &key : {u"Bold"_s, u"Paste"_s, u"Extra"_s})
            toolBar->addAction(key)->setObjectName(key);
        attachEditorCommands(*m_state, toolBar, body, &window, EditorCommands::Host::Compose);
        toolBar->actions().at(0)->trigger();
        QVERIFY(body->document()->defaultFont().bold());
        QApplication::clipboard()->setText(u" 貼付 "_s);
        toolBar->actions().at(1)->trigger();
        QCOMPARE(body->toPlainText(), u"貼付"_s);
        toolBar->actions().at(2)->trigger(); // not a key: nothing happens
        QCOMPARE(body->toPlainText(), u"貼付"_s);
    }

    void printCancelledPrintsNothing()
    {
        int jobs = 0;
        m_inbox.commands->setAfterPrintJob([&](int) { ++jobs; });
        m_inbox.commands->run(u"Print"_s); // no printer setup queued: cancelled
        QCOMPARE(jobs, 0);
    }
};

QTEST_MAIN(TestEditorCommands)
#include "tst_editor_commands.moc"
