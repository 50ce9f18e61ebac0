#pragma once

#include "compose/logic/UnsentMail.h"
#include "storage/ThreadIndex.h"
#include "winutil/AppContext.h"

#include <QWidget>

class QTextEdit;

namespace hollin {

class MailFields;

// "返事を書く": answers a received mail. The constructor is the window's load step.
class BackForm : public QWidget {
    Q_OBJECT
public:
    explicit BackForm(const AppContext &ctx, QWidget *parent = nullptr);
    ~BackForm() override;

    // The inbox's reply command: given the inbox's subject, sender and body as
    // shown there, fills SubjectText, ToText and BodyText as ReplyText::prefill
    // gives them and shows the window (not modal). thread: the answered
    // mail's ids, sent as In-Reply-To and References (none when empty).
    // A reply the user is writing is replaced only when the user agrees.
    void replyTo(const QString &subject, const QString &sender, const QString &body,
                 const ThreadIndex::Ids &thread = {});

    // BodyText, for the emoticon palette's "挿入（返事を書く）".
    QTextEdit *bodyText() const;
    // Inserts text at BodyText's cursor, replacing its selection.
    void insertIntoBody(const QString &text);

    // The boxes and the guard that asks before what was typed is replaced or lost.
    MailFields &fields() const;
    // Puts a mail kept in the recovery file back and shows the window.
    void restoreDraft(const MailDraft &draft);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void sendReply();
    void sendFinished();
    void pasteIntoBody();
    void toggleAttachmentList();
    void togglePanel();
    void holdMail();
    void recallHeld();
    void deleteHeldMail();

    struct Private;
    Private *d;
};

} // namespace hollin
