#pragma once

#include <QPoint>
#include <Qt>

class QMouseEvent;
class QWidget;

namespace hollin {

// Moves a frameless window with the pointer while the button that started the
// drag is held, once the pointer has gone a few pixels from the press (a
// click never moves the window). The left button then hands the move to the
// window manager, as if the title bar had been grabbed; the window manager
// only ends such a move on a left release, so other buttons (and a platform
// that cannot move windows) are followed here, and the drag always ends when
// its own button goes up.
class WindowDrag {
public:
    // Forward the window's mouse events.
    void press(QWidget *window, QMouseEvent *event);
    void move(QWidget *window, QMouseEvent *event);
    void release(QMouseEvent *event);

    bool isDragging() const { return m_button != Qt::NoButton; }

private:
    Qt::MouseButton m_button = Qt::NoButton;
    bool m_moving = false; // the pointer went far enough from the press
    QPoint m_pressedAt;
    QPoint m_grab; // the pointer's offset from the window's top-left corner
};

} // namespace hollin
