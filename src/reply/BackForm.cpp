#include "reply/BackForm.h"

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
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

const QColor heldListColour(206, 240, 244);
constexpr int BodyTopTwips = 1560;

} // namespace

struct BackForm::Private {
    Private(const AppContext &c) : ctx(c) {}

    AppContext ctx;
    MailFields *fields = nullptr;
    HeldMailPanel *held = nullptr;
    AttachmentPanel *attachments = nullptr;
    SendJob *job = nullptr;
    ThreadIndex::Ids thread; // of the mail answered

    QPushButton *send = nullptr;        // Command2
    QPushButton *stop = nullptr;        // Command3
    QPushButton *paste = nullptr;       // Command4
    QPushButton *emoticons = nullptr;   // Command8
    QLineEdit *to = nullptr;            // ToText
    QLineEdit *subject = nullptr;       // SubjectText
    QLineEdit *attach = nullptr;        // AttachText
    QPushButton *attachFirst = nullptr; // AttachCommand
    QPushButton *attachMore = nullptr;  // Command9
    QPushButton *attachClear = nullptr; // Command10
    QListWidget *attachNames = nullptr; // List2
    QPushButton *listToggle = nullptr;  // Command16
    QPushButton *drafts = nullptr;      // Command17
    QFrame *panel = nullptr;            // Picture7
    QPushButton *hold = nullptr;        // Command13
    QPushButton *recall = nullptr;      // Command14
    QPushButton *deleteHeld = nullptr;  // Command15
    QTextEdit *body = nullptr;          // BodyText
    QListWidget *heldList = nullptr;    // List1
    QLineEdit *heldCount = nullptr;     // Text1
    QLineEdit *picked = nullptr;        // Text2: "1" after a held mail was clicked
    QStatusBar *statusBar = nullptr;    // StatusBar1
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
    : QWidget(parent), d(new Private(ctx))
{
    setObjectName(u"BackForm"_s);
    setWindowTitle(u"返事を書く"_s);
    resize(twips::toPixels(9870), twips::toPixels(7500));

    auto button = [this](const char *name, const QString &caption, const QRect &r) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(r);
        return b;
    };
    auto lineEdit = [this](const char *name, const QRect &r) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(r);
        return e;
    };
    auto label = [this](const QString &text, const QRect &r) {
        auto *l = new QLabel(text, this);
        l->setGeometry(r);
    };

    d->send = button("Command2", u"    送信"_s, twips::rect(0, 0, 1215, 375));
    d->stop = button("Command3", u"     送信中止"_s, twips::rect(1200, 0, 1215, 375));
    d->paste = button("Command4", u"     本文に貼付"_s, twips::rect(2400, 0, 1335, 375));
    d->emoticons = button("Command8", u"　　絵・顔文字"_s, twips::rect(3720, 0, 1335, 375));

    label(u"宛先"_s, twips::rect(120, 480, 900, 300));
    d->to = lineEdit("ToText", twips::rect(1080, 480, 5055, 300));
    label(u"題名"_s, twips::rect(120, 840, 900, 300));
    d->subject = lineEdit("SubjectText", twips::rect(1080, 840, 5055, 300));
    label(u"添付File"_s, twips::rect(120, 1200, 900, 300));
    d->attach = lineEdit("AttachText", twips::rect(1080, 1200, 2445, 300));
    d->attachFirst = button("AttachCommand", u"添付"_s, twips::rect(3720, 1200, 792, 300));
    d->attachMore = button("Command9", u"追加"_s, twips::rect(4440, 1200, 855, 300));
    d->attachMore->setEnabled(false);
    d->attachClear = button("Command10", u"取り消し"_s, twips::rect(5280, 1200, 855, 300));

    // Both end before the side list; the panel opens in the free end of the top row,
    // where it covers no field or button.
    d->drafts = button("Command17", u"下書き"_s, twips::rect(6240, 480, 1440, 375));
    d->listToggle = button("Command16", u"リスト"_s, twips::rect(6240, 840, 1440, 300));
    d->panel = new QFrame(this);
    d->panel->setObjectName(u"Picture7"_s);
    d->panel->setGeometry(twips::rect(5100, 0, 2580, 375));
    auto panelButton = [this](const char *name, const QString &caption, int left) {
        auto *b = new QPushButton(caption, d->panel);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(twips::rect(left, 0, 860, 375));
        return b;
    };
    d->hold = panelButton("Command13", u"保存"_s, 0);
    d->recall = panelButton("Command14", u"呼出"_s, 860);
    d->deleteHeld = panelButton("Command15", u"削除"_s, 1720);

    d->body = new QTextEdit(this);
    d->body->setObjectName(u"BodyText"_s);
    d->body->setGeometry(twips::rect(0, BodyTopTwips, 7875, 4815));
    d->body->setAcceptRichText(false);

    // Above the body, which moves down while the list is shown.
    d->attachNames = new QListWidget(this);
    d->attachNames->setObjectName(u"List2"_s);
    d->attachNames->setGeometry(twips::rect(1080, BodyTopTwips, 2445, 840));
    d->attachNames->installEventFilter(this);

    label(u"保留メール"_s, twips::rect(7920, 0, 1935, 280));
    d->heldList = new QListWidget(this);
    d->heldList->setObjectName(u"List1"_s);
    d->heldList->setGeometry(twips::rect(7920, 300, 1935, 5880));
    d->heldList->viewport()->installEventFilter(this);

    label(u"件数"_s, twips::rect(2880, 6840, 560, 300));
    d->heldCount = lineEdit("Text1", twips::rect(3480, 6840, 615, 300));
    d->heldCount->setReadOnly(true);
    label(u"選択"_s, twips::rect(4200, 6840, 560, 300));
    d->picked = lineEdit("Text2", twips::rect(4760, 6840, 735, 300));
    d->picked->setReadOnly(true);

    d->fields = new MailFields(this, d->to, d->subject, d->body, d->attach,
                               UnsentDraftFile(d->ctx.state.root, u"reply"_s));
    d->held = new HeldMailPanel(this, d->ctx.state, *d->fields, {d->heldList, d->heldCount, d->picked, nullptr});
    d->attachments = new AttachmentPanel(this, {d->attach, d->attachNames, d->attachFirst, d->attachMore,
                                                d->attachClear});

    d->statusBar = new QStatusBar(this);
    d->statusBar->setObjectName(u"StatusBar1"_s);
    d->statusBar->setSizeGripEnabled(false);

    connect(d->send, &QPushButton::clicked, this, [this] { sendReply(); });
    connect(d->stop, &QPushButton::clicked, this, &QWidget::close);
    connect(d->paste, &QPushButton::clicked, this, [this] { pasteIntoBody(); });
    connect(d->emoticons, &QPushButton::clicked, this, [this] {
        d->ctx.windows.kaoForm();
        if (QWidget *palette = d->ctx.windows.loaded("KaoForm"))
            palette->show();
    });
    connect(d->listToggle, &QPushButton::clicked, this, [this] { toggleAttachmentList(); });
    connect(d->drafts, &QPushButton::clicked, this, [this] { togglePanel(); });
    connect(d->hold, &QPushButton::clicked, this, [this] { holdMail(); });
    connect(d->recall, &QPushButton::clicked, this, [this] { recallHeld(); });
    connect(d->deleteHeld, &QPushButton::clicked, this, [this] { deleteHeldMail(); });

    // Load.
    d->ctx.windows.hideFloatingWindows();
    d->panel->hide();
    d->attachNames->hide();
}

BackForm::~BackForm()
{
    delete d->job; // waits for a send still running
    delete d;
}

void BackForm::replyTo(const QString &subject, const QString &sender, const QString &body,
                       const ThreadIndex::Ids &thread)
{
    d->thread = thread;
    const ReplyText reply = ReplyText::prefill(subject, sender, body);
    d->subject->setText(reply.subject);
    d->to->setText(reply.to);
    d->body->setPlainText(bodyWithSignature(reply.body, OwnSettings(d->ctx.state.root.hollinIniFile()).signature()));
    d->fields->settle(); // the program's prefill; what the user adds is at risk
    show();
}

MailFields &BackForm::fields() const
{
    return *d->fields;
}

void BackForm::restoreDraft(const MailDraft &draft)
{
    d->thread = {}; // a kept draft does not know the mail it answered
    d->fields->replace(draft);
    d->attachments->show(draft.attachments);
    show();
}

QTextEdit *BackForm::bodyText() const
{
    return d->body;
}

void BackForm::insertIntoBody(const QString &text)
{
    d->body->textCursor().insertText(text);
}

void BackForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const qreal w = twips::fromPixelsExact(width());
    const qreal h = twips::fromPixelsExact(height());

    const int bodyWidth = twips::toPixels(w * 0.78);
    d->body->resize(bodyWidth, d->body->height());
    d->to->resize(twips::toPixels(w * 0.5), d->to->height());
    d->subject->resize(twips::toPixels(w * 0.5), d->subject->height());
    const qreal a = w * 0.35;
    d->attach->resize(twips::toPixels(a), d->attach->height());
    d->attachFirst->move(twips::toPixels(a + 1280), d->attachFirst->y());
    d->attachMore->move(twips::toPixels(a + 2060), d->attachMore->y());
    d->attachClear->move(twips::toPixels(a + 2940), d->attachClear->y());
    d->body->setGeometry(0, twips::toPixels(BodyTopTwips), d->body->width(), twips::toPixels(h * 0.7));
    placeBody();
    d->heldList->move(bodyWidth + twips::toPixels(50), d->heldList->y());

    const int barHeight = d->statusBar->sizeHint().height();
    d->statusBar->setGeometry(0, height() - barHeight, width(), barHeight);
}

// The body starts below the attachment list while that is shown, never under it.
void BackForm::placeBody()
{
    const int designedTop = twips::toPixels(BodyTopTwips);
    const int bottom = d->body->geometry().bottom();
    const int top = d->attachNames->isHidden() ? designedTop
                                               : d->attachNames->geometry().bottom() + twips::toPixels(60);
    d->body->setGeometry(0, top, d->body->width(), qMax(twips::toPixels(300), bottom - top + 1));
}

// One library call with the window's fields; only a send that went through
// closes the window, a failure leaves it open with everything as typed, and
// refused recipients leave it open with only those in the recipient box.
void BackForm::sendReply()
{
    if (d->job)
        return;
    SendRequest request = SendRequest::fromState(d->ctx.state);
    request.recipients = SendRequest::single(d->to->text());
    request.subject = d->subject->text();
    request.body = d->body->toPlainText();
    request.attachments = d->attach->text();
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
        d->to->setText(RecipientList::only(d->to->text(), result.refusedAddresses()));
    Prompt::message(this, result.errorText(), SendJob::errorTitle(), Prompt::Icon::Critical);
}

// At the caret, replacing the selection, as one edit that can be undone.
void BackForm::pasteIntoBody()
{
    d->body->textCursor().insertText(trimSpaces(QApplication::clipboard()->text()));
    d->body->setFocus();
}

// The count is shared with the compose window's "リスト" button.
void BackForm::toggleAttachmentList()
{
    qint16 &count = d->ctx.state.listToggleCount;
    if (count % 2 == 0) {
        setBackground(d->listToggle, QColor(255, 255, 0));
        d->listToggle->setText(u"非表示"_s);
        d->attachNames->hide();
    } else {
        setBackground(d->listToggle, QColor(192, 192, 192));
        d->listToggle->setText(u"表示"_s);
        d->attachNames->show();
    }
    count = qint16(count + 1);
}

// The count is shared with the compose window's "下書き" button.
void BackForm::togglePanel()
{
    qint16 &count = d->ctx.state.heldPanelToggleCount;
    if (count % 2 == 0) {
        d->panel->show();
        d->panel->raise();
        d->drafts->setText(u"　下書き"_s);
    } else {
        d->panel->hide();
        d->drafts->setText(u"下書き"_s);
    }
    count = qint16(count + 1);
}

void BackForm::holdMail()
{
    if (!d->held->hold(true))
        return;
    d->held->list();
    setBackground(d->heldList, heldListColour);
    d->drafts->setText(u"下書き"_s);
}

void BackForm::recallHeld()
{
    d->picked->clear();
    d->ctx.state.sideListMode = 10;
    d->held->list();
    setBackground(d->heldList, heldListColour);
    d->drafts->setText(u"下書き"_s);
    setBackground(d->drafts, QColor(255, 255, 0));
}

void BackForm::deleteHeldMail()
{
    if (d->ctx.state.sideListMode == 10) {
        d->held->removeSelected();
        d->body->setFocus();
    }
    d->picked->clear();
    d->drafts->setText(u"下書き"_s);
}

bool BackForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == d->attachNames && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        placeBody();
    if (watched == d->heldList->viewport() && event->type() == QEvent::MouseButtonRelease
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
    d->fields->forget();
    d->ctx.windows.showFloatingWindows();
    d->body->clear();
    QWidget::closeEvent(event);
    unloadWhenClosed(d->ctx.windows, this, "BackForm");
}

} // namespace hollin
