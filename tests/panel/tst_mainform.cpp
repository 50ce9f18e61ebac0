#include "app/AppWindows.h"
#include "editor/KaoForm.h"
#include "editor/KaoPalette.h"
#include "inbox/AutoReceive.h"
#include "inbox/ReceiveController.h"
#include "panel/DocPages.h"
#include "panel/FloatingForm.h"
#include "panel/MainForm.h"
#include "panel/ProgramEnd.h"
#include "settings/SetForm.h"
#include "winutil/Twips.h"
#include "storage/AppState.h"
#include "storage/MailRecordFile.h"
#include "storage/OwnSettings.h"
#include "storage/ProfileFile.h"
#include "winutil/Prompt.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace hollin;

// Each test starts the program's windows on a fresh data folder, as main() does.
class TestMainForm : public QObject {
    Q_OBJECT

public slots:
    // Stands in for the desktop's browser.
    void openInBrowser(const QUrl &url) { m_opened.append(url); }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<AppWindows> m_windows;
    int m_ends = 0;
    QList<QUrl> m_opened;

    MainForm *start()
    {
        stop();
        m_state = std::make_unique<AppState>();
        m_state->root = DataRoot(m_dir->path());
        m_windows = std::make_unique<AppWindows>(*m_state);
        MainForm *panel = m_windows->mainForm();
        panel->show();
        return panel;
    }
    void stop()
    {
        m_windows.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    template <class W>
    W *control(const char *name)
    {
        W *w = m_windows->mainForm()->findChild<W *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    int px(int twips) { return twips::toPixels(twips, m_windows->mainForm()->logicalDpiX()); }
    QSize pxSize(int w, int h) { return QSize(px(w), px(h)); }
    void writeIni(const QString &path, const QByteArray &lines)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("[EXEINI]\r\n" + lines);
    }
    QByteArray bytes(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QColor background() { return control<QWidget>("Picture2")->palette().color(QPalette::Window); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(DataRoot(m_dir->path()).ensureTree());
        m_ends = 0;
        m_opened.clear();
        ProgramEnd::setHook([this] { ++m_ends; });
        Prompt::beginScript();
        Prompt::clearShown();
    }
    void cleanup()
    {
        stop();
        Prompt::endScript();
        ProgramEnd::setHook({});
    }

    void freshRootStartsWithTheDesignedLook()
    {
        MainForm *panel = start();
        QCOMPARE(panel->windowTitle(), u"個性が光る、レイアウト自由自在 Ver 1.0"_s);
        QCOMPARE(panel->pos(), QPoint(0, 0));
        // No stored positions: the floating windows in a row below the panel, side by side.
        for (int n = 1; n <= 5; ++n) {
            const QRect r = m_windows->floatingForm(n)->geometry();
            QVERIFY(r.top() >= panel->height());
            QCOMPARE(r.top(), m_windows->floatingForm(1)->y());
            if (n > 1)
                QVERIFY(r.left() >= m_windows->floatingForm(n - 1)->geometry().right());
            QVERIFY(m_windows->floatingForm(n)->isVisible());
        }
        QCOMPARE(panel->size(), pxSize(MainForm::DesignedWidth, MainForm::DesignedHeight));
        QCOMPARE(background(), QColor(0xC0, 0xC0, 0xC0));
        QVERIFY(!control<QCheckBox>("Check1")->isChecked());
        QVERIFY(!control<QCheckBox>("Check2")->isChecked());
        QVERIFY(control<QPushButton>("Command1")->isEnabled());
        QVERIFY(control<QPushButton>("Command2")->isEnabled());
        QVERIFY(control<QLabel>("Image1")->pixmap().isNull());
        QCOMPARE(control<QLineEdit>("Text4")->text(), u"0"_s);
        // The settings window is loaded, hidden; the received-mail file exists.
        QVERIFY(m_windows->isLoaded("SetForm"));
        QVERIFY(!m_windows->loaded("SetForm")->isVisible());
        QVERIFY(QFile::exists(m_state->root.receivedMailFile()));
        // The shape: the background area; nothing of the panel shows below it
        // (Text1 and Text2 are scratch boxes there).
        const QRegion mask = panel->mask();
        QVERIFY(mask.contains(QPoint(px(7000), px(2800))));
        QVERIFY(!mask.contains(QPoint(px(8000), px(1000))));
        QVERIFY(!mask.contains(QPoint(px(500), px(4000))));
        QCOMPARE(mask.boundingRect().bottom(), control<QWidget>("Picture2")->geometry().bottom());
        QVERIFY(!mask.contains(control<QLineEdit>("Text1")->geometry().center()));
        QVERIFY(!mask.contains(control<QLineEdit>("Text2")->geometry().center()));
        QVERIFY(Prompt::shownTexts().isEmpty());
        QCOMPARE(m_ends, 0);
    }

    void panelSizeAtStartUp_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QSize>("twipsSize");
        QTest::addColumn<bool>("smallEnabled");
        QTest::addColumn<bool>("largeEnabled");
        QTest::newRow("1 small") << QByteArray("1") << QSize(7000, 3165) << false << true;
        QTest::newRow("2 large") << QByteArray("2") << QSize(9000, 4080) << true << false;
        QTest::newRow("3 designed") << QByteArray("3") << QSize(9330, 5265) << true << true;
    }
    void panelSizeAtStartUp()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QSize, twipsSize);
        QFETCH(bool, smallEnabled);
        QFETCH(bool, largeEnabled);
        writeIni(DataRoot(m_dir->path()).iniFile(), "NUMBER7=" + stored + "\r\n");
        MainForm *panel = start();
        QCOMPARE(panel->size(), pxSize(twipsSize.width(), twipsSize.height()));
        QCOMPARE(control<QPushButton>("Command1")->isEnabled(), smallEnabled);
        QCOMPARE(control<QPushButton>("Command2")->isEnabled(), largeEnabled);
        // Applying the stored size writes nothing back.
        QVERIFY(bytes(m_state->root.iniFile()).contains("NUMBER7=" + stored));
    }

    void sizeButtonsWriteTheirChoice()
    {
        MainForm *panel = start();
        QTest::mouseClick(control<QPushButton>("Command2"), Qt::LeftButton);
        QCOMPARE(panel->size(), pxSize(9000, 4080));
        QVERIFY(!control<QPushButton>("Command2")->isEnabled());
        QCOMPARE(ProfileFile(m_state->root.iniFile()).readText(u"NUMBER7"_s), u"2"_s);
        QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
        QCOMPARE(panel->size(), pxSize(7000, 3165));
        QCOMPARE(ProfileFile(m_state->root.iniFile()).readText(u"NUMBER7"_s), u"1"_s);
        start();
        QCOMPARE(m_windows->mainForm()->size(), pxSize(7000, 3165));
    }

    // The palette and the settings window keep what was typed in them when
    // they close: 終了 closes them too, so nothing typed there is dropped.
    void exitKeepsWhatTheOpenPaletteAndSettingsHold()
    {
        start();
        KaoForm *palette = m_windows->kaoForm();
        palette->show();
        palette->palette()->setPlainText(u"(^_^)v\n"_s);
        SetForm *settings = m_windows->setForm();
        settings->show();
        settings->findChild<QPlainTextEdit *>(u"SignatureText"_s)->setPlainText(u"山田 太郎"_s);
        QTest::mouseClick(control<QPushButton>("Command4"), Qt::LeftButton);
        QCOMPARE(m_ends, 1);
        QCOMPARE(OwnSettings(m_state->root.hollinIniFile()).signature(), u"山田 太郎"_s);
        QString kept;
        QVERIFY(KaoPalette(m_state->root.resolve(u"顔文字データ/Kao1.txt"_s)).load(&kept));
        QCOMPARE(kept, u"(^_^)v\n"_s);
    }

    void exitSavesPositionsAndBoxesForTheNextStart()
    {
        // NUMBER2 = 0 only counts while NUMBER9 is absent.
        writeIni(DataRoot(m_dir->path()).iniFile(), "NUMBER2=0\r\n");
        MainForm *panel = start();
        panel->move(px(1500), px(3000));
        for (int n = 1; n <= 5; ++n)
            m_windows->floatingForm(n)->move(px(n * 1500), px(n * 600));
        control<QCheckBox>("Check2")->setChecked(true);
        QTest::mouseClick(control<QPushButton>("Command4"), Qt::LeftButton);
        QCOMPARE(m_ends, 1);

        const QByteArray form = bytes(m_state->root.formIniFile());
        QVERIFY(form.contains("NUMBERW=1500\r\n"));
        QVERIFY(form.contains("NUMBERH=3000\r\n"));
        QVERIFY(form.contains("NUMBERF9L=1500\r\n"));
        QVERIFY(form.contains("NUMBERF8T=1800\r\n"));
        QVERIFY(form.contains("NUMBERF7L=7500\r\n"));
        const ProfileFile ini(m_state->root.iniFile());
        QCOMPARE(ini.readText(u"NUMBER8"_s), u"0"_s);
        QCOMPARE(ini.readText(u"NUMBER9"_s), u"1"_s);

        panel = start();
        QCOMPARE(panel->pos(), QPoint(px(1500), px(3000)));
        for (int n = 1; n <= 5; ++n)
            QCOMPARE(m_windows->floatingForm(n)->pos(), QPoint(px(n * 1500), px(n * 600)));
        QVERIFY(control<QCheckBox>("Check2")->isChecked());
        QVERIFY(!control<QCheckBox>("Check1")->isChecked());
    }

    // 終了 while an automatic receive waits for a server that does not answer
    // its connect: the receive is cancelled, the positions are saved at once,
    // and the program's end does not wait for the connect timeout.
    void exitDuringAnAutomaticReceiveSavesAtOnce()
    {
        // A listener whose queue is full drops further SYNs: a connect to it hangs.
        const int full = ::socket(AF_INET, SOCK_STREAM, 0);
        const int queued = ::socket(AF_INET, SOCK_STREAM, 0);
        auto closeBoth = qScopeGuard([&] { ::close(full); ::close(queued); });
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        QVERIFY(::bind(full, reinterpret_cast<sockaddr *>(&a), len) == 0 && ::listen(full, 0) == 0);
        QVERIFY(::getsockname(full, reinterpret_cast<sockaddr *>(&a), &len) == 0);
        QVERIFY(::connect(queued, reinterpret_cast<sockaddr *>(&a), len) == 0);

        MainForm *panel = start();
        m_state->pop3Server = u"127.0.0.1:%1"_s.arg(ntohs(a.sin_port));
        panel->move(px(1500), px(3000));
        m_windows->autoReceive().setInterval(std::chrono::milliseconds(1));
        QTRY_VERIFY(ReceiveController::isRunning());
        m_windows->autoReceive().setInterval(std::chrono::milliseconds(0));
        QTest::qWait(300); // connecting

        QElapsedTimer t;
        t.start();
        QTest::mouseClick(control<QPushButton>("Command4"), Qt::LeftButton);
        QCOMPARE(m_ends, 1);
        QVERIFY(Prompt::shown().isEmpty());
        QVERIFY(bytes(m_state->root.formIniFile()).contains("NUMBERW=1500\r\n"));
        stop(); // what the program's end does: waits for the receive's thread
        QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
    }

    void closeRequestSavesNothing()
    {
        writeIni(DataRoot(m_dir->path()).formIniFile(), "NUMBERW=300\r\n");
        MainForm *panel = start();
        const QByteArray iniBefore = bytes(m_state->root.iniFile());
        m_windows->floatingForm(3)->move(200, 200);
        control<QCheckBox>("Check1")->setChecked(true);
        QVERIFY(panel->close());
        QCOMPARE(m_ends, 1);
        QCOMPARE(bytes(m_state->root.formIniFile()), QByteArray("[EXEINI]\r\nNUMBERW=300\r\n"));
        QCOMPARE(bytes(m_state->root.iniFile()), iniBefore);
    }

    void startUpBoxes_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<bool>("check1");
        QTest::addColumn<bool>("check2");
        QTest::newRow("initial values") << QByteArray("NUMBER=1\r\nNUMBER2=1\r\n") << true << true;
        QTest::newRow("saved values win") << QByteArray("NUMBER=1\r\nNUMBER2=0\r\nNUMBER8=0\r\nNUMBER9=1\r\n")
                                          << false << true;
        QTest::newRow("other values leave the boxes") << QByteArray("NUMBER=1\r\nNUMBER8=7\r\nNUMBER9=-1\r\n")
                                                      << true << false;
    }
    void startUpBoxes()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, check1);
        QFETCH(bool, check2);
        writeIni(DataRoot(m_dir->path()).iniFile(), ini);
        start();
        QCOMPARE(control<QCheckBox>("Check1")->isChecked(), check1);
        QCOMPARE(control<QCheckBox>("Check2")->isChecked(), check2);
        QCOMPARE(m_windows->mainForm()->explanationsState(), check1 ? Qt::Checked : Qt::Unchecked);
    }

    // A cancel keeps the colour, shown and stored.
    void colourChooser()
    {
        start();
        QTest::mouseClick(control<QPushButton>("Command9"), Qt::LeftButton); // nothing queued: cancel
        QVERIFY(ProfileFile(m_state->root.iniFile()).readText(u"NAME"_s).isEmpty());
        QCOMPARE(background(), QColor(0xC0, 0xC0, 0xC0));

        Prompt::queueColour(0x0000FF);
        QTest::mouseClick(control<QPushButton>("Command9"), Qt::LeftButton);
        QCOMPARE(background(), QColor(255, 0, 0));
        QCOMPARE(ProfileFile(m_state->root.iniFile()).readText(u"NAME"_s), u"255"_s);
        QTest::mouseClick(control<QPushButton>("Command9"), Qt::LeftButton);
        QCOMPARE(background(), QColor(255, 0, 0));
        QCOMPARE(ProfileFile(m_state->root.iniFile()).readText(u"NAME"_s), u"255"_s);
        start();
        QCOMPARE(background(), QColor(255, 0, 0));
    }

    void storedColourNotANumberKeepsTheDesign_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("cancelled") << QByteArray("NAME=-1\r\n");
        QTest::newRow("empty") << QByteArray("NAME=\r\n");
        QTest::newRow("garbage") << QByteArray("NAME=blue\r\n");
        QTest::newRow("missing") << QByteArray();
    }
    void storedColourNotANumberKeepsTheDesign()
    {
        QFETCH(QByteArray, line);
        writeIni(DataRoot(m_dir->path()).iniFile(), line);
        start();
        QCOMPARE(background(), QColor(0xC0, 0xC0, 0xC0));
        QVERIFY(Prompt::shownTexts().isEmpty());
    }

    void mailCountIsReadAtStartUp()
    {
        const DataRoot root(m_dir->path());
        MailRecordFile received(root.receivedMailFile(), root.receivedMailTemp());
        for (int i = 0; i < 3; ++i)
            QVERIFY(received.append(MailRecord{u"件名"_s, u"date"_s, u"a@example.jp"_s, u"本文"_s}) > 0);
        // A copy left by an interrupted deletion, longer than the file: reading leaves both alone.
        const QByteArray data = bytes(root.receivedMailFile());
        QFile stale(root.receivedMailTemp());
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write(data + data);
        stale.close();
        start();
        QCOMPARE(control<QLineEdit>("Text4")->text(), u"3"_s);
        QCOMPARE(bytes(root.receivedMailFile()), data);
        QCOMPARE(bytes(root.receivedMailTemp()), data + data);
        QVERIFY(QFile::remove(root.receivedMailTemp()));
        QVERIFY(received.deleteRecord(1));
        QCOMPARE(control<QLineEdit>("Text4")->text(), u"3"_s);
        m_windows->mainForm()->setNewMailCount(2);
        QCOMPARE(control<QLineEdit>("Text6")->text(), u"2"_s);
    }

    void serverSettingsReachTheProgramValues()
    {
        QFile file(DataRoot(m_dir->path()).serverSettingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("SMTP=smtp.example.jp\r\nPOP3=pop.example.jp:110\r\nMAIL=me@example.jp\r\nAPOP=1\r\n");
        file.close();
        start();
        QCOMPARE(m_state->smtpServer, u"smtp.example.jp"_s);
        QCOMPARE(m_state->pop3Server, u"pop.example.jp:110"_s);
        QCOMPARE(m_state->mailAddress, u"me@example.jp"_s);
        QCOMPARE(m_state->apopFlag, qint16(1));
    }

    void pictureSets()
    {
        writeIni(DataRoot(m_dir->path()).iniFile(), "NUMBER6=2\r\n");
        start();
        QVERIFY(!control<QLabel>("Image1")->pixmap().isNull());
        QVERIFY(control<QRadioButton>("Option2")->isChecked());

        // Load with Option4 chosen stores the choice.
        control<QRadioButton>("Option4")->setChecked(true);
        QTest::mouseClick(control<QPushButton>("Command3"), Qt::LeftButton);
        QCOMPARE(ProfileFile(m_state->root.iniFile()).readText(u"NUMBER6"_s), u"4"_s);

        // A picture that cannot be read keeps the look, is reported, and is not stored.
        QFile broken(m_state->root.resolve(u"画像データ/5.jpg"_s));
        QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
        broken.write("not a picture");
        broken.close();
        const QImage before = control<QLabel>("Image1")->pixmap().toImage();
        control<QRadioButton>("Option5")->setChecked(true);
        QTest::mouseClick(control<QPushButton>("Command3"), Qt::LeftButton);
        QCOMPARE(control<QLabel>("Image1")->pixmap().toImage(), before);
        QCOMPARE(ProfileFile(m_state->root.iniFile()).readText(u"NUMBER6"_s), u"4"_s);
        QCOMPARE(Prompt::shownTexts().size(), 1);
        QVERIFY(Prompt::shownTexts().first().startsWith(u"パネルの画像を読み込めません。"_s));
    }

    // The shipped pages open in a window of the program's own (no browser
    // needed); links between them stay there, other links go to the browser.
    void pagesOpenInTheirOwnWindow()
    {
        start();
        QTest::mouseClick(control<QPushButton>("Command5"), Qt::LeftButton);
        auto *pages = control<DocPageWindow>("DocPageWindow");
        QVERIFY(pages->isVisible());
        QCOMPARE(pages->source(), QUrl(u"qrc:/doc/manual.html"_s));
        QVERIFY(pages->toPlainText().contains(u"POP3"_s));
        QTest::mouseClick(control<QPushButton>("Command6"), Qt::LeftButton);
        QCOMPARE(pages->source(), QUrl(u"qrc:/doc/release-notes.html"_s));
        QCOMPARE(m_windows->mainForm()->findChildren<DocPageWindow *>().size(), 1);

        emit pages->anchorClicked(QUrl(u"manual.html#account"_s));
        QCOMPARE(pages->source(), QUrl(u"qrc:/doc/manual.html#account"_s));
        QDesktopServices::setUrlHandler(u"https"_s, this, "openInBrowser");
        emit pages->anchorClicked(QUrl(u"https://example.jp/help"_s));
        QDesktopServices::unsetUrlHandler(u"https"_s);
        QCOMPARE(m_opened, QList<QUrl>{QUrl(u"https://example.jp/help"_s)});
        QCOMPARE(pages->source(), QUrl(u"qrc:/doc/manual.html#account"_s));
        QCOMPARE(control<QPushButton>("Command5")->text(), u"使い方"_s);
        QCOMPARE(control<QPushButton>("Command6")->text(), u"更新履歴"_s);
    }

    // Both counts fit five digits: the box shows "32767" whole, beside its
    // label's whole text and clear of the picture.
    void countBoxShowsFiveDigits_data()
    {
        QTest::addColumn<QByteArray>("box");
        QTest::addColumn<QByteArray>("label");
        QTest::newRow("stored") << QByteArray("Text4") << QByteArray("Text4Label");
        QTest::newRow("new") << QByteArray("Text6") << QByteArray("Text6Label");
    }
    void countBoxShowsFiveDigits()
    {
        QFETCH(QByteArray, box);
        QFETCH(QByteArray, label);
        start();
        QLineEdit *count = control<QLineEdit>(box.constData());
        auto *caption = control<QLabel>(label.constData());
        const int captionEnd = caption->x() + caption->contentsRect().left()
                               + caption->fontMetrics().horizontalAdvance(caption->text());
        QVERIFY(captionEnd <= caption->geometry().right() + 1);
        QVERIFY(captionEnd <= count->x());
        QVERIFY(!control<QLabel>("Image1")->geometry().intersects(count->geometry()));
        count->setText(u"32767"_s);
        count->setCursorPosition(5);
        const QImage fromEnd = count->grab().toImage();
        count->setCursorPosition(0);
        QCOMPARE(count->grab().toImage(), fromEnd); // nothing scrolled out of view
    }

    // Any button drags the panel, and the drag ends when that button goes up.
    void dragEndsOnRelease_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::newRow("middle") << Qt::MiddleButton;
        QTest::newRow("right") << Qt::RightButton;
    }
    void dragEndsOnRelease()
    {
        QFETCH(Qt::MouseButton, button);
        MainForm *panel = start();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        QWidget *background = control<QWidget>("Picture2");
        const QPoint before = panel->pos();
        QTest::mousePress(background, button, {}, QPoint(10, 10));
        QTest::mouseMove(background, QPoint(40, 30));
        QCOMPARE(panel->pos(), before + QPoint(30, 20));
        QTest::mouseRelease(background, button, {}, QPoint(10, 10));
        const QPoint dropped = panel->pos();
        QTest::mouseMove(background, QPoint(80, 80));
        QCOMPARE(panel->pos(), dropped);
        QCOMPARE(m_ends, 0);
    }

    // Ctrl+Shift+1 … 5 run the floating windows' commands from the keyboard.
    void floatingCommandsFromTheKeyboard()
    {
        start();
        m_windows->mainForm()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_windows->mainForm()));
        QVERIFY(!m_windows->isLoaded("TyakuForm"));
        QTest::keyClick(m_windows->mainForm(), Qt::Key_3, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(m_windows->isLoaded("TyakuForm") && m_windows->loaded("TyakuForm")->isVisible());
        QTest::keyClick(m_windows->loaded("TyakuForm"), Qt::Key_1, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(m_windows->isLoaded("SetForm") && m_windows->loaded("SetForm")->isVisible());
    }

    void exitButtonHoverText()
    {
        start();
        QTest::mouseMove(control<QPushButton>("Command4"));
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(control<QPushButton>("Command4"), &enter);
        QCOMPARE(control<QLineEdit>("Text1")->text(), u"新着メールの受信を行います。"_s);
        QCOMPARE(control<QLineEdit>("Text1")->cursorPosition(), 0); // the narrow box shows the beginning
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
