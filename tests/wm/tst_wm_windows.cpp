// Under a real window manager (openbox on Xvfb, started by run-with-wm.sh):
// what the offscreen tests cannot see.
#include "FreshProgram.h"
#include "inbox/MsgForm.h"
#include "panel/FloatingForm.h"
#include "panel/MainForm.h"
#include "panel/ProgramEnd.h"
#include "settings/IdPassForm.h"
#include "storage/ProfileFile.h"
#include "winutil/Twips.h"
#include "winutil/WindowUtil.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

// The program's windows as the window manager stacks them, bottom first.
QList<WId> stacking()
{
    QProcess xprop;
    xprop.start(u"xprop"_s, {u"-root"_s, u"-notype"_s, u"_NET_CLIENT_LIST_STACKING"_s});
    if (!xprop.waitForFinished(5000))
        return {};
    QList<WId> ids;
    static const QRegularExpression hex(u"0x[0-9a-fA-F]+"_s);
    for (const auto &m : hex.globalMatch(QString::fromLatin1(xprop.readAllStandardOutput())))
        ids.append(m.captured().toULongLong(nullptr, 16));
    return ids;
}

void settle()
{
    QTest::qWait(300); // the window manager maps, places and restacks
}

} // namespace

class TestWmWindows : public QObject {
    Q_OBJECT

    std::unique_ptr<FreshProgram> m_program;
    int m_ends = 0;

    FloatingForm *floating(int n) { return m_program->windows().floatingForm(n); }
    MainForm *start()
    {
        MainForm *panel = m_program->windows().mainForm();
        panel->show();
        for (int n = 1; n <= 5; ++n) {
            if (!QTest::qWaitForWindowExposed(floating(n)))
                return nullptr;
        }
        settle();
        return panel;
    }

private slots:
    void init()
    {
        m_program = std::make_unique<FreshProgram>();
        QVERIFY(m_program->isReady());
        m_ends = 0;
        ProgramEnd::setHook([this] { ++m_ends; });
    }
    void cleanup()
    {
        m_program.reset();
        ProgramEnd::setHook({});
    }

    // Opening the inbox, compose or a receive hides the floating windows and
    // shows them again; the exit then saves where they really are, even when
    // the window manager's late reports left Qt believing they are at 0,0.
    void exitSavesPositionsAfterHideAndShow()
    {
        MainForm *panel = start();
        QVERIFY(panel);
        panel->move(40, 60);
        for (int n = 1; n <= 5; ++n)
            floating(n)->move(200 + 110 * n, 500 + 10 * n);
        for (int n = 1; n <= 5; ++n)
            QTRY_COMPARE(floating(n)->pos(), QPoint(200 + 110 * n, 500 + 10 * n));
        m_program->windows().hideFloatingWindows();
        settle();
        m_program->windows().showFloatingWindows();
        for (int n = 1; n <= 5; ++n)
            QVERIFY(QTest::qWaitForWindowExposed(floating(n)));
        settle();
        QTest::mouseClick(controlOf<QPushButton>(panel, "Command4"), Qt::LeftButton);
        QCOMPARE(m_ends, 1);
        const ProfileFile form(m_program->state().root.formIniFile());
        QCOMPARE(form.readInt(u"NUMBERW"_s), twips::fromPixels(40, panel->logicalDpiX()));
        QCOMPARE(form.readInt(u"NUMBERH"_s), twips::fromPixels(60, panel->logicalDpiY()));
        const char *keys[] = {"NUMBERF9", "NUMBERF4", "NUMBERF8", "NUMBERF5", "NUMBERF7"};
        for (int n = 1; n <= 5; ++n) {
            const QString key = QString::fromLatin1(keys[n - 1]);
            QCOMPARE(form.readInt(key + u'L'), twips::fromPixels(200 + 110 * n, panel->logicalDpiX()));
            QCOMPARE(form.readInt(key + u'T'), twips::fromPixels(500 + 10 * n, panel->logicalDpiY()));
        }
    }

    // Each floating window stands alone: no transient parent (a window
    // manager would stack or place the five as one), above the others, out of
    // the task bar.
    void floatingWindowsStandAlone()
    {
        QVERIFY(start());
        for (int n = 1; n <= 5; ++n) {
            QProcess xprop;
            xprop.start(u"xprop"_s, {u"-id"_s, QString::number(floating(n)->winId()), u"WM_TRANSIENT_FOR"_s,
                                     u"_NET_WM_STATE"_s});
            QVERIFY(xprop.waitForFinished(5000));
            const QString out = QString::fromLatin1(xprop.readAllStandardOutput());
            QVERIFY2(out.contains(u"WM_TRANSIENT_FOR:  not found"_s), qPrintable(out));
            for (const QString &state : {u"_NET_WM_STATE_ABOVE"_s, u"_NET_WM_STATE_SKIP_TASKBAR"_s})
                QVERIFY2(out.contains(state), qPrintable(out));
        }
    }

    // The notice board of a receive comes up while the user types elsewhere:
    // the keystrokes stay in the window the user types in, and neither the
    // board nor a failure box covers it.
    void noticeBoardLeavesTheKeyboardAlone()
    {
        QVERIFY(start());
        QLineEdit typing;
        typing.setGeometry(340, 300, 600, 400);
        typing.show();
        typing.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&typing));
        m_program->windows().msgForm()->showNotice(3);
        QVERIFY(QTest::qWaitForWindowExposed(m_program->windows().msgForm()));
        // An automatic receive's failure is told the same way.
        Prompt::endScript();
        Prompt::notice(u"POP3 サーバーに接続できませんでした。"_s);
        Prompt::beginScript();
        // So is the account dialog when the account is missing; a click puts the keyboard in it.
        IdPassForm *account = m_program->windows().idPassForm();
        account->showForAutomaticReceive([] {});
        QVERIFY(QTest::qWaitForWindowExposed(account));
        settle();
        const QRect typed(screenPosition(&typing), typing.frameGeometry().size());
        QWidget *box = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox *>(w) && w->isVisible())
                box = w;
        QVERIFY(box);
        for (QWidget *notice : {box, static_cast<QWidget *>(m_program->windows().msgForm())}) {
            const QRect covered = QRect(screenPosition(notice), notice->frameGeometry().size()).intersected(typed);
            QVERIFY2(covered.isEmpty(), notice->metaObject()->className());
        }
        QCOMPARE(QApplication::activeWindow(), &typing);
        QTest::keyClicks(QApplication::focusWidget(), u"abc"_s);
        QCOMPARE(typing.text(), u"abc"_s);
        const QPoint idBox = account->findChild<QLineEdit *>(u"IdText"_s)->mapToGlobal(QPoint(5, 5));
        QCOMPARE(QProcess::execute(u"xdotool"_s, {u"mousemove"_s, QString::number(idBox.x()),
                                                  QString::number(idBox.y()), u"click"_s, u"1"_s}),
                 0);
        QTRY_COMPARE(QApplication::activeWindow(), account);
        box->close();
    }

    // A click whose press and release come at one instant (a touchpad tap,
    // xdotool) leaves the panel and a floating window where they are when
    // the pointer moves on.
    void clickDoesNotStartAMove_data()
    {
        QTest::addColumn<int>("window"); // 0: the panel, n: Form n
        QTest::newRow("panel") << 0;
        QTest::newRow("Form2") << 2;
    }
    void clickDoesNotStartAMove()
    {
        QFETCH(int, window);
        MainForm *panel = start();
        QVERIFY(panel);
        QWidget *target = window == 0 ? static_cast<QWidget *>(panel) : floating(window);
        target->move(window == 0 ? QPoint(40, 60) : QPoint(500, 700));
        settle();
        const QPoint before = screenPosition(target);
        // The panel's background between its buttons and its picture; the floating window's edge.
        const QPoint at = before + (window == 0 ? QPoint(220, 66) : QPoint(3, 3));
        auto xdotool = [](const QStringList &args) {
            return QProcess::execute(u"xdotool"_s, args) == 0;
        };
        QVERIFY(xdotool({u"mousemove"_s, QString::number(at.x()), QString::number(at.y()), u"click"_s, u"1"_s}));
        settle();
        QVERIFY(xdotool({u"mousemove"_s, QString::number(at.x() + 120), QString::number(at.y() + 80)}));
        settle();
        QCOMPARE(screenPosition(target), before);
    }

    // A question asked while the always-on-top buttons are up is stacked above them.
    void promptsStayAboveTheFloatingWindows_data()
    {
        QTest::addColumn<bool>("withOwner");
        QTest::newRow("owned by the panel") << true;
        QTest::newRow("no owner (receive errors)") << false;
    }
    void promptsStayAboveTheFloatingWindows()
    {
        QFETCH(bool, withOwner);
        MainForm *panel = start();
        QVERIFY(panel);
        Prompt::endScript(); // a real box this time
        QList<WId> order;
        WId box = 0;
        QTimer::singleShot(0, this, [&] {
            QWidget *modal = nullptr;
            if (!QTest::qWaitFor([&] { return (modal = QApplication::activeModalWidget()) != nullptr; }, 5000))
                return;
            box = modal->winId();
            // Stacked once the window manager lists it; then let any restacking settle.
            if (!QTest::qWaitFor([&] { return stacking().contains(box); }, 5000))
                qWarning("the window manager does not list the question");
            settle();
            order = stacking();
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        Prompt::ask(withOwner ? panel : nullptr, u"すべてのデータを削除して良いですか？"_s);
        Prompt::beginScript();
        QVERIFY2(box != 0, "the question was not shown");
        QVERIFY(order.contains(box));
        for (int n = 1; n <= 5; ++n) {
            QVERIFY(order.contains(floating(n)->winId()));
            QVERIFY2(order.indexOf(box) > order.indexOf(floating(n)->winId()), "question below a floating window");
        }
    }
};

QTEST_MAIN(TestWmWindows)
#include "tst_wm_windows.moc"
