// Through the accessibility bus (AT-SPI), as a screen reader sees the program:
// every control of the panel, the floating windows, the inbox and the notice
// board on screen has a name. Runs on a private session bus (dbus-run-session)
// under Xvfb and openbox, with Qt's accessibility always on.
#include "FreshProgram.h"
#include "inbox/MsgForm.h"
#include "inbox/TyakuForm.h"
#include "panel/FloatingForm.h"
#include "panel/MainForm.h"
#include "panel/ProgramEnd.h"

#include <QAccessible>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestWmAccessibility : public QObject {
    Q_OBJECT

private slots:
    // Qt joins the accessibility bus once its launcher is on the session bus.
    void initTestCase()
    {
        ProgramEnd::setHook([] {});
        QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
        QVERIFY(bus);
        QVERIFY(bus->startService(u"org.a11y.Bus"_s).isValid());
        QTRY_VERIFY_WITH_TIMEOUT(QAccessible::isActive(), 20000);
    }
    void cleanupTestCase() { ProgramEnd::setHook({}); }

    void everyControlHasAName()
    {
        FreshProgram program;
        QVERIFY(program.isReady());
        AppWindows &windows = program.windows();
        windows.mainForm()->show();
        QVERIFY(QTest::qWaitForWindowExposed(windows.mainForm()));
        for (int n = 1; n <= 5; ++n)
            QVERIFY(QTest::qWaitForWindowExposed(windows.floatingForm(n)));
        windows.tyakuForm()->fillAndShow();
        windows.showFloatingWindows();
        windows.msgForm()->showNotice(1);
        QVERIFY(QTest::qWaitForWindowExposed(windows.tyakuForm()));
        QVERIFY(QTest::qWaitForWindowExposed(windows.msgForm()));
        QTest::qWait(300);

        // The program answers the bus while the script asks.
        QProcess script;
        script.start(u"/usr/bin/python3"_s, {QStringLiteral(HOLLIN_SOURCE_DIR "/tests/wm/atspi_unnamed.py"),
                                             QString::number(QCoreApplication::applicationPid())});
        QTRY_VERIFY_WITH_TIMEOUT(script.state() == QProcess::NotRunning, 60000);
        const QStringList lines = QString::fromUtf8(script.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(script.exitCode() == 0, qPrintable(lines.join(u'\n') + QString::fromUtf8(script.readAllStandardError())));
        QVERIFY(!lines.isEmpty() && lines.last().startsWith(u"controls "_s));
        qInfo("%s", qPrintable(lines.last()));
        // The panel alone has 19 controls; all of them and the others were seen.
        QVERIFY2(lines.last().mid(9).toInt() > 40, qPrintable(lines.last()));
        QVERIFY2(lines.size() == 1, qPrintable(u"no name:\n"_s + lines.mid(0, lines.size() - 1).join(u'\n')));
    }
};

QTEST_MAIN(TestWmAccessibility)
#include "tst_wm_accessibility.moc"
