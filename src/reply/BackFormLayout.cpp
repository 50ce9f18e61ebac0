#include "reply/BackFormLayout.h"

#include "winutil/Twips.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {
constexpr int BodyTopTwips = 1560;
} // namespace

BackFormLayout::BackFormLayout(QWidget *form)
    : m_form(form)
{
    auto button = [](QWidget *parent, const char *name, const QString &caption, const QRect &r) {
        auto *b = new QPushButton(caption, parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(r);
        return b;
    };
    auto lineEdit = [form](const char *name, const QString &accessibleName, const QRect &r) {
        auto *e = new QLineEdit(form);
        e->setObjectName(QString::fromLatin1(name));
        e->setAccessibleName(accessibleName);
        e->setGeometry(r);
        return e;
    };
    auto label = [form](const QString &text, const QRect &r) {
        auto *l = new QLabel(text, form);
        l->setGeometry(r);
    };

    send = button(form, "Command2", u"    送信"_s, twips::rect(0, 0, 1215, 375));
    stop = button(form, "Command3", u"     送信中止"_s, twips::rect(1200, 0, 1215, 375));
    paste = button(form, "Command4", u"     本文に貼付"_s, twips::rect(2400, 0, 1335, 375));
    emoticons = button(form, "Command8", u"　　絵・顔文字"_s, twips::rect(3720, 0, 1335, 375));

    label(u"宛先"_s, twips::rect(120, 480, 900, 300));
    to = lineEdit("ToText", u"宛先"_s, twips::rect(1080, 480, 5055, 300));
    label(u"題名"_s, twips::rect(120, 840, 900, 300));
    subject = lineEdit("SubjectText", u"題名"_s, twips::rect(1080, 840, 5055, 300));
    label(u"添付File"_s, twips::rect(120, 1200, 900, 300));
    attach = lineEdit("AttachText", u"添付ファイル"_s, twips::rect(1080, 1200, 2445, 300));
    attachFirst = button(form, "AttachCommand", u"添付"_s, twips::rect(3720, 1200, 792, 300));
    attachMore = button(form, "Command9", u"追加"_s, twips::rect(4440, 1200, 855, 300));
    attachClear = button(form, "Command10", u"取り消し"_s, twips::rect(5280, 1200, 855, 300));

    // Both end before the side list; the panel opens in the free end of the top row,
    // where it covers no field or button.
    drafts = button(form, "Command17", u"下書き"_s, twips::rect(6240, 480, 1440, 375));
    listToggle = button(form, "Command16", u"リスト"_s, twips::rect(6240, 840, 1440, 300));
    panel = new QFrame(form);
    panel->setObjectName(u"Picture7"_s);
    panel->setGeometry(twips::rect(5100, 0, 2580, 375));
    hold = button(panel, "Command13", u"保存"_s, twips::rect(0, 0, 860, 375));
    recall = button(panel, "Command14", u"呼出"_s, twips::rect(860, 0, 860, 375));
    deleteHeld = button(panel, "Command15", u"削除"_s, twips::rect(1720, 0, 860, 375));

    body = new QTextEdit(form);
    body->setObjectName(u"BodyText"_s);
    body->setAccessibleName(u"本文"_s);
    body->setGeometry(twips::rect(0, BodyTopTwips, 7875, 4815));
    body->setAcceptRichText(false);

    // Above the body, which moves down while the list is shown.
    attachNames = new QListWidget(form);
    attachNames->setObjectName(u"List2"_s);
    attachNames->setGeometry(twips::rect(1080, BodyTopTwips, 2445, 840));

    label(u"保留メール"_s, twips::rect(7920, 0, 1935, 280));
    heldList = new QListWidget(form);
    heldList->setObjectName(u"List1"_s);
    heldList->setGeometry(twips::rect(7920, 300, 1935, 5880));

    label(u"件数"_s, twips::rect(2880, 6840, 560, 300));
    heldCount = lineEdit("Text1", u"件数"_s, twips::rect(3480, 6840, 615, 300));
    heldCount->setReadOnly(true);
    label(u"選択"_s, twips::rect(4200, 6840, 560, 300));
    picked = lineEdit("Text2", u"選択"_s, twips::rect(4760, 6840, 735, 300));
    picked->setReadOnly(true);

    statusBar = new QStatusBar(form);
    statusBar->setObjectName(u"StatusBar1"_s);
    statusBar->setSizeGripEnabled(false);
}

void BackFormLayout::fitToForm()
{
    const qreal w = twips::fromPixelsExact(m_form->width());
    const qreal h = twips::fromPixelsExact(m_form->height());

    const int bodyWidth = twips::toPixels(w * 0.78);
    body->resize(bodyWidth, body->height());
    to->resize(twips::toPixels(w * 0.5), to->height());
    subject->resize(twips::toPixels(w * 0.5), subject->height());
    const qreal a = w * 0.35;
    attach->resize(twips::toPixels(a), attach->height());
    attachFirst->move(twips::toPixels(a + 1280), attachFirst->y());
    attachMore->move(twips::toPixels(a + 2060), attachMore->y());
    attachClear->move(twips::toPixels(a + 2940), attachClear->y());
    body->setGeometry(0, twips::toPixels(BodyTopTwips), body->width(), twips::toPixels(h * 0.7));
    placeBody();
    heldList->move(bodyWidth + twips::toPixels(50), heldList->y());

    const int barHeight = statusBar->sizeHint().height();
    statusBar->setGeometry(0, m_form->height() - barHeight, m_form->width(), barHeight);
}

void BackFormLayout::placeBody()
{
    const int designedTop = twips::toPixels(BodyTopTwips);
    const int bottom = body->geometry().bottom();
    const int top = attachNames->isHidden() ? designedTop : attachNames->geometry().bottom() + twips::toPixels(60);
    body->setGeometry(0, top, body->width(), qMax(twips::toPixels(300), bottom - top + 1));
}

} // namespace hollin
