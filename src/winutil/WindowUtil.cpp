#include "WindowUtil.h"

#include "Prompt.h"
#include "TextFiles.h"
#include "Windows.h"
#include "storage/Cp932.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QLineEdit>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace Qt::StringLiterals;

namespace hollin {

int pickColour(QWidget *owner)
{
    return Prompt::colour(owner, -1);
}

void waitMilliseconds(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (clock.elapsed() > milliseconds)
            return;
        QThread::msleep(1); // don't spin the processor between checks
    }
}

QString textFileFilter()
{
    return u"txtファイル(*.txt *.ini)"_s;
}

void openTextIntoBody(QTextEdit *body, QWidget *parent)
{
    const QString path = Prompt::openFileName(parent, u"ファイルを開く"_s, QString(), textFileFilter());
    if (path.isEmpty())
        return;
    QString text;
    Error err;
    if (!readTextFileLines(path, &text, &err)) {
        Prompt::message(parent, err.text(), {}, Prompt::Icon::Warning);
        return;
    }
    // One edit, so that "元に戻す" brings back what the file replaced.
    QTextCursor cursor(body->document());
    cursor.select(QTextCursor::Document);
    cursor.insertText(text, QTextCharFormat());
}

QString pickFileToOpen(QWidget *parent, const QString &title, const QString &folder,
                       const QString &filter)
{
    QString shownFolder = folder;
    if (!shownFolder.endsWith(u'/') && !shownFolder.endsWith(u'\\'))
        shownFolder += u'/';
    const QString path = Prompt::openFileName(parent, title + u"←"_s + shownFolder + u".."_s,
                                              folder, filter);
    QCoreApplication::processEvents();
    return path;
}

bool saveBodyAsText(QTextEdit *body, QWidget *window)
{
    const QString path = Prompt::saveFileName(window, u"名前を付けて保存"_s, QString(),
                                              textFileFilter());
    if (path.isEmpty())
        return false;
    const QString text = body->toPlainText();
    const QString lost = charactersWithoutCp932(text);
    if (!lost.isEmpty() && !Prompt::ask(window, cp932LossQuestion(lost)))
        return false;
    Error err;
    if (!writeTextFileCrLf(path, Cp932::storable(text), &err)) {
        Prompt::message(window, err.text(), {}, Prompt::Icon::Warning);
        return false;
    }
    window->setWindowTitle(path);
    return true;
}

QPoint screenPosition(const QWidget *window)
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection || QGuiApplication::platformName() != u"xcb"_s || !window->isVisible())
        return window->pos();
    const auto id = xcb_window_t(window->winId());
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> reply(
        xcb_translate_coordinates_reply(connection, xcb_translate_coordinates(connection, id, screen->root, 0, 0),
                                        nullptr),
        &std::free);
    return reply ? QPoint(reply->dst_x, reply->dst_y) : window->pos();
}

int widthToShow(const QLineEdit *box, const QString &text)
{
    QStyleOptionFrame frame;
    frame.initFrom(box);
    constexpr int EditMargin = 2; // the edit's own space each side of its text
    const QMargins margins = box->textMargins();
    return box->fontMetrics().horizontalAdvance(text) + 2 * EditMargin + margins.left() + margins.right()
           + 2 * box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, box) + 1;
}

void fitToScreen(QWidget *window)
{
    QScreen *screen = QGuiApplication::screenAt(window->frameGeometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    // What the window manager's frame adds: before the first show it is not
    // known yet, and a title bar and thin borders are allowed for.
    QSize frame = window->frameGeometry().size() - window->size();
    if (frame.isNull() && !window->windowFlags().testFlag(Qt::FramelessWindowHint)) {
        constexpr int Border = 4;
        frame = QSize(2 * Border, window->style()->pixelMetric(QStyle::PM_TitleBarHeight) + 2 * Border);
    }
    const QSize size = window->size().boundedTo(area.size() - frame).expandedTo(window->minimumSize());
    if (size != window->size())
        window->resize(size);
    const QSize outer = size + frame;
    const QPoint at(std::clamp(window->x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())),
                    std::clamp(window->y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
    if (at != window->pos())
        window->move(at);
}

QPoint cornerAwayFrom(const QRect &area, const QSize &outer, const QRect &avoid)
{
    const int right = std::max(area.left(), area.right() + 1 - outer.width());
    const int bottom = std::max(area.top(), area.bottom() + 1 - outer.height());
    const QPoint corners[] = {{right, bottom}, {right, area.top()}, {area.left(), bottom}, area.topLeft()};
    QPoint best = corners[0];
    qint64 leastCovered = -1;
    for (const QPoint &corner : corners) {
        const QRect covered = QRect(corner, outer).intersected(avoid);
        const qint64 size = covered.isEmpty() ? 0 : qint64(covered.width()) * covered.height();
        if (leastCovered < 0 || size < leastCovered) {
            best = corner;
            leastCovered = size;
        }
        if (size == 0)
            break;
    }
    return best;
}

void placeAwayFromActiveWindow(QWidget *notice)
{
    const QWidget *active = QApplication::activeWindow();
    if (active == notice)
        active = nullptr;
    QScreen *screen = active ? active->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // Before the first show the window manager's frame is not known: a title
    // bar and thin borders are allowed for.
    constexpr int Border = 4;
    QSize frame = notice->frameGeometry().size() - notice->size();
    if (frame.isNull())
        frame = QSize(2 * Border, notice->style()->pixelMetric(QStyle::PM_TitleBarHeight) + 2 * Border);
    const QRect avoid = active ? active->frameGeometry() : QRect();
    notice->move(cornerAwayFrom(screen->availableGeometry(), notice->size() + frame, avoid));
}

namespace {

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

} // namespace

void keepOutOfTaskbar(QWidget *window)
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection || QGuiApplication::platformName() != u"xcb"_s)
        return;
    // Qt keeps the states it finds on a window it maps and adds its own.
    const xcb_atom_t states[] = {atom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 atom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()),
                        atom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 2, states);
    xcb_flush(connection);
}

void unloadWhenClosed(Windows &windows, QWidget *window, const char *className)
{
    const QByteArray name(className);
    QTimer::singleShot(0, window, [&windows, window, name] {
        if (windows.loaded(name.constData()) == window)
            windows.unload(name.constData());
    });
}

} // namespace hollin
