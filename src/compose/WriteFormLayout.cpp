#include "WriteFormLayout.h"

#include "winutil/MailSearchBar.h"
#include "winutil/Twips.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>
#include <QToolBar>

#include <tuple>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {
constexpr int RecipientBoxLength = 250; // several addresses fit
} // namespace

void WriteFormLayout::showCopies(bool cc, bool bcc) const
{
    int top = BodyTopTwips;
    for (const auto &[box, caption, shown] : {std::tuple{ccText, ccLabel, cc}, std::tuple{bccText, bccLabel, bcc}}) {
        box->setVisible(shown);
        caption->setVisible(shown);
        if (!shown)
            continue;
        place(caption, 60, top, 700, 300);
        place(box, 800, top, 6150, 300);
        top += CopyRowTwips;
    }
    place(rtfEd, 0, top, 7020, BodyBottomTwips - top);
}

int WriteFormLayout::px(int twipsValue) const
{
    return twips::toPixels(twipsValue, m_form->logicalDpiX());
}

void WriteFormLayout::place(QWidget *w, int left, int top, int width, int height) const
{
    w->setGeometry(px(left), px(top), px(width), px(height));
}

QPushButton *WriteFormLayout::button(const QString &name, const QString &caption, QWidget *parent) const
{
    auto *b = new QPushButton(caption, parent ? parent : m_form);
    b->setObjectName(name);
    b->setAutoFillBackground(true);
    return b;
}

QLabel *WriteFormLayout::label(const QString &name, const QString &caption, QWidget *parent) const
{
    auto *l = new QLabel(caption, parent ? parent : m_form);
    l->setObjectName(name);
    return l;
}

WriteFormLayout::WriteFormLayout(QWidget *form)
    : m_form(form)
{
    frame1 = new QFrame(m_form);
    frame1->setObjectName(u"Frame1"_s);
    frame1->setFrameShape(QFrame::StyledPanel);
    place(frame1, 0, 860, 7020, 1840);

    command1 = button(u"Command1"_s, u"送信"_s);
    place(command1, 0, 0, 1100, 400);
    command3 = button(u"Command3"_s, u"    送信中止"_s);
    place(command3, 1100, 0, 1300, 400);
    command4 = button(u"Command4"_s, u"   アドレス帳"_s);
    place(command4, 2400, 0, 1500, 400);
    command6 = button(u"Command6"_s, u"     サイズ（小）"_s);
    place(command6, 3900, 0, 1600, 400);
    command8 = button(u"Command8"_s, u"　　絵・顔文字"_s);
    place(command8, 5500, 0, 1520, 400);

    tbToolBar = new QToolBar(m_form);
    tbToolBar->setObjectName(u"tbToolBar"_s);
    place(tbToolBar, 0, 420, 7020, 420);
    // Tight buttons and no grip, so that every command fits in the bar, none in its overflow.
    tbToolBar->setMovable(false);
    tbToolBar->setStyleSheet(u"QToolBar { spacing: 0px; padding: 0px; } QToolButton { padding: 1px; margin: 0px; }"_s);
    const struct { const char16_t *key; const char16_t *caption; } tools[] = {
        {u"New", u"新規"}, {u"Open", u"開く"}, {u"Print", u"印刷"}, {u"Cut", u"切取"},
        {u"Copy", u"コピー"}, {u"Paste", u"貼付"}, {u"Undo", u"元に戻す"},
        {u"Bold", u"太字"}, {u"Italic", u"斜体"}, {u"Underline", u"下線"},
    };
    for (const auto &tool : tools) {
        QAction *action = tbToolBar->addAction(QString::fromUtf16(tool.caption));
        action->setObjectName(QString::fromUtf16(tool.key));
    }

    toLabel = label(u"Label2"_s, u"宛先"_s);
    place(toLabel, 60, 900, 700, 300);
    toText = new QLineEdit(m_form);
    toText->setObjectName(u"ToText"_s);
    toText->setAccessibleName(u"宛先"_s);
    toText->setMaxLength(RecipientBoxLength);
    place(toText, 800, 900, 3900, 300);
    command7 = button(u"Command7"_s, u"     宛先に貼付"_s);
    place(command7, 4800, 890, 2150, 320);

    subjectLabel = label(u"Label2"_s, u"件名"_s);
    place(subjectLabel, 60, 1260, 700, 300);
    subjectText = new QLineEdit(m_form);
    subjectText->setObjectName(u"SubjectText"_s);
    subjectText->setAccessibleName(u"件名"_s);
    place(subjectText, 800, 1260, 3900, 300);
    command5 = button(u"Command5"_s, u"     本文に貼付"_s);
    place(command5, 4800, 1250, 2150, 320);

    comboLabel = label(u"Label2"_s, u"首記例"_s);
    place(comboLabel, 60, 1620, 700, 300);
    combo1 = new QComboBox(m_form);
    combo1->setObjectName(u"Combo1"_s);
    combo1->setAccessibleName(u"首記例"_s);
    combo1->setEditable(true);
    combo1->setInsertPolicy(QComboBox::NoInsert);
    place(combo1, 800, 1620, 3900, 300);
    command17 = button(u"Command17"_s, u"下書き"_s);
    place(command17, 4800, 1600, 2150, 340);

    attachText = new QLineEdit(m_form);
    attachText->setObjectName(u"AttachText"_s);
    attachText->setAccessibleName(u"添付ファイル"_s);
    place(attachText, 800, 1980, 2500, 300);
    attachCommand = button(u"AttachCommand"_s, u"添付File"_s);
    place(attachCommand, 3350, 1980, 900, 300);
    command9 = button(u"Command9"_s, u"追加"_s);
    command9->setEnabled(false);
    place(command9, 4250, 1980, 700, 300);
    command10 = button(u"Command10"_s, u"取り消し"_s);
    place(command10, 4950, 1980, 900, 300);
    command16 = button(u"Command16"_s, u"リスト"_s);
    place(command16, 5850, 1980, 1100, 300);

    frame4 = new QFrame(m_form);
    frame4->setObjectName(u"Frame4"_s);
    place(frame4, 800, 2320, 2600, 340);
    option2 = new QRadioButton(frame4);
    option2->setObjectName(u"Option2"_s);
    place(option2, 40, 40, 280, 260);
    place(label(u"Label1"_s, u"一括送信"_s, frame4), 330, 40, 950, 260);
    option1 = new QRadioButton(frame4);
    option1->setObjectName(u"Option1"_s);
    place(option1, 1350, 40, 280, 260);
    place(label(u"Label1"_s, u"取消"_s, frame4), 1640, 40, 900, 260);

    check1 = new QCheckBox(u"占い"_s, m_form);
    check1->setObjectName(u"Check1"_s);
    place(check1, 3500, 2340, 1200, 300);

    // The copies a mailto: link brought, each on a line of its own above the
    // body; the user edits or empties them (the box's clear button).
    const struct { QLineEdit **box; QLabel **caption; const char16_t *name; const char16_t *text; } copies[] = {
        {&ccText, &ccLabel, u"CcText", u"Cc"},
        {&bccText, &bccLabel, u"BccText", u"Bcc"},
    };
    for (const auto &copy : copies) {
        *copy.caption = label(QString::fromUtf16(copy.name).replace(u"Text"_s, u"Label"_s), QString::fromUtf16(copy.text));
        auto *box = new QLineEdit(m_form);
        box->setObjectName(QString::fromUtf16(copy.name));
        box->setAccessibleName(QString::fromUtf16(copy.text));
        box->setClearButtonEnabled(true);
        *copy.box = box;
    }
    rtfEd = new QTextEdit(m_form);
    rtfEd->setObjectName(u"rtfEd"_s);
    rtfEd->setAccessibleName(u"本文"_s);
    showCopies(false, false);

    list2 = new QListWidget(m_form);
    list2->setObjectName(u"List2"_s);
    place(list2, 800, 2280, 2500, 1500);

    picture7 = new QFrame(m_form);
    picture7->setObjectName(u"Picture7"_s);
    picture7->setAutoFillBackground(true);
    place(picture7, 4800, 2300, 2150, 400); // under "下書き", clear of the body
    command13 = button(u"Command13"_s, u"保存"_s, picture7);
    place(command13, 0, 0, 700, 400);
    command14 = button(u"Command14"_s, u"呼出"_s, picture7);
    place(command14, 720, 0, 700, 400);
    command15 = button(u"Command15"_s, u"削除"_s, picture7);
    place(command15, 1440, 0, 700, 400);

    label7 = label(u"Label7"_s, QString());
    // Down to the window's foot, for a status that takes more than one line.
    label7->setWordWrap(true);
    label7->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(label7, 0, 7060, 7020, 880);

    text14 = new QPlainTextEdit(m_form);
    text14->setObjectName(u"Text14"_s);
    text14->setAccessibleName(u"説明"_s);
    text14->setReadOnly(true);
    text14->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    text14->hide();
    place(text14, 0, 7380, 7020, 540);

    label4 = label(u"Label4"_s, u"アドレス帳"_s);
    place(label4, 7150, 20, 1500, 280);
    list1 = new QListWidget(m_form);
    list1->setObjectName(u"List1"_s);
    list1->setAutoFillBackground(true);
    place(list1, 7150, 300, 2350, 6400);
    place(label(u"Label4"_s, u"件数"_s), 7150, 6780, 600, 300);
    text1 = new QLineEdit(m_form);
    text1->setObjectName(u"Text1"_s);
    text1->setAccessibleName(u"件数"_s);
    text1->setReadOnly(true);
    place(text1, 7800, 6780, 800, 300);
    searchBar = new MailSearchBar(u"SearchText"_s, m_form);
    place(searchBar, 7150, 7100, 2350, 330);

    text4 = new QLineEdit(m_form);
    text4->setObjectName(u"Text4"_s);
    text4->setAccessibleName(u"貼り付けた文字"_s);
    place(text4, 0, 8100, 4500, 300);
    command2 = button(u"Command2"_s, u"貼付け"_s);
    command2->hide();
    place(command2, 4600, 8080, 1200, 340);
    text2 = new QLineEdit(m_form);
    text2->setObjectName(u"Text2"_s);
    text2->setAccessibleName(u"選択"_s);
    place(text2, 0, 9200, 1000, 300);
}

} // namespace hollin
