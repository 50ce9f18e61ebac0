#pragma once

#include "compose/logic/SendJob.h"
#include "compose/WriteFormLayout.h"
#include "compose/logic/UnsentMail.h"
#include "winutil/AppContext.h"
#include "winutil/ListedFile.h"

#include <QHash>
#include <QList>
#include <QWidget>

class QTextEdit;
class QToolBar;

namespace hollin {

class AttachmentPanel;
class HeldMailPanel;
class MailFields;

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
    QTextEdit *rtfEd() const { return m_ui.rtfEd; }
    QToolBar *tbToolBar() const { return m_ui.tbToolBar; }

    // Puts text into the body at the caret, replacing the selection (the
    // emoticon palette's insert command).
    void insertIntoBody(const QString &text);

    // True while a send runs.
    bool isSending() const;

    // The boxes and the guard that asks before what was typed is replaced or
    // lost; replacing the mail there replaces its copies and mode too.
    MailFields &fields() const { return *m_fields; }
    // Puts a mail back whole (a kept draft, a sent copy to send again).
    void restoreDraft(const MailDraft &draft);

signals:
    // A send has ended (successfully or not); the window may have closed.
    void sendFinished();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void wireControls();
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

    void toggleAttachmentList();
    // The copies of a mailto: link: shown in CcText and BccText, where the
    // user may change or remove them, and sent as shown (Bcc in the envelope only).
    void setCopies(const QString &cc, const QString &bcc);
    void wholeAddressBookMode();
    void setWholeBook(bool on, const QString &typed);
    void showWholeBook(bool on);
    void clearOption2();
    void normalMode();

    void insertGreeting();
    void setBodyPlain(const QString &text);
    void statusDoubleClicked();

    const AppContext m_ctx;
    const WriteFormLayout m_ui; // the controls; what they do is wired here
    // Record number of each address-book row of List1; always one spare entry at the end.
    QList<qint16> m_recordMap;
    ListedFile m_listed; // the address book as the side list shows it
    MailFields *m_fields = nullptr;
    HeldMailPanel *m_held = nullptr; // the side list while it shows the held mails
    AttachmentPanel *m_attachments = nullptr;
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
};

} // namespace hollin
