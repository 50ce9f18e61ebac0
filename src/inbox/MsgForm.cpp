#include "MsgForm.h"

#include "winutil/WindowUtil.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace hollin {

MsgForm::MsgForm(const AppContext &ctx, QWidget *parent)
    : QWidget(parent), m_ctx(ctx), m_text1(new QLineEdit(this)), m_text2(new QLineEdit(this))
{
    setObjectName(u"MsgForm"_s);
    setWindowTitle(u"新着お知らせボード"_s);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    // It tells, it never takes the keyboard from the window the user types in.
    setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    m_text1->setObjectName(u"Text1"_s);
    m_text2->setObjectName(u"Text2"_s);
    m_text1->setAccessibleName(u"お知らせ"_s);
    m_text2->setAccessibleName(u"新着メールの件数"_s);
    m_text1->setReadOnly(true);
    m_text2->setReadOnly(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_text1);
    layout->addWidget(m_text2);
    resize(260, 90);
}

void MsgForm::showNotice(int count)
{
    m_text1->setText(u"新着メールがあります。"_s);
    m_text2->setText(QString::number(count));
    if (!isVisible())
        placeAwayFromActiveWindow(this);
    show();
    raise();
}

void MsgForm::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted())
        unloadWhenClosed(m_ctx.windows, this, "MsgForm");
}

} // namespace hollin
