#pragma once

#include "winutil/AppContext.h"
#include "winutil/WindowDrag.h"

#include <QPixmap>
#include <QWidget>

class QPushButton;

namespace hollin {

// Form1 … Form5: a frameless, always-on-top 100 × 40 pixel picture with one
// button (settings, new mail, view mail, receive, address book). A left press
// outside the button drags the window, a right press ends the program at once.
// Each is a window of its own, with no transient parent and out of the task bar.
class FloatingForm : public QWidget {
    Q_OBJECT
public:
    // number: 1 … 5. Constructing is the window's load step: size, always on
    // top, top-left corner at the mouse pointer.
    FloatingForm(const AppContext &ctx, int number, QWidget *parent = nullptr);

    int number() const { return m_number; }

    // Moves the window, within the screen, and remembers the place (the panel's start-up).
    void place(const QPoint &topLeft);
    // The position to save: where the window is, or, while it is hidden, where
    // it was when it was hidden or placed.
    QPoint lastPosition() const;
    void setVisible(bool visible) override;
    static QString caption(int number);
    // What the button does (the panel's Ctrl+Shift+number does the same).
    void run();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:

    AppContext m_ctx;
    int m_number;
    QPixmap m_picture;
    QPushButton *m_button;
    WindowDrag m_drag;
    QPoint m_lastPosition;
};

} // namespace hollin
