#include "app/AppWindows.h"
#include "inbox/AutoReceive.h"
#include "inbox/ReceiveController.h"
#include "inbox/TyakuForm.h"
#include "panel/FloatingForm.h"
#include "panel/MainForm.h"
#include "settings/AutoReceiveSettings.h"
#include "settings/SetForm.h"
#include "storage/AppState.h"
#include "storage/DataFolderLock.h"
#include "storage/KeepMailSettings.h"
#include "storage/MailRecordFile.h"
#include "storage/ProfileFile.h"
#include "winutil/Prompt.h"

#include "ScriptedServer.h"
#include "TestMailServers.h"
#include "transport/PlainLoginConsent.h"

#include <QApplication>
#include <QCheckBox>
#include <QDBusConnection>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace hollin;

namespace {

// The desktop's notification service, as far as the program uses it.
class NotificationsStub : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    static constexpr uint Id = 7;
    QStringList calls; // "app|icon|summary|body|actions"

public slots:
    uint Notify(const QString &app, uint, const QString &icon, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &, int)
    {
        calls.append(QStringList{app, icon, summary, body, actions.join(u',')}.join(u'|'));
        return Id;
    }

signals:
    void ActionInvoked(uint id, const QString &action);
};

// Counts the shows of a widget and runs an action at each.
class ShowWatch : public QObject {
public:
    ShowWatch(QWidget *widget, std::function<void()> action = {}) : m_action(std::move(action))
    {
        widget->installEventFilter(this);
    }
    int shown = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            ++shown;
            if (m_action)
                m_action();
        }
        return false;
    }

private:
    std::function<void()> m_action;
};

QByteArray mail(int n)
{
    return "From: sender@example.jp\r\nSubject: mail " + QByteArray::number(n)
           + "\r\nDate: Mon, 7 Dec 2026 09:00:00 +0900\r\n\r\ntext\r\n";
}

} // namespace

// The timer's receive against a real POP3 server, and its notification on a
// private session bus with a stub notification service.
class TestAutoReceive : public QObject {
    Q_OBJECT

    QProcess m_bus;
    NotificationsStub m_notifications;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestMailServers> m_servers;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<AppWindows> m_windows;

    void setPassword(const QString &password)
    {
        ProfileFile account(m_state->root.idPassIniFile(), true);
        QVERIFY(account.writeText(u"NAME"_s, m_servers->user()));
        QVERIFY(account.writeText(u"NAME2"_s, password));
    }
    void deliver(int count)
    {
        for (int n = 0; n < count; ++n)
            QVERIFY(m_servers->deliver(mail(n)));
    }
    int records() const
    {
        return MailRecordFile(m_state->root.receivedMailFile(), m_state->root.receivedMailTemp()).count();
    }
    QLabel *busySign() { return m_windows->mainForm()->findChild<QLabel *>(u"AutoReceiveBusy"_s); }
    static QWidget *progressDialog()
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->objectName() == u"ReceiveProgress"_s && w->isVisible())
                return w;
        }
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        m_bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address"_s});
        QVERIFY(m_bus.waitForReadyRead(10000));
        const QString address = QString::fromUtf8(m_bus.readLine().trimmed());
        // Before anything asks for the session bus, which connects once per process.
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
        QDBusConnection service = QDBusConnection::connectToBus(address, u"notifications"_s);
        QVERIFY(service.registerObject(u"/org/freedesktop/Notifications"_s, &m_notifications,
                                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        QVERIFY(service.registerService(u"org.freedesktop.Notifications"_s));
    }
    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished();
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_servers = std::make_unique<TestMailServers>();
        TestMailServers::Options options;
        options.smtp = false;
        QString error;
        QVERIFY2(m_servers->start(options, &error), qPrintable(error));
        m_state = std::make_unique<AppState>();
        m_state->root = DataRoot(m_dir->path());
        QVERIFY(m_state->root.ensureTree());
        setPassword(m_servers->password());
        m_windows = std::make_unique<AppWindows>(*m_state);
        m_windows->mainForm()->show();
        m_state->pop3Server = m_servers->pop3Server();
        QVERIFY(PlainLoginConsent(m_state->root.iniFile()).give(m_state->pop3Server, nullptr)); // a plain test server
        m_notifications.calls.clear();
        Prompt::beginScript();
        Prompt::clearShown();
    }
    void cleanup()
    {
        m_windows.reset();
        m_servers.reset();
        Prompt::endScript();
    }

    // No progress dialog, the inbox not shown and the floating windows left
    // alone; the busy sign while it runs; a click on the notification opens the inbox.
    void timerReceivesInTheBackgroundAndNotifies()
    {
        deliver(3);
        bool progressShown = false;
        ShowWatch sign(busySign(), [&] { progressShown = progressDialog() != nullptr; });
        m_windows->autoReceive().setInterval(200ms);
        QTRY_COMPARE_WITH_TIMEOUT(records(), 3, 20000);
        QTRY_VERIFY(!busySign()->isVisible());
        QCOMPARE(sign.shown, 1);
        QVERIFY(!progressShown);
        QVERIFY(!m_windows->isLoaded("TyakuForm"));
        QVERIFY(m_windows->floatingForm(4)->isVisible());
        QCOMPARE(m_windows->mainForm()->findChild<QLineEdit *>(u"Text6"_s)->text(), u"3"_s);
        QCOMPARE(m_windows->mainForm()->findChild<QLineEdit *>(u"Text4"_s)->text(), u"3"_s);
        QTRY_COMPARE(m_notifications.calls,
                     QStringList{u"Hollin|hollin|新着メール 3 通|mail 0|default,受信メールを開く"_s});
        QVERIFY(Prompt::shown().isEmpty());

        emit m_notifications.ActionInvoked(NotificationsStub::Id + 1, u"default"_s); // not ours
        emit m_notifications.ActionInvoked(NotificationsStub::Id, u"default"_s);
        QTRY_VERIFY(m_windows->isLoaded("TyakuForm") && m_windows->tyakuForm()->isVisible());
        QCOMPARE(m_windows->tyakuForm()->findChild<QLineEdit *>(u"Text2"_s)->text(), u"3"_s);
    }

    // An open inbox keeps the mail being read: its row stays selected, its
    // boxes and body stay; the list and the count grow; the floating windows
    // stay hidden.
    void openInboxKeepsTheMailBeingRead()
    {
        deliver(30);
        m_windows->autoReceive().setInterval(200ms);
        QTRY_COMPARE_WITH_TIMEOUT(records(), 30, 20000);
        m_windows->autoReceive().setMinutes(0);
        QTRY_VERIFY(!ReceiveController::isRunning());
        TyakuForm *inbox = m_windows->tyakuForm();
        inbox->fillAndShow();
        auto *list = inbox->findChild<QTableView *>(u"MailListView"_s);
        list->selectRow(20);
        list->scrollTo(list->model()->index(20, 0), QAbstractItemView::PositionAtTop);
        const int scrolled = list->verticalScrollBar()->value();
        QVERIFY(scrolled > 0);
        QCOMPARE(inbox->findChild<QLineEdit *>(u"Text7"_s)->text(), u"mail 20"_s);
        inbox->rtfEd()->append(u"メモ"_s);
        const QString body = inbox->rtfEd()->toPlainText();

        QVERIFY(m_servers->deliver(mail(99)));
        m_windows->autoReceive().setInterval(200ms);
        QTRY_COMPARE_WITH_TIMEOUT(records(), 31, 20000);
        QTRY_VERIFY(!ReceiveController::isRunning());
        QTRY_COMPARE(inbox->findChild<QLineEdit *>(u"Text2"_s)->text(), u"31"_s);
        QCOMPARE(list->model()->rowCount(), 31);
        QCOMPARE(list->selectionModel()->selectedRows().value(0).row(), 20);
        QCOMPARE(inbox->findChild<QLineEdit *>(u"Text7"_s)->text(), u"mail 20"_s);
        QCOMPARE(inbox->rtfEd()->toPlainText(), body);
        QTRY_COMPARE(list->verticalScrollBar()->value(), scrolled);
        for (int n = 1; n <= 5; ++n)
            QVERIFY(!m_windows->floatingForm(n)->isVisible());
    }

    // The receive button during an automatic receive shows that receive's
    // progress; no second session starts (it would find the data folder busy).
    void receiveButtonJoinsTheRunningReceive()
    {
        deliver(3);
        bool progressShown = false;
        ShowWatch sign(busySign(), [&] {
            QTimer::singleShot(0, this, [&] {
                m_windows->floatingForm(4)->findChild<QPushButton *>(u"Command1"_s)->click();
                progressShown = progressDialog() != nullptr && !busySign()->isVisible();
            });
        });
        m_windows->autoReceive().setInterval(200ms);
        QTRY_COMPARE_WITH_TIMEOUT(records(), 3, 20000);
        QTRY_VERIFY(progressShown);
        QTRY_VERIFY(!progressDialog());
        QVERIFY(Prompt::shown().isEmpty());
    }

    // One box for a failure that repeats at every turn; after a receive that
    // succeeded the same failure is shown again.
    void repeatedFailureIsShownOnce()
    {
        setPassword(u"wrong"_s);
        m_windows->autoReceive().setInterval(100ms);
        QTRY_COMPARE(Prompt::shown().size(), 1);
        QTest::qWait(600);
        QCOMPARE(Prompt::shown().size(), 1);
        QCOMPARE(Prompt::shown().first().title, u"エラー"_s);

        setPassword(m_servers->password());
        deliver(1);
        QTRY_COMPARE(records(), 1);
        setPassword(u"wrong"_s);
        QTRY_COMPARE(Prompt::shown().size(), 2);
    }

    // A server that cannot keep mail says so once, not at every turn, and its mail stays there.
    void standingNoticeIsShownOnce()
    {
        Error err;
        QVERIFY((KeepMailSettings{true, 0}.write(m_state->root.iniFile(), &err)));
        ScriptedServer fake;
        for (int turn = 1; turn <= 2; ++turn) {
            if (turn == 2)
                fake.acceptNext();
            fake.send("+OK ready\r\n").expectLine().send("-ERR\r\n")       // CAPA
                .expectLine().send("+OK\r\n").expectLine().send("+OK\r\n") // USER, PASS
                .expectLine().send("-ERR\r\n")                             // CAPA
                .expectLine().send("+OK 1 100\r\n").expectLine().send("-ERR no UIDL\r\n")
                .expectLine().send("+OK\r\n"); // QUIT
        }
        QVERIFY(fake.start());
        m_state->pop3Server = fake.server();
        QVERIFY(PlainLoginConsent(m_state->root.iniFile()).give(m_state->pop3Server, nullptr)); // a plain test server
        m_windows->autoReceive().setInterval(300ms);
        QTRY_COMPARE_WITH_TIMEOUT(fake.received().count("QUIT"), 2, 10000);
        m_windows->autoReceive().setMinutes(0);
        QTRY_VERIFY(!ReceiveController::isRunning());
        QCOMPARE(Prompt::shownTexts().filter(u"サーバーに残したまま受信することができません"_s).size(), 1);
        QCOMPARE(records(), 0);
        QVERIFY(!fake.received().contains("RETR 1") && !fake.received().contains("DELE 1"));
    }

    // Another writer holds the data folder: the turn is left out quietly.
    void busyDataFolderSkipsTheTurn()
    {
        deliver(1);
        DataFolderLock other(m_state->root.dataFolder(), u"削除"_s);
        QVERIFY(other.take(nullptr));
        m_windows->autoReceive().setInterval(100ms);
        QTest::qWait(600);
        QCOMPARE(records(), 0);
        QVERIFY(Prompt::shown().isEmpty());
        other.release();
        QTRY_COMPARE(records(), 1);
        QVERIFY(Prompt::shown().isEmpty());
    }

    // The settings row writes its keys and sets the timer at once.
    void settingsRowSetsTheTimer()
    {
        SetForm *form = m_windows->setForm();
        form->findChild<QSpinBox *>(u"AutoReceiveMinutes"_s)->setValue(7);
        QVERIFY(!m_windows->autoReceive().isOn());
        form->findChild<QCheckBox *>(u"AutoReceiveCheck"_s)->setChecked(true);
        QVERIFY(m_windows->autoReceive().isOn());
        const AutoReceiveSettings stored(m_state->root.iniFile());
        QCOMPARE(stored.activeMinutes(), 7);
        form->findChild<QCheckBox *>(u"AutoReceiveCheck"_s)->setChecked(false);
        QVERIFY(!m_windows->autoReceive().isOn());
        QCOMPARE(stored.activeMinutes(), 0);
        QCOMPARE(stored.minutes(), 7);
    }
};

QTEST_MAIN(TestAutoReceive)
#include "tst_autoreceive.moc"
