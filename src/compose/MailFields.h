#pragma once

#include "compose/logic/UnsentDraftFile.h"
#include "compose/logic/UnsentMail.h"

#include <QObject>
#include <QTimer>

#include <functional>

class QLineEdit;
class QTextEdit;
class QWidget;

namespace hollin {

class AttachmentPanel;

// The recipient, subject, body and attachment boxes of a window that writes
// mail (compose or reply), with the guard that asks before what was typed is
// replaced or thrown away, and the recovery file that keeps it meanwhile:
// saved every 30 seconds and whenever the window loses the focus while it
// holds something unsent, removed once that is sent, held or given up.
class MailFields : public QObject {
    Q_OBJECT
public:
    MailFields(QWidget *window, QLineEdit *to, QLineEdit *subject, QTextEdit *body, AttachmentPanel *attachments,
               UnsentDraftFile recovery);

    // What the window holds besides the boxes (copies, mode, thread): read
    // into a draft, and put back from one when the mail is replaced.
    struct Extras {
        std::function<void(MailDraft *)> read;
        std::function<void(const MailDraft &)> write;
    };
    void setExtras(const Extras &extras) { m_extras = extras; }

    static constexpr int SaveIntervalMs = 30000;
    static constexpr int RetryMs = 5000; // after another writer held the data folder's lock

    MailDraft draft() const;
    // True when the window holds something the user would lose.
    bool isAtRisk() const { return m_guard.isAtRisk(draft()); }

    // Before recipient, subject and body are replaced: true when nothing is at
    // risk or the user answered 置き換える.
    bool mayReplace();
    enum class CloseAnswer { Hold, Discard, Cancel };
    // Before the window closes with something at risk.
    CloseAnswer askBeforeClosing();

    // Everything replaced: boxes, attachments and extras; the body as one
    // edit, and 元に戻す of that edit brings back the whole mail it replaced.
    void replace(const MailDraft &mail);
    // The program's own text for the body of a new window (the signature):
    // nothing is at risk until the user changes it. The recovery file stays.
    void prefillBody(const QString &body);
    // What the boxes hold now is safe elsewhere (sent, held, loaded from a held
    // mail): nothing is at risk and the recovery file goes.
    void settle();
    // The mail is given up, held, sent or its window closed: everything
    // emptied and settled, the recovery file gone.
    void clear();
    // The window closes cleanly: the recovery file goes.
    void forget();

    // Writes the recovery file now when something is at risk.
    void saveRecovery();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void bodyChanged();
    void report(const Error &err);

    QWidget *m_window;
    QLineEdit *m_to;
    QLineEdit *m_subject;
    QTextEdit *m_body;
    AttachmentPanel *m_attachments;
    Extras m_extras;
    MailDraft m_beforeReplace;        // what the last replace took away
    int m_undoStepsBeforeReplace = -1; // the body's undo steps before it; -1: nothing to bring back
    UnsentMail m_guard;
    UnsentDraftFile m_recovery;
    QTimer m_timer;
    QTimer m_retry; // a save put off while another writer held the data folder's lock
    bool m_saved = false;      // the recovery file holds this window's content
    QString m_lastError;       // a failure is told once, not every 30 seconds
};

} // namespace hollin
