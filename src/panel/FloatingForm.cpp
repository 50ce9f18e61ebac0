#include "FloatingForm.h"

#include "MainForm.h"
#include "addressbook/FriendForm.h"
#include "compose/WriteForm.h"
#include "inbox/ReceiveController.h"
#include "inbox/TyakuForm.h"
#include "settings/SetForm.h"
#include "winutil/WindowUtil.h"
#include "winutil/Windows.h"

#include <QCursor>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

constexpr int Width = 100;
constexpr int Height = 40;

// Accent of each window's picture, so the five are told apart at a glance.
const QColor Accents[5] = {QColor(0x6a, 0x8c, 0xaf), QColor(0xd0, 0x8c, 0x3c), QColor(0x3a, 0x77, 0xa5),
                           QColor(0x4c, 0x9a, 0x5a), QColor(0xa8, 0x5a, 0x8c)};

// The window's picture: a light grey (0xC0C0C0) surround with a raised edge and
// a strip in the window's accent colour behind the button.
QPixmap makePicture(int number)
{
    QPixmap picture(Width, Height);
    picture.fill(QColor(0xC0, 0xC0, 0xC0));
    QPainter p(&picture);
    p.setPen(Qt::white);
    p.drawLine(0, 0, Width - 1, 0);
    p.drawLine(0, 0, 0, Height - 1);
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.drawLine(1, Height - 1, Width - 1, Height - 1);
    p.drawLine(Width - 1, 1, Width - 1, Height - 1);
    QLinearGradient strip(0, 6, 0, 36);
    const QColor accent = Accents[number - 1];
    strip.setColorAt(0, accent.lighter(150));
    strip.setColorAt(1, accent);
    p.setPen(Qt::NoPen);
    p.setBrush(strip);
    p.drawRoundedRect(QRectF(5, 7, Width - 10, Height - 14), 4, 4);
    return picture;
}

} // namespace

FloatingForm::FloatingForm(const AppContext &ctx, int number, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_ctx(ctx)
    , m_number(number)
    , m_picture(makePicture(number))
    , m_button(new QPushButton(caption(number), this))
{
    Q_ASSERT(number >= 1 && number <= 5);
    setObjectName(u"Form"_s + QString::number(number));
    setWindowTitle(caption(number));
    setAccessibleName(caption(number));
    m_button->setObjectName(u"Command1"_s);
    connect(m_button, &QPushButton::clicked, this, &FloatingForm::run);
    if (number == 4)
        m_button->setGeometry(12, 12, 73, 20);
    else
        m_button->setGeometry(10, 12, 81, 20);

    setFixedSize(Width, Height);
    keepOutOfTaskbar(this);
    place(QCursor::pos());
}

void FloatingForm::place(const QPoint &topLeft)
{
    move(topLeft);
    fitToScreen(this);
    m_lastPosition = pos();
}

QPoint FloatingForm::lastPosition() const
{
    return isVisible() ? screenPosition(this) : m_lastPosition;
}

void FloatingForm::setVisible(bool visible)
{
    // Hidden, a window's place is whatever the window manager last said, which
    // may be 0,0: keep the real one from before.
    if (!visible && isVisible())
        m_lastPosition = screenPosition(this);
    QWidget::setVisible(visible);
}

QString FloatingForm::caption(int number)
{
    switch (number) {
    case 1:
        return u"設定"_s;
    case 2:
        return u"新規作成"_s;
    case 3:
        return u"メールを見る"_s;
    case 4:
        return u"受信"_s;
    default:
        return u"アドレス帳"_s;
    }
}

void FloatingForm::paintEvent(QPaintEvent *)
{
    QPainter(this).drawPixmap(0, 0, m_picture);
}

void FloatingForm::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_drag.press(this, event);
    else if (event->button() == Qt::RightButton)
        m_ctx.windows.mainForm()->endWithoutSaving(); // typed work is asked about first
}

void FloatingForm::mouseMoveEvent(QMouseEvent *event)
{
    m_drag.move(this, event);
}

void FloatingForm::mouseReleaseEvent(QMouseEvent *event)
{
    m_drag.release(event);
}

// The settings window leaves the floating windows as they are; compose and the
// address book hide them (their windows show them again when they close); the
// inbox and the receive session hide and show them themselves.
void FloatingForm::run()
{
    Windows &windows = m_ctx.windows;
    switch (m_number) {
    case 1:
        windows.setForm()->show();
        break;
    case 2:
        windows.writeForm()->show();
        windows.hideFloatingWindows();
        break;
    case 3:
        windows.tyakuForm()->fillAndShow();
        break;
    case 4:
        startReceive(m_ctx);
        break;
    case 5:
        windows.friendForm()->show();
        windows.hideFloatingWindows();
        break;
    }
}

} // namespace hollin
