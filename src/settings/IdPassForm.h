#pragma once

#include "storage/Error.h"
#include "winutil/AppContext.h"

#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace hollin {

// "ID,PASS": the POP3 account name and password. Constructing it is its load
// step (IdText and PassText from the account file, Check1 clear); a password
// kept in the keyring is filled in when the keyring answers, asked on a thread
// of its own once the dialog is shown, and again when a keyring that did not
// answer in time answers after all (the user unlocked it). Shown as an
// ordinary window; both buttons close and unload it.
class IdPassForm : public QWidget {
    Q_OBJECT
public:
    explicit IdPassForm(const AppContext &ctx, QWidget *parent = nullptr);

    // What the receive session puts into the boxes before showing the dialog.
    void presetAccount(const QString &id, const QString &password);

    // Shown by a receive that lacks the account: Check1 starts ticked, so that
    // OK stores what is typed and the next receive does not ask again. After
    // OK, receive runs (the receive goes on with the account given).
    void showForReceive(std::function<void()> receive);
    // The same for a receive the timer started: shown without taking the
    // keyboard from the window the user types in, until the user clicks it.
    void showForAutomaticReceive(std::function<void()> receive);

    QString idText() const;
    QString passText() const;

    // OKCommand: accept the account, then close. The files and the keyring
    // are written on a thread of their own while the dialog stays usable
    // (OK waits); it stays open when they cannot be written (the failure is
    // reported).
    void accept();

    void setVisible(bool visible) override;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void takeKeyboard();
    void askKeyring();
    void accepted(bool ok, const Error &err);
    AppContext m_ctx;
    QLineEdit *m_idText;
    QLineEdit *m_passText;
    QCheckBox *m_check1;
    QPushButton *m_ok;
    QLabel *m_keyringNote; // where 「保存する」 puts the password, and what the keyring said
    std::function<void()> m_receive; // set while shown for a receive
};

} // namespace hollin
