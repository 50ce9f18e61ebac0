#include "Controls.h"
#include "FakeWindows.h"
#include "ScriptedServer.h"
#include "settings/AccountSettings.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/PasswordFileCheck.h"
#include "settings/SetForm.h"
#include "storage/AppState.h"
#include "storage/OwnSettings.h"
#include "storage/ProfileFile.h"
#include "storage/ServerSettings.h"
#include "transport/PlainLoginConsent.h"
#include "winutil/Prompt.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

// An owner that knows only the three settings windows, loading each on first
// use and deleting it when unloaded, as the program's owner does.
class SettingsWindows : public FakeWindows {
public:
    explicit SettingsWindows(AppState &state) : m_ctx{state, *this} {}
    ~SettingsWindows() override
    {
        delete m_set;
        delete m_idPass;
        delete m_option;
    }

    SetForm *setForm() override { return load(m_set); }
    IdPassForm *idPassForm() override { return load(m_idPass); }
    OptionForm *optionForm() override { return load(m_option); }

    QWidget *loaded(const char *className) const override
    {
        const QByteArray name(className);
        if (name == "SetForm")
            return m_set;
        if (name == "IdPassForm")
            return m_idPass;
        if (name == "OptionForm")
            return m_option;
        return nullptr;
    }

    void unload(const char *className) override
    {
        if (QWidget *w = loaded(className)) {
            w->hide();
            w->deleteLater();
        }
    }

private:
    template <typename Form>
    Form *load(QPointer<Form> &slot)
    {
        if (!slot)
            slot = new Form(m_ctx);
        return slot;
    }

    AppContext m_ctx;
    QPointer<SetForm> m_set;
    QPointer<IdPassForm> m_idPass;
    QPointer<OptionForm> m_option;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestSettingsForms : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        Prompt::beginScript();
        m_dir = std::make_unique<QTemporaryDir>();
        m_state = std::make_unique<AppState>();
        m_state->root = DataRoot(m_dir->path());
        QVERIFY(m_state->root.ensureTree());
        m_windows = std::make_unique<SettingsWindows>(*m_state);
    }

    void cleanup()
    {
        m_windows.reset();
        QCOMPARE(Prompt::shownTexts(), QStringList()); // no test expects a message
        Prompt::endScript();
    }

    void setFormLoad_data()
    {
        QTest::addColumn<QString>("number4");
        QTest::addColumn<QString>("number5");
        QTest::addColumn<bool>("check2");
        QTest::addColumn<bool>("option1");
        QTest::newRow("fresh root") << QString() << QString() << false << false;
        QTest::newRow("both set") << u"1"_s << u"1"_s << true << true;
        QTest::newRow("cleared, empty") << u"0"_s << QString() << false << false;
        QTest::newRow("other values") << u"2"_s << u"2"_s << false << false;
    }

    void setFormLoad()
    {
        QFETCH(QString, number4);
        QFETCH(QString, number5);
        QFETCH(bool, check2);
        QFETCH(bool, option1);
        ProfileFile ini(m_state->root.iniFile());
        if (!number4.isNull())
            QVERIFY(ini.writeText(u"NUMBER4"_s, number4));
        if (!number5.isNull())
            QVERIFY(ini.writeText(u"NUMBER5"_s, number5));

        SetForm *form = m_windows->setForm();
        QVERIFY(!form->isVisible());
        QCOMPARE(form->windowTitle(), u"設定"_s);
        QCOMPARE(controlOf<QCheckBox>(form, "Check2")->isChecked(), check2);
        QCOMPARE(controlOf<QRadioButton>(form, "Option1")->isChecked(), option1);
        QCOMPARE(form->showNoticeBoard(), option1);
        QCOMPARE(form->autoEraseState(), check2 ? Qt::Checked : Qt::Unchecked);
    }

    void setFormCloseWritesAndNextLoadRestores()
    {
        SetForm *form = m_windows->setForm();
        form->show();
        controlOf<QCheckBox>(form, "Check2")->click();
        QVERIFY(form->close());
        const ProfileFile ini(m_state->root.iniFile());
        QCOMPARE(ini.readText(u"NUMBER2"_s), u"Text2"_s);
        QCOMPARE(ini.readText(u"NUMBER4"_s), u"1"_s);
        QVERIFY(ini.hasKey(u"NUMBER5"_s)); // never selected: an empty value
        QCOMPARE(ini.readText(u"NUMBER5"_s), QString());
        QCOMPARE(ini.readText(u"KEEPMAIL"_s), u"0"_s);
        QTRY_VERIFY(!m_windows->isLoaded("SetForm"));

        // The next use loads it again from the file.
        form = m_windows->setForm();
        QCOMPARE(form->autoEraseState(), Qt::Checked);
        QVERIFY(!form->showNoticeBoard());
        controlOf<QRadioButton>(form, "Option1")->click();
        controlOf<QCheckBox>(form, "Check2")->click();
        auto *keepDays = controlOf<QSpinBox>(form, "KeepDaysSpin");
        QVERIFY(!keepDays->isEnabled());
        controlOf<QCheckBox>(form, "KeepCheck")->click();
        keepDays->setValue(30);
        QVERIFY(form->close());
        QCOMPARE(ini.readText(u"NUMBER4"_s), u"0"_s);
        QCOMPARE(ini.readText(u"NUMBER5"_s), u"1"_s);
        QCOMPARE(ini.readText(u"KEEPMAIL"_s), u"1"_s);
        QCOMPARE(ini.readText(u"KEEPDAYS"_s), u"30"_s);
        QTRY_VERIFY(!m_windows->isLoaded("SetForm"));
        form = m_windows->setForm();
        QVERIFY(controlOf<QCheckBox>(form, "KeepCheck")->isChecked());
        QCOMPARE(controlOf<QSpinBox>(form, "KeepDaysSpin")->value(), 30);
    }

    // The sender name and signature are kept in the program's own file; the
    // files the Windows version reads do not change.
    void senderNameAndSignatureKeptApart()
    {
        SetForm *form = m_windows->setForm();
        controlOf<QLineEdit>(form, "SenderNameText")->setText(u" 山田 太郎 "_s);
        controlOf<QPlainTextEdit>(form, "SignatureText")->setPlainText(u"--\n山田 太郎\n"_s);
        QVERIFY(form->close());
        const OwnSettings own(m_state->root.hollinIniFile());
        QCOMPARE(own.senderName(), u"山田 太郎"_s);
        QCOMPARE(own.signature(), u"--\n山田 太郎\n"_s);
        const ProfileFile ini(m_state->root.iniFile());
        QVERIFY(!ini.hasKey(u"name"_s) && !ini.hasKey(u"signature"_s));
        QTRY_VERIFY(!m_windows->isLoaded("SetForm"));
        form = m_windows->setForm();
        QCOMPARE(controlOf<QPlainTextEdit>(form, "SignatureText")->toPlainText(), u"--\n山田 太郎\n"_s);

        // When they cannot be saved the window stays, with what was typed, unless the user lets it go.
        const QString ownFile = m_state->root.hollinIniFile();
        QVERIFY(QFile::remove(ownFile) && QDir().mkpath(ownFile));
        controlOf<QPlainTextEdit>(form, "SignatureText")->setPlainText(u"新しい署名"_s);
        Prompt::queueAnswer(Prompt::Answer::No);
        QVERIFY(!form->close());
        QCOMPARE(Prompt::shown().last().kind, Prompt::Kind::YesNoCancel);
        QCOMPARE(controlOf<QPlainTextEdit>(form, "SignatureText")->toPlainText(), u"新しい署名"_s);
        Prompt::queueAnswer(Prompt::Answer::Yes);
        QVERIFY(form->close());
        Prompt::clearShown();
    }

    void startUpSetsAutoErase()
    {
        SetForm *form = m_windows->setForm();
        form->setAutoErase(true);
        QCOMPARE(form->autoEraseState(), Qt::Checked);
        form->setAutoErase(false);
        QCOMPARE(form->autoEraseState(), Qt::Unchecked);
    }

    void emptiedHiddenFieldBecomesZero()
    {
        SetForm *form = m_windows->setForm();
        auto *text2 = controlOf<QLineEdit>(form, "Text2");
        QVERIFY(!text2->isVisible());
        text2->setText(u"7"_s);
        const ProfileFile ini(m_state->root.iniFile());
        QCOMPARE(ini.readText(u"NUMBER2"_s), u"7"_s);
        text2->clear();
        QCOMPARE(text2->text(), u"0"_s);
        QCOMPARE(ini.readText(u"NUMBER2"_s), u"0"_s);
    }

    void setFormButtonsOpenTheDialogs()
    {
        SetForm *form = m_windows->setForm();
        form->show();
        controlOf<QPushButton>(form, "Command1")->click();
        QVERIFY(m_windows->isLoaded("IdPassForm"));
        QVERIFY(m_windows->idPassForm()->isVisible());
        QVERIFY(!m_windows->idPassForm()->isModal());
        controlOf<QPushButton>(form, "Command2")->click();
        QVERIFY(m_windows->optionForm()->isVisible());
    }

    void idPassLoadsSavedAccount()
    {
        ProfileFile file(m_state->root.idPassIniFile(), true);
        QVERIFY(file.writeText(u"NAME"_s, u"taro"_s));
        QVERIFY(file.writeText(u"NAME2"_s, u"pw"_s));
        QVERIFY(file.writeText(u"NAME3"_s, u"1"_s));
        IdPassForm *form = m_windows->idPassForm();
        QCOMPARE(form->windowTitle(), u"ID,PASS"_s);
        QCOMPARE(controlOf<QLineEdit>(form, "IdText")->text(), u"taro"_s);
        auto *pass = controlOf<QLineEdit>(form, "PassText");
        QCOMPARE(pass->text(), u"pw"_s);
        QCOMPARE(pass->echoMode(), QLineEdit::Password);
        QVERIFY(!controlOf<QCheckBox>(form, "Check1")->isChecked());
        // The tests run without a session bus: no keyring, and the dialog says
        // so, and why a password saved there cannot be read.
        QVERIFY(OwnSettings(m_state->root.hollinIniFile()).writePasswordInKeyring(true, nullptr));
        QVERIFY(file.writeText(u"NAME2"_s, QString()));
        form->show();
        auto *noteLabel = controlOf<QLabel>(form, "KeyringNote");
        QTRY_VERIFY(noteLabel->text().contains(u"キーリングが使えない"_s));
        const QString note = noteLabel->text();
        QVERIFY2(note.contains(file.path()), qPrintable(note));
        QVERIFY2(note.contains(u"キーリングから読めませんでした: パスワードの保管庫"_s), qPrintable(note));
        // The window is sized for the whole note.
        QVERIFY(QTest::qWaitForWindowExposed(form));
        QVERIFY(noteLabel->height() >= noteLabel->heightForWidth(noteLabel->width()));
    }

    void idPassOkWithBoxClearWritesOnlyName3()
    {
        IdPassForm *form = m_windows->idPassForm();
        form->show();
        form->presetAccount(u"hanako"_s, u"secret"_s);
        controlOf<QPushButton>(form, "OKCommand")->click();
        QTRY_VERIFY(!m_windows->isLoaded("IdPassForm"));
        QCOMPARE(m_state->accountId, u"hanako"_s);
        QCOMPARE(m_state->accountPassword, u"secret"_s);
        QCOMPARE(readAll(m_state->root.idPassIniFile()), QByteArray("[EXEINI]\r\nNAME3=0\r\n"));
    }

    void idPassOkWithBoxTickedSavesOwnerOnly()
    {
        IdPassForm *form = m_windows->idPassForm();
        controlOf<QLineEdit>(form, "IdText")->setText(u"taro"_s);
        controlOf<QLineEdit>(form, "PassText")->setText(u"pw"_s);
        controlOf<QCheckBox>(form, "Check1")->setChecked(true);
        controlOf<QPushButton>(form, "OKCommand")->click();
        QTRY_COMPARE(m_state->accountId, u"taro"_s);
        const QString path = m_state->root.idPassIniFile();
        const ProfileFile file(path);
        QCOMPARE(file.readText(u"NAME"_s), u"taro"_s);
        QCOMPARE(file.readText(u"NAME2"_s), u"pw"_s);
        QCOMPARE(file.readText(u"NAME3"_s), u"1"_s);
        QCOMPARE(QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
    }

    void idPassCancelChangesNothing()
    {
        m_state->accountId = u"before"_s;
        IdPassForm *form = m_windows->idPassForm();
        form->show();
        controlOf<QLineEdit>(form, "IdText")->setText(u"typed"_s);
        controlOf<QCheckBox>(form, "Check1")->setChecked(true);
        controlOf<QPushButton>(form, "CancelCommand")->click();
        QVERIFY(!form->isVisible());
        QCOMPARE(m_state->accountId, u"before"_s);
        QVERIFY(!QFile::exists(m_state->root.idPassIniFile()));
        QTRY_VERIFY(!m_windows->isLoaded("IdPassForm"));
    }

    void idPassReportsUnwritableFileAndStaysOpen()
    {
        // A folder where the account file should be: the write must fail.
        QVERIFY(QDir().mkpath(m_state->root.idPassIniFile()));
        IdPassForm *form = m_windows->idPassForm();
        form->show();
        controlOf<QPushButton>(form, "OKCommand")->click();
        QTRY_COMPARE(Prompt::shown().size(), 1);
        QVERIFY(form->isVisible());
        QCOMPARE(Prompt::shown().first().kind, Prompt::Kind::Message);
        QVERIFY(!Prompt::shown().first().text.isEmpty());
        Prompt::clearShown();
    }

    void optionFormLoad_data()
    {
        QTest::addColumn<int>("apopFlag");
        QTest::addColumn<bool>("ticked");
        QTest::newRow("off") << 0 << false;
        QTest::newRow("on") << 1 << true;
        QTest::newRow("hand-edited 2") << 2 << true;
    }

    void optionFormLoad()
    {
        QFETCH(int, apopFlag);
        QFETCH(bool, ticked);
        m_state->smtpServer = u"smtp.example.jp"_s;
        m_state->pop3Server = u"pop3s://pop.example.jp"_s;
        m_state->mailAddress = u"me@example.jp"_s;
        m_state->apopFlag = qint16(apopFlag);
        OptionForm *form = m_windows->optionForm();
        QCOMPARE(form->windowTitle(), u"サーバー設定"_s);
        QCOMPARE(controlOf<QLineEdit>(form, "SmtpText")->text(), u"smtp.example.jp"_s);
        QCOMPARE(controlOf<QLineEdit>(form, "Pop3Text")->text(), u"pop3s://pop.example.jp"_s);
        QCOMPARE(controlOf<QLineEdit>(form, "MailText")->text(), u"me@example.jp"_s);
        QCOMPARE(controlOf<QCheckBox>(form, "ApopCheck")->isChecked(), ticked);
        QVERIFY(controlOf<QLabel>(form, "HintLabel")->text().contains(u"smtp://host:587"_s));
        QVERIFY(controlOf<QLabel>(form, "HintLabel")->text().contains(u"パスワードは暗号化されずに送られます"_s));
    }

    void optionFormOkWritesFourLines()
    {
        OptionForm *form = m_windows->optionForm();
        form->show();
        controlOf<QLineEdit>(form, "SmtpText")->setText(u"smtp://127.0.0.1:587"_s);
        controlOf<QLineEdit>(form, "Pop3Text")->setText(u"127.0.0.1:1110"_s);
        controlOf<QLineEdit>(form, "MailText")->setText(u"taro@example.jp"_s);
        controlOf<QCheckBox>(form, "ApopCheck")->setChecked(true);
        controlOf<QPushButton>(form, "OkCommand")->click();
        QVERIFY(!form->isVisible());
        QCOMPARE(m_state->pop3Server, u"127.0.0.1:1110"_s);
        QCOMPARE(m_state->apopFlag, qint16(1));
        QCOMPARE(readAll(m_state->root.serverSettingsFile()),
                 QByteArray("SMTP=smtp://127.0.0.1:587\r\nPOP3=127.0.0.1:1110\r\n"
                            "MAIL=taro@example.jp\r\nAPOP=1\r\n"));
        const ServerSettings back = ServerSettings::read(m_state->root.serverSettingsFile());
        QCOMPARE(back.smtpServer, u"smtp://127.0.0.1:587"_s);
        QCOMPARE(back.mailAddress, u"taro@example.jp"_s);
        QCOMPARE(back.apopFlag, qint16(1));
        QTRY_VERIFY(!m_windows->isLoaded("OptionForm"));

        // Opened again, it shows what was set.
        QVERIFY(m_windows->optionForm()->findChild<QCheckBox *>(u"ApopCheck"_s)->isChecked());
    }

    // The test button shows the check's lines for the servers typed, with the
    // account in use, and saves nothing. A server without STLS gets no login
    // before the user agreed; the agreement is kept for that server.
    void optionFormConnectionTest()
    {
        ScriptedServer refused;
        refused.send("+OK ready\r\n").expectLine().send("-ERR no\r\n").expectLine().send("+OK\r\n"); // CAPA, QUIT
        QVERIFY(refused.start());
        ScriptedServer fake;
        fake.send("+OK ready\r\n").expectLine().send("-ERR no\r\n") // CAPA
            .expectLine().send("+OK\r\n").expectLine().send("-ERR [AUTH] wrong password\r\n");
        QVERIFY(fake.start());
        m_state->accountId = u"taro"_s;
        m_state->accountPassword = u"pw"_s;
        OptionForm *form = m_windows->optionForm();
        form->show();
        controlOf<QLineEdit>(form, "Pop3Text")->setText(refused.server());
        Prompt::queueAnswer(Prompt::Answer::No);
        controlOf<QPushButton>(form, "CheckCommand")->click();
        QVERIFY2(controlOf<QPlainTextEdit>(form, "CheckText")->toPlainText().contains(u"ログインしませんでした"_s),
                 qPrintable(controlOf<QPlainTextEdit>(form, "CheckText")->toPlainText()));
        QTRY_COMPARE(refused.received(), (QList<QByteArray>{"CAPA", "QUIT"}));

        controlOf<QLineEdit>(form, "Pop3Text")->setText(fake.server());
        controlOf<QPushButton>(form, "CheckCommand")->click(); // Yes
        const QStringList asked = Prompt::shownTexts();
        QCOMPARE(asked.size(), 2);
        QVERIFY2(asked.last().contains(u"パスワードが暗号化されずに送られます"_s), qPrintable(asked.last()));
        Prompt::clearShown();
        QVERIFY(PlainLoginConsent(m_state->root.iniFile()).isGiven(fake.server()));
        const QString shown = controlOf<QPlainTextEdit>(form, "CheckText")->toPlainText();
        QVERIFY2(shown.contains(u"POP3: "_s + fake.server() + u" に接続しました"_s), qPrintable(shown));
        QVERIFY2(shown.contains(u"POP3: 失敗しました。"_s) && shown.contains(u"wrong password"_s), qPrintable(shown));
        QVERIFY2(shown.contains(u"SMTP: 失敗しました。SMTP サーバーが設定されていません。"_s), qPrintable(shown));
        QCOMPARE(fake.received().value(2), "PASS pw"_ba);
        QVERIFY(!QFile::exists(m_state->root.serverSettingsFile()));
    }

    void optionFormCancelChangesNothing()
    {
        m_state->smtpServer = u"old"_s;
        OptionForm *form = m_windows->optionForm();
        form->show();
        controlOf<QLineEdit>(form, "SmtpText")->setText(u"new"_s);
        controlOf<QPushButton>(form, "CancelCommand")->click();
        QVERIFY(!form->isVisible());
        QCOMPARE(m_state->smtpServer, u"old"_s);
        QVERIFY(!QFile::exists(m_state->root.serverSettingsFile()));
    }

    // A password file others can read is pointed out; its mode changes only on Yes.
    void passwordFileReadableByOthersIsOffered()
    {
        const QString path = m_state->root.idPassIniFile();
        QVERIFY(acceptAccount(*m_state, u"taro"_s, u"pw"_s, true, nullptr));
        const auto offer = [&] {
            bool done = false;
            offerToProtectPasswordFile(nullptr, m_state->root, [&] { done = true; });
            QTRY_VERIFY(done);
        };
        offer();
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        Prompt::queueAnswer(Prompt::Answer::No);
        offer();
        QVERIFY(QFile::permissions(path) & QFile::ReadOther);
        offer(); // Yes
        QVERIFY(!(QFile::permissions(path) & QFile::ReadOther));
        const QStringList asked = Prompt::shownTexts();
        QCOMPARE(asked.size(), 2);
        QVERIFY(asked.first().contains(path));
        Prompt::clearShown();
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<SettingsWindows> m_windows;
};

QTEST_MAIN(TestSettingsForms)
#include "tst_settingsforms.moc"
