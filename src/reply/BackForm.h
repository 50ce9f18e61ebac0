#pragma once

#include "winutil/AppContext.h"

#include <QWidget>

class QTextEdit;

namespace hollin {

// "返事を書く": answers a received mail. The constructor is the window's load step.
class BackForm : public QWidget {
    Q_OBJECT
public:
    explicit BackForm(const AppContext &ctx, QWidget *parent = nullptr);
    ~BackForm() override;

    // The inbox's reply command: given the inbox's subject, sender and body as
    // shown there, sets SubjectText = "Re:" + two spaces + the trimmed subject,
    // ToText = the trimmed sender, BodyText = the trimmed body, and shows the
    // window (not modal).
    void replyTo(const QString &subject, const QString &sender, const QString &body);

    // BodyText, for the emoticon palette's "挿入（返事を書く）".
    QTextEdit *bodyText() const;
    // Inserts text at BodyText's cursor, replacing its selection.
    void insertIntoBody(const QString &text);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void sendReply();
    void sendFinished();
    void pasteIntoBody();
    void firstAttachment();
    void furtherAttachment();
    void clearAttachments();
    void toggleAttachmentList();
    void placeBody();
    void togglePanel();
    bool listHeldMails();
    void holdMail();
    void recallHeld();
    int selectedHeldLine() const;
    void pickHeldMail();
    void deleteHeldMail();

    struct Private;
    Private *d;
};

} // namespace hollin
