#include "WindowDrag.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QStyleHints>
#include <QWidget>
#include <QWindow>

namespace hollin {

void WindowDrag::press(QWidget *window, QMouseEvent *event)
{
    m_button = event->button();
    m_moving = false;
    m_pressedAt = event->globalPosition().toPoint();
    m_grab = m_pressedAt - window->pos();
}

void WindowDrag::move(QWidget *window, QMouseEvent *event)
{
    if (!isDragging())
        return;
    if (!event->buttons().testFlag(m_button)) { // its release went elsewhere
        m_button = Qt::NoButton;
        return;
    }
    const QPoint at = event->globalPosition().toPoint();
    if (!m_moving) {
        // A click, even one whose press and release come at one instant, is no move.
        if ((at - m_pressedAt).manhattanLength() < QGuiApplication::styleHints()->startDragDistance())
            return;
        m_moving = true;
        window->move(at - m_grab);
        if (m_button == Qt::LeftButton) {
            if (QWindow *handle = window->windowHandle(); handle && handle->startSystemMove()) {
                m_button = Qt::NoButton;
                return;
            }
        }
    }
    window->move(at - m_grab);
}

void WindowDrag::release(QMouseEvent *event)
{
    if (event->button() == m_button)
        m_button = Qt::NoButton;
}

} // namespace hollin
