#include "WindowStacking.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>

namespace hollin {

void keepAbove(QWidget *window, QWidget *owner)
{
    window->setWindowFlag(Qt::WindowStaysOnTopHint);
    QWidget *parent = owner ? owner->window() : QApplication::activeWindow();
    if (!parent || parent == window || !parent->isVisible())
        return;
    window->winId(); // creates the native window, so it can name its parent
    parent->winId();
    window->windowHandle()->setTransientParent(parent->windowHandle());
}

} // namespace hollin
