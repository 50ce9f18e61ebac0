#pragma once

#include "compose/logic/SendJob.h"
#include "compose/logic/UnsentMail.h"
#include "winutil/AppContext.h"
#include "winutil/ListedFile.h"

#include <QHash>
#include <QList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTextEdit;
class QToolBar;

namespace hollin {

class HeldMailPanel;
class MailFields;
class MailSearchBar;

// "新規作成": the window in which a new mail is written, held and sent.
// The constructor is the window's load step. Every control carries its
// designed name as objectName (ToText, SubjectText, rtfEd, Command1 …).
class WriteForm : public QWidget {
    Q_OBJECT
public:
    explicit WriteForm(const AppContext &ctx, QWidget *parent = nullptr);
    ~WriteForm() override;

    // The body editor and its toolbar. Each toolbar action's objectName is the
    // key of its editing command ("New", "Open", "Print", "Cut", "Copy",
    // "Paste", "Undo", "Bold", "Italic", "Underline").
    QTextEdit *rtfEd() const { return m_rtfEd; }
    QToolBar *tbToolBar() const { return m_tbToolBar; }

    // Puts text into the body at the caret, replacing the selection (the
    // emoticon palette's insert command).
    void insertIntoBody(const QString &text);

    // True while a send runs.
    bool isSending() const;

    // The boxes and the guard that asks before what was typed is replaced or lost.
    MailFields &fields() const { return *m_fields; }
    // Puts a mail kept in the recovery file back: recipient, subject, body and attachments.
    void restoreDraft(const MailDraft &draft);

signals:
    // A send has ended (successfully or not); the window may have closed.
    void sendFinished();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int px(int twips) const;
    void place(QWidget *w, int left, int top, int width, int height);
    QPushButton *button(const QString &name, const QString &caption, QWidget *parent = nullptr);
    QLabel *label(const QString &name, const QString &caption, QWidget *parent = nullptr);
    void buildControls();
    void placeHelpBox();
    void fitHelpBox();
    void setSideListHeading();
    void loadAddressList();
    void setListBackground(const QColor &colour);
    void setWidthTwips(int twips);
    void setRowCount();
    bool selectedRow(int *row);

    void send();
    void sendDone();
    void setControlsEnabled(bool enabled);
    void pasteIntoBody();
    void pasteIntoRecipient();
    void rememberRecipientSelection();
    void showEmoticons();
    void showAddressBook();
    void narrow();

    void togglePanel();
    void hold();
    void recall();
    void deleteHeld();
    void listPressed();
    void pickAddress(int recordNumber);

    void firstAttachment();
    void furtherAttachment();
    void clearAttachments();
    void toggleAttachmentList();
    void wholeAddressBookMode();
    void clearOption2();
    void normalMode();

    void insertGreeting();
    void setBodyPlain(const QString &text);
    void setAttachments(const QString &paths);
    void statusDoubleClicked();

    const AppContext m_ctx;
    // Record number of each address-book row of List1; always one spare entry at the end.
    QList<qint16> m_recordMap;
    ListedFile m_listed; // the address book as the side list shows it
    MailFields *m_fields = nullptr;
    HeldMailPanel *m_held = nullptr; // the side list while it shows the held mails
    QString m_toBeforeWholeBook;     // ToText as typed when the whole address book was chosen
    SendJob *m_job = nullptr;
    QString m_toTextBeforeSend;
    QList<SendRecipient> m_sentTo;      // the recipients of the send running or last run
    QList<SendRecipient> m_undelivered; // whole-address-book recipients the last send missed
    QHash<QWidget *, bool> m_enabledBeforeSend;
    QHash<QObject *, QString> m_help; // hover text of each control
    bool m_greetingChosen = false;    // a phrase was picked and not yet inserted
    struct RecipientSelection {
        int start = -1; // -1: nothing remembered
        int length = 0;
    };
    RecipientSelection m_toSelection; // ToText's selection when it last lost the focus

    QLineEdit *m_toText = nullptr;
    QLineEdit *m_subjectText = nullptr;
    QComboBox *m_combo1 = nullptr;
    QTextEdit *m_rtfEd = nullptr;
    QToolBar *m_tbToolBar = nullptr;
    QLineEdit *m_attachText = nullptr;
    QPushButton *m_attachCommand = nullptr;
    QPushButton *m_command9 = nullptr;
    QPushButton *m_command10 = nullptr;
    QPushButton *m_command16 = nullptr;
    QListWidget *m_list2 = nullptr;
    QPushButton *m_command1 = nullptr;
    QPushButton *m_command3 = nullptr;
    QPushButton *m_command4 = nullptr;
    QPushButton *m_command6 = nullptr;
    QPushButton *m_command5 = nullptr;
    QPushButton *m_command7 = nullptr;
    QPushButton *m_command8 = nullptr;
    QPushButton *m_command17 = nullptr;
    QFrame *m_picture7 = nullptr;
    QPushButton *m_command13 = nullptr;
    QPushButton *m_command14 = nullptr;
    QPushButton *m_command15 = nullptr;
    QListWidget *m_list1 = nullptr;
    QLabel *m_label4 = nullptr; // heading of List1
    QLineEdit *m_text1 = nullptr;
    MailSearchBar *m_searchBar = nullptr; // searches the held mails
    QFrame *m_frame1 = nullptr;
    QFrame *m_frame4 = nullptr;
    QRadioButton *m_option1 = nullptr;
    QRadioButton *m_option2 = nullptr;
    QCheckBox *m_check1 = nullptr;
    QLabel *m_label7 = nullptr;
    QPlainTextEdit *m_text14 = nullptr;
    QLineEdit *m_text2 = nullptr;
    QLineEdit *m_text4 = nullptr;
    QPushButton *m_command2 = nullptr;
};

} // namespace hollin
