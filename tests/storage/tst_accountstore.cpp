// The account store against a real GNOME Keyring on a private session bus
// (tests/support/with-keyring.sh); the store without a keyring is covered by
// tst_accountsettings, which runs with no session bus.
#include "settings/IdPassForm.h"
#include "settings/PasswordFileCheck.h"
#include "storage/AccountStore.h"
#include "storage/DataRoot.h"
#include "storage/OwnSettings.h"
#include "storage/ProfileFile.h"
#include "storage/ServerSettings.h"
#include "winutil/Prompt.h"
#include "FakeWindows.h"
#include "TestMailServers.h"
#include "storage/AppState.h"
#include "storage/Keyring.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QCheckBox>

#include <QDir>
#include <QProcess>
#include <QScopeGuard>

#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestAccountStore : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(AccountStore(u"/nonexistent/iniIdPass.ini"_s).keyringAvailable(),
                 "run under dbus-run-session tests/support/with-keyring.sh");
        Prompt::beginScript();
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_root = DataRoot(m_dir->path());
        QVERIFY(m_root.ensureTree());
    }

    // The file keeps its layout, with an empty NAME2; a password the CP932
    // file could not hold is fine in the keyring.
    void saveKeepsPasswordInKeyring()
    {
        AccountStore store(m_root.idPassIniFile());
        QVERIFY(store.save(u"taro"_s, u"秘密😀pw"_s, nullptr));
        const ProfileFile file(m_root.idPassIniFile());
        QCOMPARE(file.readText(u"NAME"_s), u"taro"_s);
        QVERIFY(file.hasKey(u"NAME2"_s));
        QCOMPARE(file.readText(u"NAME2"_s), QString());
        QCOMPARE(file.readText(u"NAME3"_s), u"1"_s);

        const AccountStore::Account read = AccountStore(m_root.idPassIniFile()).load();
        QCOMPARE(read.id, u"taro"_s);
        QCOMPARE(read.password, u"秘密😀pw"_s);
    }

    // The password belongs to the account on its server: other accounts do
    // not share it, and a data folder moved elsewhere keeps it.
    void passwordFollowsAccountNotFolder()
    {
        QTemporaryDir other;
        const DataRoot otherRoot(other.path());
        QVERIFY(otherRoot.ensureTree());
        QVERIFY(AccountStore(m_root.idPassIniFile()).save(u"taro"_s, u"one"_s, nullptr));
        QVERIFY(AccountStore(otherRoot.idPassIniFile()).save(u"jiro"_s, u"two"_s, nullptr));
        QCOMPARE(AccountStore(m_root.idPassIniFile()).load().password, u"one"_s);
        QCOMPARE(AccountStore(otherRoot.idPassIniFile()).load().password, u"two"_s);

        const QString moved = m_dir->path() + u"-moved"_s;
        QVERIFY(QDir().rename(m_dir->path(), moved));
        const auto back = qScopeGuard([&] { QDir().rename(moved, m_dir->path()); });
        QCOMPARE(AccountStore(DataRoot(moved).idPassIniFile()).load().password, u"one"_s);
    }

    // The receive reads the account on its own thread.
    void loadsFromAnotherThread()
    {
        QVERIFY(AccountStore(m_root.idPassIniFile()).save(u"taro"_s, u"pw"_s, nullptr));
        QString password;
        QThread *thread = QThread::create([&] {
            password = AccountStore(m_root.idPassIniFile()).load().password;
        });
        thread->start();
        QVERIFY(thread->wait(20000));
        delete thread;
        QCOMPARE(password, u"pw"_s);
    }

    // A password saved in the file (as the Windows version writes it) is used
    // as it is, and moves to the keyring after one question; "no" is asked once.
    void filePasswordMovesAfterOneQuestion()
    {
        ProfileFile file(m_root.idPassIniFile(), true);
        QVERIFY(file.writeText(u"NAME"_s, u"taro"_s) && file.writeText(u"NAME2"_s, u"old"_s));
        QCOMPARE(AccountStore(m_root.idPassIniFile()).load().password, u"old"_s);

        Prompt::clearShown();
        Prompt::queueAnswer(Prompt::Answer::Yes);
        offer();
        QCOMPARE(Prompt::shownTexts().size(), 1);
        QCOMPARE(file.readText(u"NAME2"_s), QString());
        QCOMPARE(AccountStore(m_root.idPassIniFile()).load().password, u"old"_s);
        offer();
        QCOMPARE(Prompt::shownTexts().size(), 1);
    }

    void declinedMoveIsNotAskedAgain()
    {
        ProfileFile file(m_root.idPassIniFile(), true);
        QVERIFY(file.writeText(u"NAME"_s, u"taro"_s) && file.writeText(u"NAME2"_s, u"old"_s));
        Prompt::clearShown();
        Prompt::queueAnswer(Prompt::Answer::No);
        offer();
        offer();
        QCOMPARE(Prompt::shownTexts().size(), 1);
        QCOMPARE(file.readText(u"NAME2"_s), u"old"_s);
        QVERIFY(OwnSettings(m_root.hollinIniFile()).keepPasswordInFile());
    }

    // A keyring that answers slowly (the user unlocking it) is never waited
    // for on the window thread: the start-up offer comes when it answers, and
    // the dialog's OK saves while the dialog stays in use.
    void slowKeyringLeavesWindowsWorking()
    {
        const auto restore = qScopeGuard([] { Keyring::delayNextAnswerForTest(0, 60000); });
        ProfileFile file(m_root.idPassIniFile(), true);
        QVERIFY(file.writeText(u"NAME"_s, u"taro"_s) && file.writeText(u"NAME2"_s, u"old"_s));
        Prompt::clearShown();
        Prompt::queueAnswer(Prompt::Answer::Yes);
        Keyring::delayNextAnswerForTest(1000, 20000);
        bool done = false;
        offerToProtectPasswordFile(nullptr, m_root, [&] { done = true; });
        QVERIFY(Prompt::shownTexts().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
        QCOMPARE(Prompt::shownTexts().size(), 1);
        QCOMPARE(file.readText(u"NAME2"_s), QString());

        AppState state;
        state.root = m_root;
        FakeWindows windows;
        IdPassForm form({state, windows});
        form.findChild<QLineEdit *>(u"PassText"_s)->setText(u"new"_s);
        form.findChild<QCheckBox *>(u"Check1"_s)->setChecked(true);
        Keyring::delayNextAnswerForTest(1000, 20000);
        QElapsedTimer clock;
        clock.start();
        form.findChild<QPushButton *>(u"OKCommand"_s)->click();
        QVERIFY(clock.elapsed() < 500);
        QVERIFY(!form.findChild<QPushButton *>(u"OKCommand"_s)->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(state.accountPassword, u"new"_s, 20000);
        QCOMPARE(AccountStore(m_root.idPassIniFile()).load().password, u"new"_s);
    }

    // A keyring unlocked after the time limit still fills the dialog.
    void lateAnswerFillsTheDialog()
    {
        const auto restore = qScopeGuard([] { Keyring::delayNextAnswerForTest(0, 60000); });
        QVERIFY(AccountStore(m_root.idPassIniFile()).save(u"taro"_s, u"pw"_s, nullptr));
        AppState state;
        state.root = m_root;
        FakeWindows windows;
        IdPassForm form({state, windows});
        Keyring::delayNextAnswerForTest(1500, 300);
        form.show();
        auto *note = form.findChild<QLabel *>(u"KeyringNote"_s);
        QTRY_VERIFY_WITH_TIMEOUT(note->text().contains(u"応答しませんでした"_s), 10000);
        QVERIFY(form.passText().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(form.passText(), u"pw"_s, 10000);
        QVERIFY2(!note->text().contains(u"読めませんでした"_s), qPrintable(note->text()));
    }

    // hollin-cli receives with the password the keyring holds.
    void commandLineReadsTheKeyring()
    {
        TestMailServers servers;
        TestMailServers::Options options;
        options.smtp = false;
        QString error;
        QVERIFY2(servers.start(options, &error), qPrintable(error));
        QVERIFY(servers.deliver("From: a@example.jp\r\nSubject: hi\r\n\r\nbody\r\n"));
        ServerSettings settings;
        settings.pop3Server = servers.pop3Server();
        QVERIFY(settings.write(m_root.serverSettingsFile()));
        QVERIFY(AccountStore(m_root.idPassIniFile()).save(servers.user(), servers.password(), nullptr));

        QProcess cli;
        cli.start(QString::fromUtf8(HOLLIN_CLI), {u"--root"_s, m_root.root(), u"receive"_s, u"--allow-plain"_s});
        QVERIFY(cli.waitForFinished(30000));
        QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
        QCOMPARE(QString::fromUtf8(cli.readAllStandardOutput()).trimmed(), u"1 件の新着メールを受信しました"_s);

        // From cron there is no session bus: the failure says so and what to
        // do; with the password moved to the file on purpose, cron receives.
        QVERIFY(servers.deliver("From: a@example.jp\r\nSubject: again\r\n\r\nbody\r\n"));
        QProcessEnvironment cron = QProcessEnvironment::systemEnvironment();
        cron.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
        cron.remove(u"XDG_RUNTIME_DIR"_s);
        QProcess fromCron;
        fromCron.setProcessEnvironment(cron);
        fromCron.start(QString::fromUtf8(HOLLIN_CLI), {u"--root"_s, m_root.root(), u"receive"_s, u"--allow-plain"_s});
        QVERIFY(fromCron.waitForFinished(30000));
        QCOMPARE(fromCron.exitCode(), 1);
        const QString said = QString::fromUtf8(fromCron.readAllStandardError());
        QVERIFY2(said.contains(u"cron や ssh"_s) && said.contains(u"password-to-file"_s), qPrintable(said));

        QProcess move;
        move.start(QString::fromUtf8(HOLLIN_CLI), {u"--root"_s, m_root.root(), u"password-to-file"_s});
        QVERIFY(move.waitForFinished(30000));
        QVERIFY2(move.exitCode() == 0, move.readAllStandardError().constData());
        QCOMPARE(ProfileFile(m_root.idPassIniFile()).readText(u"NAME2"_s), servers.password());
        fromCron.start(QString::fromUtf8(HOLLIN_CLI), {u"--root"_s, m_root.root(), u"receive"_s, u"--allow-plain"_s});
        QVERIFY(fromCron.waitForFinished(30000));
        QVERIFY2(fromCron.exitCode() == 0, fromCron.readAllStandardError().constData());
    }

private:
    void offer()
    {
        bool done = false;
        offerToProtectPasswordFile(nullptr, m_root, [&] { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    DataRoot m_root;
};

QTEST_MAIN(TestAccountStore)
#include "tst_accountstore.moc"
