#include "FakeWindows.h"
#include "editor/KaoForm.h"
#include "editor/KaoPalette.h"
#include "storage/AppState.h"
#include "storage/Cp932.h"
#include "winutil/Prompt.h"
#include "winutil/TextFiles.h"
#include "winutil/Windows.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QInputMethodEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

// Two bodies to insert into, registered with a stand-in owner as the compose
// and reply windows.
struct BodyWindows : FakeWindows {
    QWidget compose, reply;
    BodyWindows()
    {
        (new QTextEdit(&compose))->setObjectName(u"rtfEd"_s);
        (new QTextEdit(&reply))->setObjectName(u"BodyText"_s);
        widgets.insert("WriteForm", &compose);
        widgets.insert("BackForm", &reply);
    }
    QTextEdit *composeBody() { return compose.findChild<QTextEdit *>(u"rtfEd"_s); }
};

} // namespace

class TestKaoPalette : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    AppState m_state;
    std::unique_ptr<BodyWindows> m_windows;

    QString paletteFile() const { return m_state.root.resolve(u"顔文字データ/Kao1.txt"_s); }

    void writePalette(const QByteArray &bytes)
    {
        QFile file(paletteFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QByteArray paletteBytes() const
    {
        QFile file(paletteFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    std::unique_ptr<KaoForm> openPalette()
    {
        auto form = std::make_unique<KaoForm>(AppContext{m_state, *m_windows});
        form->show();
        return form;
    }

    static void select(QPlainTextEdit *edit, int from, int to)
    {
        QTextCursor cursor = edit->textCursor();
        cursor.setPosition(from);
        cursor.setPosition(to, QTextCursor::KeepAnchor);
        edit->setTextCursor(cursor);
    }

private slots:
    void init()
    {
        m_state.root = DataRoot(m_dir.path());
        QVERIFY(m_state.root.ensureTree());
        QFile::remove(paletteFile());
        QDir().rmdir(paletteFile());
        m_windows = std::make_unique<BodyWindows>();
        Prompt::beginScript();
        Prompt::clearShown();
    }
    void cleanup() { Prompt::endScript(); }

    void saveRoundTripInCp932_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("final line end kept once") << u"(^_^)\n①㈱\n"_s << Cp932::encode(u"(^_^)\r\n①㈱\r\n"_s);
        QTest::newRow("missing final line end added") << u"～"_s << QByteArray("\x81\x60\r\n");
        QTest::newRow("empty palette") << QString() << QByteArray("\r\n");
    }

    void saveRoundTripInCp932()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        KaoPalette palette(paletteFile());
        QVERIFY(palette.save(text));
        QCOMPARE(paletteBytes(), bytes);
        QString loaded;
        QVERIFY(palette.load(&loaded));
        QVERIFY(palette.save(loaded));
        QCOMPARE(paletteBytes(), bytes);
    }

    void openAndCloseWithoutEditLeavesTheFile()
    {
        const QByteArray original = Cp932::encode(u"(^o^)\r\nヽ(´ー｀)ノ\r\n"_s);
        writePalette(original);
        auto form = openPalette();
        QCOMPARE(form->palette()->toPlainText(), u"(^o^)\nヽ(´ー｀)ノ\n"_s);
        form->close();
        QCOMPARE(paletteBytes(), original);
    }

    void missingFileGetsTheShippedPalette()
    {
        auto form = openPalette();
        QVERIFY(form->palette()->toPlainText().size() > 300);
        QVERIFY(Cp932::canEncode(form->palette()->toPlainText()));
        QVERIFY(QFile::exists(paletteFile()));
        // Every note is shown whole, within the window.
        for (const char *name : {"Label1", "Label2", "Label3"}) {
            const QLabel *note = form->findChild<QLabel *>(QLatin1StringView(name));
            QVERIFY(note);
            QVERIFY2(note->heightForWidth(note->width()) <= note->height(), name);
            QVERIFY(note->geometry().bottom() < form->height());
        }
    }

    void insertSelectionTrimmedIntoNewMail()
    {
        writePalette(Cp932::encode(u"abc  (^_^)\r\n(*^^*)  xyz\r\n"_s));
        m_windows->compose.show();
        QTextEdit *body = m_windows->composeBody();
        body->setPlainText(u"[--]"_s);
        QTextCursor target = body->textCursor();
        target.setPosition(1);
        target.setPosition(3, QTextCursor::KeepAnchor);
        body->setTextCursor(target);

        auto form = openPalette();
        select(form->palette(), 3, 19); // "  (^_^)\n(*^^*)  "
        form->findChild<QPushButton *>(u"Command1"_s)->click();
        QCOMPARE(body->toPlainText(), u"[(^_^)\n(*^^*)]"_s);
        QCOMPARE(QApplication::clipboard()->text(), u"  (^_^)\n(*^^*)  "_s);
        QCOMPARE(form->palette()->textCursor().position(), 19);
        QVERIFY(!form->isVisible());
    }

    void insertWithoutSelectionTouchesNothing()
    {
        writePalette(Cp932::encode(u"(^_^)\r\n"_s));
        m_windows->compose.show();
        QTextEdit *body = m_windows->composeBody();
        body->setPlainText(u"abc"_s);
        body->selectAll();
        QApplication::clipboard()->setText(u"前の内容"_s);
        auto form = openPalette();
        QTextCursor cursor = form->palette()->textCursor();
        cursor.setPosition(4);
        form->palette()->setTextCursor(cursor);
        form->insertIntoNewMail();
        QCOMPARE(Prompt::shownTexts(), QStringList{u"範囲を選択して下さい"_s});
        QCOMPARE(body->toPlainText(), u"abc"_s);
        QCOMPARE(QApplication::clipboard()->text(), u"前の内容"_s);
        QCOMPARE(form->palette()->textCursor().position(), 4);
        QVERIFY(form->isVisible());
    }

    void insertIntoAClosedWindowNamesIt()
    {
        writePalette(Cp932::encode(u"(^_^)\r\n"_s));
        auto form = openPalette();
        form->palette()->selectAll();
        form->insertIntoReply(); // the reply window is not on screen
        QCOMPARE(Prompt::shownTexts().last(), u"「返事を書く」画面が開いていません。"_s);
        QVERIFY(m_windows->reply.findChild<QTextEdit *>(u"BodyText"_s)->toPlainText().isEmpty());
        QVERIFY(form->isVisible());
    }

    void saveAsksBeforeLosingCharacters_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("keep editing") << false;
        QTest::newRow("save with 〓") << true;
    }

    void saveAsksBeforeLosingCharacters()
    {
        const QByteArray original = Cp932::encode(u"A\r\n"_s);
        writePalette(original);
        auto form = openPalette();
        form->palette()->setPlainText(u"A😀𠮷😀\n"_s);
        QFETCH(bool, yes);
        Prompt::queueAnswer(yes ? Prompt::Answer::Yes : Prompt::Answer::No);
        form->close();
        QCOMPARE(Prompt::shownTexts(), QStringList{cp932LossQuestion(u"😀𠮷"_s)});
        QVERIFY(Prompt::shownTexts().first().contains(u"😀𠮷"_s));
        QCOMPARE(form->isVisible(), !yes);
        QCOMPARE(paletteBytes(), yes ? Cp932::encode(u"A〓〓〓\r\n"_s) : original);
    }

    // A palette that cannot be written keeps the window and its edits unless the user lets them go.
    void unsavedEditsStayUnlessDropped()
    {
        writePalette(Cp932::encode(u"A\r\n"_s));
        auto form = openPalette();
        form->palette()->setPlainText(u"A\n(^_^)v\n"_s);
        QVERIFY(QFile::remove(paletteFile()) && QDir().mkpath(paletteFile())); // the save must fail
        QString defaultAnswer;
        Prompt::queueWhileOpen([&form, &defaultAnswer] {
            if (auto *box = form->findChild<QMessageBox *>())
                defaultAnswer = box->defaultButton()->text(); // what Enter answers
        });
        Prompt::queueAnswer(Prompt::Answer::Cancel);
        form->close();
        QCOMPARE(defaultAnswer, u"閉じない"_s);
        QCOMPARE(Prompt::shown().size(), 1);
        QCOMPARE(Prompt::shown().first().kind, Prompt::Kind::YesNoCancel);
        QVERIFY(form->isVisible());
        QCOMPARE(form->palette()->toPlainText(), u"A\n(^_^)v\n"_s);
        Prompt::queueAnswer(Prompt::Answer::Yes);
        form->close();
        QVERIFY(!form->isVisible());
    }

    // A face mark still being composed by the input method is saved with the rest.
    void openCompositionIsSavedOnClose()
    {
        writePalette(Cp932::encode(u"A\r\n"_s));
        auto form = openPalette();
        form->palette()->moveCursor(QTextCursor::End);
        QInputMethodEvent composing(u"かお"_s, {});
        QApplication::sendEvent(form->palette(), &composing);
        form->close();
        QCOMPARE(paletteBytes(), Cp932::encode(u"A\r\nかお\r\n"_s));
    }

    void editPastesTrimmedClipboardAndSavesOnClose()
    {
        writePalette(Cp932::encode(u"A\r\n"_s));
        auto form = openPalette();
        QTextCursor cursor = form->palette()->textCursor();
        cursor.movePosition(QTextCursor::End);
        form->palette()->setTextCursor(cursor);
        QApplication::clipboard()->setText(u"  (≧▽≦)  "_s);
        form->findChild<QPushButton *>(u"Command3"_s)->click();
        form->close();
        QCOMPARE(paletteBytes(), Cp932::encode(u"A\r\n(≧▽≦)\r\n"_s));
    }
};

QTEST_MAIN(TestKaoPalette)
#include "tst_kao_palette.moc"
