#include "IdPassForm.h"

#include "AccountSettings.h"
#include "storage/AppState.h"
#include "storage/ProfileFile.h"
#include "winutil/Prompt.h"
#include "winutil/WindowStacking.h"
#include "winutil/WindowUtil.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// What the keyring said, read on a thread of its own.
struct KeyringAnswer {
    Account saved;
    bool available = false;
    QString problem;
};

// Where 「保存する」 puts the password, said under the check box, and why a
// password saved in the keyring could not be read.
QString noteText(const KeyringAnswer &a, const QString &idPassIniFile)
{
    QString text = a.available
        ? u"パスワードはデスクトップのキーリングに保存します。"_s
        : u"キーリングが使えないため、パスワードはファイル「%1」（自分だけが読める設定）に保存します。"_s.arg(idPassIniFile);
    if (!a.saved.id.isEmpty() && a.saved.password.isEmpty() && !a.problem.isEmpty())
        text += u"\n保存したパスワードをキーリングから読めませんでした: "_s + a.problem;
    return text;
}

} // namespace

IdPassForm::IdPassForm(const AppContext &ctx, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ctx(ctx)
{
    setObjectName(u"IdPassForm"_s);
    setWindowTitle(u"ID,PASS"_s);
    keepAbove(this);

    m_idText = new QLineEdit(this);
    m_idText->setObjectName(u"IdText"_s);
    m_passText = new QLineEdit(this);
    m_passText->setObjectName(u"PassText"_s);
    m_passText->setEchoMode(QLineEdit::Password);
    m_passText->setStyleSheet(u"QLineEdit { lineedit-password-character: 42; }"_s); // "*"
    m_check1 = new QCheckBox(u"IDパスワードを保存する"_s, this);
    m_check1->setObjectName(u"Check1"_s);
    m_keyringNote = new QLabel(this);
    m_keyringNote->setObjectName(u"KeyringNote"_s);
    m_keyringNote->setWordWrap(true);
    auto *ok = m_ok = new QPushButton(u"OK"_s, this);
    ok->setObjectName(u"OKCommand"_s);
    auto *cancel = new QPushButton(u"Cancel"_s, this);
    cancel->setObjectName(u"CancelCommand"_s);

    auto *idLabel = new QLabel(u"ID"_s, this);
    idLabel->setBuddy(m_idText);
    auto *passLabel = new QLabel(u"Password"_s, this);
    passLabel->setBuddy(m_passText);

    auto *grid = new QGridLayout(this);
    grid->addWidget(idLabel, 0, 0);
    grid->addWidget(m_idText, 0, 1);
    grid->addWidget(passLabel, 1, 0);
    grid->addWidget(m_passText, 1, 1);
    grid->addWidget(m_check1, 2, 0, 1, 2);
    grid->addWidget(m_keyringNote, 3, 0, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    grid->addLayout(buttons, 4, 0, 1, 2);
    m_idText->setMinimumWidth(200);

    // The file at once; the keyring, which may be slow, locked or out of
    // reach, answers later (askKeyring()).
    const ProfileFile file(ctx.state.root.idPassIniFile(), true);
    presetAccount(file.readText(u"NAME"_s), file.readText(u"NAME2"_s));

    connect(ok, &QPushButton::clicked, this, &IdPassForm::accept);
    connect(m_idText, &QLineEdit::returnPressed, this, &IdPassForm::accept);
    connect(m_passText, &QLineEdit::returnPressed, this, &IdPassForm::accept);
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);
    connect(Keyring::events(), &KeyringEvents::answeredLate, this, [this] {
        if (isVisible())
            askKeyring();
    });
}

void IdPassForm::presetAccount(const QString &id, const QString &password)
{
    m_idText->setText(id);
    m_passText->setText(password);
}

// The keyring is never waited for on the window thread: it may take 25 s to
// find no session bus, or a minute for the user to unlock it.
void IdPassForm::askKeyring()
{
    m_keyringNote->setText(u"キーリングを確かめています…"_s);
    const QPointer<IdPassForm> self(this);
    QThread *thread = QThread::create([self, path = m_ctx.state.root.idPassIniFile()] {
        AccountStore store(path);
        KeyringAnswer answer;
        answer.saved = store.load();
        answer.available = store.keyringAvailable();
        answer.problem = store.keyringProblem();
        QMetaObject::invokeMethod(qApp, [self, answer, path] {
            if (!self)
                return;
            // What the user or a receive put into the box stays.
            if (self->m_passText->text().isEmpty() && self->m_idText->text() == answer.saved.id)
                self->m_passText->setText(answer.saved.password);
            self->m_keyringNote->setText(noteText(answer, path));
            self->adjustSize(); // the whole note fits
        });
    });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void IdPassForm::showForReceive(std::function<void()> receive)
{
    m_receive = std::move(receive);
    m_check1->setChecked(true);
    show();
    takeKeyboard();
}

void IdPassForm::showForAutomaticReceive(std::function<void()> receive)
{
    m_receive = std::move(receive);
    m_check1->setChecked(true);
    if (isVisible())
        return;
    // A window manager hands the keyboard to any new window of the program the
    // user types in, so the window refuses the keyboard until it is clicked.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    winId();
    windowHandle()->installEventFilter(this);
    show();
}

// Also for a window shown without the keyboard: its flags change without
// hiding and showing it again, as a change of the widget's flags would.
void IdPassForm::takeKeyboard()
{
    if (windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus)) {
        overrideWindowFlags(windowFlags() & ~Qt::WindowDoesNotAcceptFocus);
        windowHandle()->setFlag(Qt::WindowDoesNotAcceptFocus, false);
        setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
    raise();
    activateWindow();
}

// The first click on a window shown without the keyboard gives it the keyboard.
bool IdPassForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == windowHandle() && event->type() == QEvent::MouseButtonPress
        && windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus))
        takeKeyboard();
    return QWidget::eventFilter(watched, event);
}

QString IdPassForm::idText() const
{
    return m_idText->text();
}

QString IdPassForm::passText() const
{
    return m_passText->text();
}

void IdPassForm::accept()
{
    if (!m_ok->isEnabled())
        return; // the last OK is still being saved
    m_ok->setEnabled(false);
    m_keyringNote->setText(u"保存しています…"_s);
    const QPointer<IdPassForm> self(this);
    AppState *state = &m_ctx.state;
    QThread *thread = QThread::create([self, state, root = m_ctx.state.root, id = m_idText->text(),
                                       password = m_passText->text(), save = m_check1->isChecked()] {
        AccountInUse inUse;
        Error err;
        const bool ok = storeAccount(root, id, password, save, &inUse, &err);
        QMetaObject::invokeMethod(qApp, [self, state, ok, inUse, err] {
            // The files changed even when the dialog was closed meanwhile.
            if (ok)
                useAccount(*state, inUse);
            if (self)
                self->accepted(ok, err);
            else if (!ok)
                Prompt::message(nullptr, err.text(), {}, Prompt::Icon::Warning);
        });
    });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void IdPassForm::accepted(bool ok, const Error &err)
{
    m_ok->setEnabled(true);
    if (!ok) {
        m_keyringNote->clear();
        askKeyring(); // the note says again where the password goes
        Prompt::message(this, err.text(), {}, Prompt::Icon::Warning);
        return;
    }
    const bool typedIgnored = !m_check1->isChecked()
        && (m_ctx.state.accountId != m_idText->text() || m_ctx.state.accountPassword != m_passText->text());
    if (typedIgnored) {
        Prompt::message(this, u"「IDパスワードを保存する」にチェックがないため、入力した ID とパスワードは使いません。"
                              u"受信・送信・接続テストには、保存されているアカウント「%1」とそのパスワードを使います。"_s
                                  .arg(m_ctx.state.accountId));
    }
    const std::function<void()> receive = std::exchange(m_receive, {});
    close();
    if (receive)
        receive();
}

void IdPassForm::setVisible(bool visible)
{
    // Asked only when the dialog is seen: a receive also loads it, unseen,
    // to hold the account it used.
    if (visible && m_keyringNote->text().isEmpty())
        askKeyring();
    QWidget::setVisible(visible);
}

void IdPassForm::closeEvent(QCloseEvent *event)
{
    event->accept();
    unloadWhenClosed(m_ctx.windows, this, "IdPassForm");
}

} // namespace hollin
