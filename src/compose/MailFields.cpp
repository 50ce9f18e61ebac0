#include "MailFields.h"

#include "AttachmentPanel.h"
#include "winutil/Prompt.h"

#include <QEvent>
#include <QLineEdit>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace hollin {

MailFields::MailFields(QWidget *window, QLineEdit *to, QLineEdit *subject, QTextEdit *body,
                       AttachmentPanel *attachments, UnsentDraftFile recovery)
    : QObject(window), m_window(window), m_to(to), m_subject(subject), m_body(body), m_attachments(attachments),
      m_recovery(std::move(recovery))
{
    m_timer.setInterval(SaveIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &MailFields::saveRecovery);
    m_timer.start();
    m_retry.setSingleShot(true);
    m_retry.setInterval(RetryMs);
    connect(&m_retry, &QTimer::timeout, this, &MailFields::saveRecovery);
    window->installEventFilter(this);
    connect(m_body->document(), &QTextDocument::contentsChanged, this, &MailFields::bodyChanged);
}

// 元に戻す of a replaced body brings back the rest of the replaced mail too.
void MailFields::bodyChanged()
{
    const QTextDocument *document = m_body->document();
    if (m_undoStepsBeforeReplace < 0)
        return;
    // The body's history was dropped (new text set whole): the replace can no longer be undone.
    if (document->availableUndoSteps() == 0 && document->availableRedoSteps() == 0) {
        m_undoStepsBeforeReplace = -1;
        return;
    }
    if (document->availableUndoSteps() == m_undoStepsBeforeReplace && document->availableRedoSteps() > 0) {
        m_undoStepsBeforeReplace = -1;
        const MailDraft before = m_beforeReplace;
        m_to->setText(before.to);
        m_subject->setText(before.subject);
        m_attachments->show(before.attachments);
        if (m_extras.write)
            m_extras.write(before);
    }
}

MailDraft MailFields::draft() const
{
    MailDraft draft{m_to->text(), m_subject->text(), m_body->toPlainText(), m_attachments->paths()};
    if (m_extras.read)
        m_extras.read(&draft);
    return draft;
}

bool MailFields::mayReplace()
{
    if (!isAtRisk())
        return true;
    return Prompt::askWithButtons(m_window, UnsentMail::question(), UnsentMail::replace(), QString(),
                                  UnsentMail::cancel())
        == Prompt::Answer::Yes;
}

MailFields::CloseAnswer MailFields::askBeforeClosing()
{
    if (!isAtRisk())
        return CloseAnswer::Discard;
    switch (Prompt::askWithButtons(m_window, UnsentMail::question(), UnsentMail::holdAndClose(),
                                   UnsentMail::discard(), UnsentMail::cancel())) {
    case Prompt::Answer::Yes: return CloseAnswer::Hold;
    case Prompt::Answer::No: return CloseAnswer::Discard;
    default: return CloseAnswer::Cancel;
    }
}

void MailFields::replace(const MailDraft &mail)
{
    m_undoStepsBeforeReplace = -1;
    m_beforeReplace = draft();
    const int stepsBefore = m_body->document()->availableUndoSteps();
    m_to->setText(mail.to);
    m_subject->setText(mail.subject);
    QTextCursor cursor(m_body->document());
    cursor.select(QTextCursor::Document);
    // New text starts without the last character format (bold and the like).
    cursor.insertText(mail.body, QTextCharFormat());
    m_body->setCurrentCharFormat(QTextCharFormat());
    m_attachments->show(mail.attachments);
    if (m_extras.write)
        m_extras.write(mail);
    m_undoStepsBeforeReplace = stepsBefore;
}

void MailFields::prefillBody(const QString &body)
{
    m_body->setPlainText(body);
    m_guard.settle(draft());
}

void MailFields::settle()
{
    m_guard.settle(draft());
    forget();
}

void MailFields::clear()
{
    m_to->clear();
    m_subject->clear();
    m_undoStepsBeforeReplace = -1;
    m_body->clear();
    m_attachments->clear();
    if (m_extras.write)
        m_extras.write(MailDraft());
    settle();
}

void MailFields::forget()
{
    if (!m_saved && !m_recovery.exists())
        return;
    Error err;
    if (!m_recovery.remove(&err))
        report(err);
    m_saved = false;
}

void MailFields::saveRecovery()
{
    if (!isAtRisk())
        return;
    Error err;
    bool busy = false;
    if (!m_recovery.save(draft(), &err, &busy)) {
        // A receive or a delete is writing: the next save comes soon enough.
        if (busy)
            m_retry.start();
        else
            report(err);
        return;
    }
    m_saved = true;
    m_lastError.clear();
}

bool MailFields::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::WindowDeactivate)
        saveRecovery();
    return QObject::eventFilter(watched, event);
}

void MailFields::report(const Error &err)
{
    if (err.text() == m_lastError)
        return;
    m_lastError = err.text();
    // The recovery file is written while the user types: told without taking the keyboard.
    Prompt::notice(err.text(), {}, Prompt::Icon::Warning);
}

} // namespace hollin
