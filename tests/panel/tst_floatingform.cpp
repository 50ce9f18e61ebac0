#include "app/AppWindows.h"
#include "panel/FloatingForm.h"
#include "panel/MainForm.h"
#include "panel/ProgramEnd.h"
#include "storage/AppState.h"
#include "winutil/Prompt.h"

#include <QCursor>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestFloatingForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<AppWindows> m_windows;
    int m_ends = 0;

    void startProgram()
    {
        m_windows->mainForm()->show();
    }
    QPushButton *button(int n) { return m_windows->floatingForm(n)->findChild<QPushButton *>(u"Command1"_s); }
    bool anyFloatingVisible()
    {
        for (int n = 1; n <= 5; ++n) {
            if (m_windows->floatingForm(n)->isVisible())
                return true;
        }
        return false;
    }
    QStringList dataFiles() { return QDir(m_state->root.dataFolder()).entryList(QDir::Files); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_state = std::make_unique<AppState>();
        m_state->root = DataRoot(m_dir->path());
        QVERIFY(m_state->root.ensureTree());
        m_windows = std::make_unique<AppWindows>(*m_state);
        m_ends = 0;
        ProgramEnd::setHook([this] { ++m_ends; });
        Prompt::beginScript();
    }
    void cleanup()
    {
        m_windows.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Prompt::endScript();
        ProgramEnd::setHook({});
    }

    void loadStep_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("buttonGeometry");
        QTest::newRow("Form1") << 1 << u"設定"_s << QRect(10, 12, 81, 20);
        QTest::newRow("Form2") << 2 << u"新規作成"_s << QRect(10, 12, 81, 20);
        QTest::newRow("Form3") << 3 << u"メールを見る"_s << QRect(10, 12, 81, 20);
        QTest::newRow("Form4") << 4 << u"受信"_s << QRect(12, 12, 73, 20);
        QTest::newRow("Form5") << 5 << u"アドレス帳"_s << QRect(10, 12, 81, 20);
    }
    void loadStep()
    {
        QFETCH(int, number);
        QFETCH(QString, caption);
        QFETCH(QRect, buttonGeometry);
        QCursor::setPos(321, 123);
        FloatingForm *form = m_windows->floatingForm(number);
        QCOMPARE(form->objectName(), u"Form"_s + QString::number(number));
        QCOMPARE(form->size(), QSize(100, 40));
        QCOMPARE(form->pos(), QCursor::pos());
        const Qt::WindowFlags flags = form->windowFlags();
        QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window); // a tool window would get a transient parent
        QCOMPARE(button(number)->text(), caption);
        QCOMPARE(button(number)->geometry(), buttonGeometry);
        QCOMPARE(m_windows->floatingForm(number), form); // loaded once
    }

    // Only a right press ends the program, and it writes no setting.
    void pressesOutsideTheButton_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<Qt::MouseButton>("mouseButton");
        QTest::addColumn<int>("ends");
        QTest::newRow("right on Form1") << 1 << Qt::RightButton << 1;
        QTest::newRow("right on Form5") << 5 << Qt::RightButton << 1;
        QTest::newRow("left on Form3") << 3 << Qt::LeftButton << 0;
        QTest::newRow("middle on Form4") << 4 << Qt::MiddleButton << 0;
    }
    void pressesOutsideTheButton()
    {
        QFETCH(int, number);
        QFETCH(Qt::MouseButton, mouseButton);
        QFETCH(int, ends);
        startProgram();
        const QStringList before = dataFiles();
        FloatingForm *form = m_windows->floatingForm(number);
        form->move(40, 40);
        QTest::mousePress(form, mouseButton, {}, QPoint(3, 3));
        QCOMPARE(m_ends, ends);
        QCOMPARE(dataFiles(), before);
        QVERIFY(!QFile::exists(m_state->root.formIniFile()));
    }

    void settingsButtonKeepsTheFloatingWindows()
    {
        startProgram();
        QTest::mouseClick(button(1), Qt::LeftButton);
        QVERIFY(m_windows->loaded("SetForm")->isVisible());
        for (int n = 1; n <= 5; ++n)
            QVERIFY(m_windows->floatingForm(n)->isVisible());
    }

    void composeAndAddressBookHideTheFloatingWindows_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QByteArray>("window");
        QTest::newRow("Form2") << 2 << QByteArray("WriteForm");
        QTest::newRow("Form5") << 5 << QByteArray("FriendForm");
    }
    void composeAndAddressBookHideTheFloatingWindows()
    {
        QFETCH(int, number);
        QFETCH(QByteArray, window);
        startProgram();
        QTest::mouseClick(button(number), Qt::LeftButton);
        QVERIFY(m_windows->isLoaded(window.constData()));
        QVERIFY(m_windows->loaded(window.constData())->isVisible());
        QVERIFY(!anyFloatingVisible());
    }

    void viewMailOpensTheInbox()
    {
        startProgram();
        QTest::mouseClick(button(3), Qt::LeftButton);
        QVERIFY(m_windows->isLoaded("TyakuForm"));
        QVERIFY(m_windows->loaded("TyakuForm")->isVisible());
    }
};

QTEST_MAIN(TestFloatingForm)
#include "tst_floatingform.moc"
