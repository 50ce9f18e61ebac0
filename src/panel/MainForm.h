#pragma once

#include "PanelSettings.h"
#include "winutil/AppContext.h"
#include "winutil/WindowDrag.h"

#include <QWidget>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace hollin {

class MailLib;

// The control panel: the start-up window, cut to the shape of its controls.
// Constructing it is the program's start-up (remembered settings, mail count,
// server settings, the five floating windows); its commands change the panel's
// look, and "終了" saves the window positions and the two boxes, then ends.
// Ctrl+Shift+1 … 5 run the floating windows' commands from any window.
class MainForm : public QWidget {
    Q_OBJECT
public:
    explicit MainForm(const AppContext &ctx, QWidget *parent = nullptr);
    ~MainForm() override;

    static QString title(); // "個性が光る、レイアウト自由自在 Ver 1.0"
    // Designed inner size in twips.
    static constexpr int DesignedWidth = 9330;
    static constexpr int DesignedHeight = 5265;

    // Ends the program without saving positions or boxes, once the windows
    // holding typed work have closed; false when one stays open.
    bool endWithoutSaving();

    // Text6: the number of mails the last receive fetched.
    void setNewMailCount(int count);
    // Text4: the number of records in the received-mail file, from its length.
    void countStoredMail();
    // What Text4 shows now.
    int storedMailCountShown() const;
    // Check2 "新着メール有りで、メールを見るを自動表示": a receive that stores mail opens the inbox.
    bool opensInboxOnNewMail() const;
    // The small sign shown while an automatic receive runs.
    void setAutoReceiveBusy(bool busy);
    // Check1 "説明表示": the inbox and compose windows show their explanation boxes.
    Qt::CheckState explanationsState() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void nameForScreenReaders(QLabel *text6Label);
    void cutToShape();
    void startUp();
    void applySize(PanelSize size);
    bool showPicture(int n);
    void setBackground(const QColor &colour);

    void loadPictureSet();  // Command3
    void chooseSmall();     // Command1
    void chooseLarge();     // Command2
    void chooseColour();    // Command9
    void exitProgram();     // Command4
    // Closes the compose, reply, palette and settings windows; false when one stays open.
    bool closeWindowsHoldingWork();
    void openPage(const QString &fileName);  // Command5, Command6

    void report(const QString &text);
    int px(int twips) const;
    int toTwips(int pixels) const;

    AppContext m_ctx;
    PanelSettings m_settings;
    std::unique_ptr<MailLib> m_mailLib; // started at start-up, shut down on a close request
    WindowDrag m_drag;

    QWidget *m_picture2;
    QLabel *m_image1;
    QLineEdit *m_text1;
    QLineEdit *m_text2;
    QLineEdit *m_text4;
    QLineEdit *m_text6;
    QLabel *m_autoReceiveBusy;
    QCheckBox *m_check1;
    QCheckBox *m_check2;
    QRadioButton *m_options[5];
    QPushButton *m_command1;
    QPushButton *m_command2;
    QPushButton *m_command3;
    QPushButton *m_command4;
    QPushButton *m_command5;
    QPushButton *m_command6;
    QPushButton *m_command7;
    QPushButton *m_command9;
};

} // namespace hollin
