#include "WindowDrag.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace hollin {

void WindowDrag::press(QWidget *window, QMouseEvent *event)
{
    m_button = Qt::NoButton;
    if (event->button() == Qt::LeftButton) {
        if (QWindow *handle = window->windowHandle(); handle && handle->startSystemMove())
            return;
    }
    m_button = event->button();
    m_grab = event->globalPosition().toPoint() - window->pos();
}

void WindowDrag::move(QWidget *window, QMouseEvent *event)
{
    if (!isDragging())
        return;
    if (!event->buttons().testFlag(m_button)) { // its release went elsewhere
        m_button = Qt::NoButton;
        return;
    }
    window->move(event->globalPosition().toPoint() - m_grab);
}

void WindowDrag::release(QMouseEvent *event)
{
    if (event->button() == m_button)
        m_button = Qt::NoButton;
}

} // namespace hollin
