#include "OptionForm.h"

#include "AccountSettings.h"
#include "storage/AppState.h"
#include "transport/ConnectionCheck.h"
#include "transport/PlainLoginConsent.h"
#include "winutil/BusyJob.h"
#include "winutil/Prompt.h"
#include "winutil/WindowStacking.h"
#include "winutil/WindowUtil.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <mutex>

using namespace Qt::StringLiterals;

namespace hollin {

OptionForm::OptionForm(const AppContext &ctx, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ctx(ctx)
{
    setObjectName(u"OptionForm"_s);
    setWindowTitle(u"サーバー設定"_s);
    keepAbove(this); // the floating windows must not cover it

    m_smtpText = new QLineEdit(this);
    m_smtpText->setObjectName(u"SmtpText"_s);
    m_pop3Text = new QLineEdit(this);
    m_pop3Text->setObjectName(u"Pop3Text"_s);
    m_mailText = new QLineEdit(this);
    m_mailText->setObjectName(u"MailText"_s);
    m_apopCheck = new QCheckBox(u"APOP を使用する(&A)"_s, this);
    m_apopCheck->setObjectName(u"ApopCheck"_s);
    auto *hint = new QLabel(u"host または host:port だけのときは、サーバーが暗号化（STLS / STARTTLS）に"
                            u"対応していれば暗号化して使い、対応していなければ暗号化せずに通信します。"
                            u"そのとき POP3 のパスワードは暗号化されずに送られます（SMTP は認証しません）。\n"
                            u"暗号化を必ず使うには pop3s://host[:port]、pop3://host、"
                            u"smtps://host[:port]、smtp://host:587 の形で書いてください。"
                            u"host:995 と host:465 は最初から暗号化（TLS）します。"_s, this);
    hint->setWordWrap(true);
    hint->setObjectName(u"HintLabel"_s);
    auto *check = new QPushButton(u"接続テスト(&T)"_s, this);
    check->setObjectName(u"CheckCommand"_s);
    m_checkText = new QPlainTextEdit(this);
    m_checkText->setObjectName(u"CheckText"_s);
    m_checkText->setReadOnly(true);
    m_checkText->setPlaceholderText(u"「接続テスト」で、入力中のサーバーに ID とパスワードでログインできるかを確かめます"
                                    u"（メールの受信・送信はしません）。"_s);
    auto *ok = new QPushButton(u"設定"_s, this);
    ok->setObjectName(u"OkCommand"_s);
    auto *cancel = new QPushButton(u"中止"_s, this);
    cancel->setObjectName(u"CancelCommand"_s);

    auto *grid = new QGridLayout(this);
    const auto addRow = [&](int row, const QString &caption, QLineEdit *edit) {
        auto *label = new QLabel(caption, this);
        label->setBuddy(edit);
        grid->addWidget(label, row, 0);
        grid->addWidget(edit, row, 1);
    };
    addRow(0, u"SMTPサーバー名(&S)"_s, m_smtpText);
    addRow(1, u"POP3サーバー名(&P)"_s, m_pop3Text);
    grid->addWidget(hint, 2, 0, 1, 2);
    addRow(3, u"メールアドレス(&M)"_s, m_mailText);
    grid->addWidget(m_apopCheck, 4, 0, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(check);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    grid->addWidget(m_checkText, 5, 0, 1, 2);
    grid->addLayout(buttons, 6, 0, 1, 2);
    m_smtpText->setMinimumWidth(260);

    const ServerSettings current = serverSettingsOf(ctx.state);
    m_smtpText->setText(current.smtpServer);
    m_pop3Text->setText(current.pop3Server);
    m_mailText->setText(current.mailAddress);
    // Any non-zero flag (a hand-edited "APOP=" line) means APOP is on.
    m_apopCheck->setChecked(current.apopFlag != 0);

    connect(check, &QPushButton::clicked, this, &OptionForm::checkConnection);
    connect(ok, &QPushButton::clicked, this, &OptionForm::accept);
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);
}

void OptionForm::accept()
{
    ServerSettings settings;
    settings.smtpServer = m_smtpText->text();
    settings.pop3Server = m_pop3Text->text();
    settings.mailAddress = m_mailText->text();
    settings.apopFlag = m_apopCheck->isChecked() ? 1 : 0;
    Error err;
    if (!acceptServerSettings(m_ctx.state, settings, &err)) {
        Prompt::message(this, err.text(), {}, Prompt::Icon::Warning);
        return;
    }
    close();
}

void OptionForm::checkConnection()
{
    const QString pop3 = m_pop3Text->text();
    const QString smtp = m_smtpText->text();
    const bool apop = m_apopCheck->isChecked();
    const QString user = m_ctx.state.accountId;
    const QString password = m_ctx.state.accountPassword;
    std::mutex mutex;
    QStringList lines;
    ConnectionCheck check([&](const QString &line) {
        const std::lock_guard lock(mutex);
        lines.append(line);
    });
    // The rule of the receive: an unencrypted login only after the user
    // agreed, once per server; the question is asked on this thread.
    check.setPlainLoginConsent([this, ini = m_ctx.state.root.iniFile()](const QString &server, bool apop) {
        PlainLoginConsent consent(ini);
        if (consent.isGiven(server, apop))
            return true;
        bool yes = false;
        QMetaObject::invokeMethod(this, [&] {
            yes = Prompt::ask(this, PlainLoginConsent::warning(server, apop)
                                        + u"\nこのサーバーでは今後もこのままログインしますか？"_s);
            Error err;
            if (yes && !consent.give(server, apop, &err))
                Prompt::message(this, err.text(), {}, Prompt::Icon::Warning);
        }, Qt::BlockingQueuedConnection);
        return yes;
    });
    // Each failure is one of the lines shown: the Error needs no box of its own.
    Error err;
    runWhileBusy(this, u"サーバーへの接続を確かめています…"_s, [&](Error *e) {
        const bool pop3Ok = check.checkPop3(pop3, user, password, apop, e);
        return check.checkSmtp(smtp, user, password, e) && pop3Ok;
    }, &err);
    m_checkText->setPlainText(lines.join(u'\n'));
}

void OptionForm::closeEvent(QCloseEvent *event)
{
    event->accept();
    unloadWhenClosed(m_ctx.windows, this, "OptionForm");
}

} // namespace hollin
