#pragma once

#include "winutil/AppContext.h"

#include <QWidget>
#include <memory>

class QCheckBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace hollin {

class NoticeSettings;
class OpenComposition;
class SenderBox;

// "設定": the new-mail notice options, which are also the program's live
// notice settings, the buttons to the account and server dialogs, and whether
// received mail stays on the server (read from ini.ini by every receive), and
// the sender name and signature (SenderBox, hollin.ini).
// Constructing it is its load step (restores the options from ini.ini);
// closing it writes them and unloads it.
class SetForm : public QWidget {
    Q_OBJECT
public:
    explicit SetForm(const AppContext &ctx, QWidget *parent = nullptr);
    ~SetForm() override;

    // Option1 "新着メール有りでお知らせボードを表示" is selected.
    bool showNoticeBoard() const;
    // Check2 "新着お知らせボードを１秒で自動消去させる": Qt::Checked closes the
    // board after one second, Qt::Unchecked leaves it open, any other state
    // shows no board.
    Qt::CheckState autoEraseState() const;
    // Start-up sets the box from NUMBER4 (ticked for 1, clear otherwise).
    void setAutoErase(bool on);

signals:
    // The automatic receive was changed: every `minutes`, 0 for off.
    void autoReceiveChanged(int minutes);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void hiddenTextChanged(const QString &text);
    void report(const QString &text);
    void autoReceiveEdited();

    AppContext m_ctx;
    std::unique_ptr<NoticeSettings> m_settings;
    QCheckBox *m_check2;
    QRadioButton *m_option1;
    QLineEdit *m_text2;
    QCheckBox *m_keepCheck;
    QSpinBox *m_keepDays;
    QCheckBox *m_autoReceive;
    QSpinBox *m_autoMinutes;
    SenderBox *m_sender;
    OpenComposition *m_composition;
};

} // namespace hollin
