#pragma once

#include "winutil/AppContext.h"

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

namespace hollin {

// "サーバー設定": SMTP and POP3 servers, the user's own address and the APOP
// choice. Constructing it is its load step (the boxes from the program-wide
// values). Shown as an ordinary window; both buttons close and unload it.
class OptionForm : public QWidget {
    Q_OBJECT
public:
    explicit OptionForm(const AppContext &ctx, QWidget *parent = nullptr);

    // OkCommand: the program-wide values and hlmail.ini take the boxes' values,
    // then the dialog closes. Stays open when the file cannot be written (the
    // failure is reported).
    void accept();
    // CheckCommand (接続テスト): the connection test with the boxes' servers and
    // the account in use, its lines shown in CheckText. Nothing is saved.
    void checkConnection();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    AppContext m_ctx;
    QLineEdit *m_smtpText;
    QLineEdit *m_pop3Text;
    QLineEdit *m_mailText;
    QCheckBox *m_apopCheck;
    QPlainTextEdit *m_checkText;
};

} // namespace hollin
