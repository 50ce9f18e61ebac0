#include "reply/BackForm.h"

#include "reply/BackFormLayout.h"

#include "compose/AttachmentPanel.h"
#include "compose/HeldMailPanel.h"
#include "compose/MailFields.h"
#include "compose/logic/SendJob.h"
#include "compose/logic/Signature.h"
#include "reply/ReplyText.h"
#include "storage/AppState.h"
#include "storage/OwnSettings.h"
#include "storage/TextUtil.h"
#include "transport/RecipientList.h"
#include "winutil/Prompt.h"
#include "winutil/TextFiles.h"
#include "winutil/Twips.h"
#include "winutil/WindowUtil.h"
#include "winutil/Windows.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFrame>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTextEdit>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

const QColor heldListColour(206, 240, 244);

} // namespace

struct BackForm::Private {
    Private(const AppContext &c, QWidget *form) : ctx(c), ui(form) {}

    AppContext ctx;
    MailFields *fields = nullptr;
    HeldMailPanel *held = nullptr;
    AttachmentPanel *attachments = nullptr;
    SendJob *job = nullptr;
    ThreadIndex::Ids thread; // of the mail answered

    BackFormLayout ui;
};

namespace {

void setBackground(QWidget *w, const QColor &colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Base, colour);
    p.setColor(QPalette::Button, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

} // namespace

BackForm::BackForm(const AppContext &ctx, QWidget *parent)
    : QWidget(parent), d(new Private(ctx, this))
{
    setObjectName(u"BackForm"_s);
    setWindowTitle(u"返事を書く"_s);
    resize(twips::toPixels(9870), twips::toPixels(7500));

    d->ui.attachMore->setEnabled(false);
    d->ui.attachNames->installEventFilter(this);
    d->ui.heldList->viewport()->installEventFilter(this);

    d->attachments = new AttachmentPanel(this, {d->ui.attach, d->ui.attachNames, d->ui.attachFirst, d->ui.attachMore,
                                                d->ui.attachClear});
    d->fields = new MailFields(this, d->ui.to, d->ui.subject, d->ui.body, d->attachments,
                               UnsentDraftFile(d->ctx.state.root, u"reply"_s));
    // The thread goes with the mail: kept with a draft or a held mail, and
    // replaced with the mail (a held one sent from here answers nothing).
    d->fields->setExtras({[this](MailDraft *draft) {
                              draft->inReplyTo = d->thread.messageId;
                              draft->references = d->thread.references;
                          },
                          [this](const MailDraft &mail) { d->thread = {mail.inReplyTo, mail.references}; }});
    d->held = new HeldMailPanel(this, d->ctx.state, *d->fields, {d->ui.heldList, d->ui.heldCount, d->ui.picked, nullptr});
    // The reply sends to its recipient box only: a held mail's mode and copies are not sent from here.
    d->held->setNotSent(&HeldMailStore::notSentFromReply);

    connect(d->ui.send, &QPushButton::clicked, this, [this] { sendReply(); });
    connect(d->ui.stop, &QPushButton::clicked, this, &QWidget::close);
    connect(d->ui.paste, &QPushButton::clicked, this, [this] { pasteIntoBody(); });
    connect(d->ui.emoticons, &QPushButton::clicked, this, [this] {
        d->ctx.windows.kaoForm();
        if (QWidget *palette = d->ctx.windows.loaded("KaoForm"))
            palette->show();
    });
    connect(d->ui.listToggle, &QPushButton::clicked, this, [this] { toggleAttachmentList(); });
    connect(d->ui.drafts, &QPushButton::clicked, this, [this] { togglePanel(); });
    connect(d->ui.hold, &QPushButton::clicked, this, [this] { holdMail(); });
    connect(d->ui.recall, &QPushButton::clicked, this, [this] { recallHeld(); });
    connect(d->ui.deleteHeld, &QPushButton::clicked, this, [this] { deleteHeldMail(); });

    // Load.
    d->ctx.windows.hideFloatingWindows();
    d->ui.panel->hide();
    d->ui.attachNames->hide();
}

BackForm::~BackForm()
{
    delete d->job; // waits for a send still running
    delete d;
}

void BackForm::replyTo(const QString &subject, const QString &sender, const QString &body,
                       const ThreadIndex::Ids &thread)
{
    if (!d->fields->mayReplace()) { // a reply being written stays, in front
        show();
        raise();
        return;
    }
    const ReplyText reply = ReplyText::prefill(subject, sender, body);
    // Everything of a reply written before goes, attachments included.
    MailDraft mail{reply.to, reply.subject,
                   bodyWithSignature(reply.body, OwnSettings(d->ctx.state.root.hollinIniFile()).signature())};
    mail.inReplyTo = thread.messageId;
    mail.references = thread.references;
    d->fields->replace(mail);
    d->fields->settle(); // the program's prefill; what the user adds is at risk
    show();
}

MailFields &BackForm::fields() const
{
    return *d->fields;
}

void BackForm::restoreDraft(const MailDraft &draft)
{
    d->fields->replace(draft);
    show();
}

QTextEdit *BackForm::bodyText() const
{
    return d->ui.body;
}

void BackForm::insertIntoBody(const QString &text)
{
    d->ui.body->textCursor().insertText(text);
}

void BackForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    d->ui.fitToForm();
}

// One library call with the window's fields; only a send that went through
// closes the window, a failure leaves it open with everything as typed, and
// refused recipients leave it open with only those in the recipient box.
void BackForm::sendReply()
{
    if (d->job)
        return;
    SendRequest request = SendRequest::fromState(d->ctx.state);
    request.recipients = SendRequest::single(d->ui.to->text());
    request.subject = d->ui.subject->text();
    request.body = d->ui.body->toPlainText();
    request.attachments = d->ui.attach->text();
    request.inReplyTo = d->thread.messageId;
    request.references = d->thread.references;

    d->job = new SendJob(request, this);
    connect(d->job, &SendJob::finished, this, [this] { sendFinished(); });
    setEnabled(false);
    d->job->start();
}

void BackForm::sendFinished()
{
    const SendResult result = d->job->result();
    d->job->deleteLater();
    d->job = nullptr;
    d->ctx.state.smtpServer = result.smtpServer;
    setEnabled(true);
    if (result.notKept > 0)
        Prompt::message(this, result.keepErrorText(), SendJob::errorTitle(), Prompt::Icon::Warning);
    if (result.succeeded()) {
        d->fields->settle();
        close();
        return;
    }
    if (result.failures.isEmpty() && !result.refusals.isEmpty())
        d->ui.to->setText(RecipientList::only(d->ui.to->text(), result.refusedAddresses()));
    Prompt::message(this, result.errorText(), SendJob::errorTitle(), Prompt::Icon::Critical);
}

// At the caret, replacing the selection, as one edit that can be undone.
void BackForm::pasteIntoBody()
{
    d->ui.body->textCursor().insertText(trimSpaces(QApplication::clipboard()->text()));
    d->ui.body->setFocus();
}

// The count is shared with the compose window's "リスト" button.
void BackForm::toggleAttachmentList()
{
    qint16 &count = d->ctx.state.listToggleCount;
    if (count % 2 == 0) {
        setBackground(d->ui.listToggle, QColor(255, 255, 0));
        d->ui.listToggle->setText(u"非表示"_s);
        d->ui.attachNames->hide();
    } else {
        setBackground(d->ui.listToggle, QColor(192, 192, 192));
        d->ui.listToggle->setText(u"表示"_s);
        d->ui.attachNames->show();
    }
    count = qint16(count + 1);
}

// The count is shared with the compose window's "下書き" button.
void BackForm::togglePanel()
{
    qint16 &count = d->ctx.state.heldPanelToggleCount;
    if (count % 2 == 0) {
        d->ui.panel->show();
        d->ui.panel->raise();
        d->ui.drafts->setText(u"　下書き"_s);
    } else {
        d->ui.panel->hide();
        d->ui.drafts->setText(u"下書き"_s);
    }
    count = qint16(count + 1);
}

void BackForm::holdMail()
{
    if (!d->held->hold(true))
        return;
    d->held->list();
    setBackground(d->ui.heldList, heldListColour);
    d->ui.drafts->setText(u"下書き"_s);
}

void BackForm::recallHeld()
{
    d->ui.picked->clear();
    d->ctx.state.sideListMode = 10;
    d->held->list();
    setBackground(d->ui.heldList, heldListColour);
    d->ui.drafts->setText(u"下書き"_s);
    setBackground(d->ui.drafts, QColor(255, 255, 0));
}

void BackForm::deleteHeldMail()
{
    if (d->ctx.state.sideListMode == 10) {
        d->held->removeSelected();
        d->ui.body->setFocus();
    }
    d->ui.picked->clear();
    d->ui.drafts->setText(u"下書き"_s);
}

bool BackForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == d->ui.attachNames && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        d->ui.placeBody();
    if (watched == d->ui.heldList->viewport() && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        d->held->pick();
    return QWidget::eventFilter(watched, event);
}

void BackForm::closeEvent(QCloseEvent *event)
{
    if (d->job) {
        // The send finishes first; it closes the window when it went through.
        event->ignore();
        return;
    }
    if (!d->held->mayClose()) {
        event->ignore();
        return;
    }
    // Emptied and settled: the deactivation that follows keeps nothing.
    d->fields->clear();
    d->ctx.windows.showFloatingWindowsAfter("BackForm");
    QWidget::closeEvent(event);
    unloadWhenClosed(d->ctx.windows, this, "BackForm");
}

} // namespace hollin
