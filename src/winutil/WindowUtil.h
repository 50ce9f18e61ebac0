#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class QLineEdit;
class QTextEdit;
class QWidget;

namespace hollin {

class Windows;

// The desktop's colour chooser, sixteen white custom colours.
// Returns the colour as 0x00BBGGRR, or -1 when the user cancels.
int pickColour(QWidget *owner);

// Waits a little more than `milliseconds`, handling every pending event of the
// program meanwhile, so the windows stay responsive (the new-mail notice wait).
void waitMilliseconds(int milliseconds);

// The filter of the text-file dialogs.
QString textFileFilter(); // "txtファイル(*.txt *.ini)"

// Asks for a text file and puts its lines into body, each followed by CR LF
// (CP932 on disk). A cancel leaves the body as it is, silently; a file that
// cannot be read is reported and leaves the body as it is. The body is
// replaced as one edit, which "元に戻す" undoes.
void openTextIntoBody(QTextEdit *body, QWidget *parent);

// An open dialog titled title + "←" + the folder and its parent, starting in
// folder, with filter. Returns the chosen full file name, or empty on cancel.
// Pending events are handled after the dialog.
QString pickFileToOpen(QWidget *parent, const QString &title, const QString &folder,
                       const QString &filter);

// Asks for a file name and writes the body's text to it in CP932 with CR LF
// line ends, followed by CR LF; window's title becomes the chosen path.
// Characters CP932 lacks are asked about first and written as 〓. A cancel
// ends silently; a failing save is reported. Returns true when saved.
bool saveBodyAsText(QTextEdit *body, QWidget *window);

// Where the window system has window's top-left corner. On X11 Qt's own
// record can be stale: when a window manager takes a window into its frame,
// Qt may note the frame's origin, 0,0, and never hear of the real place.
QPoint screenPosition(const QWidget *window);

// The width a line edit needs to show text whole: the text, the edit's
// margins and its frame.
int widthToShow(const QLineEdit *box, const QString &text);

// Keeps a window's first size and place within the available area of its
// screen (the screen under its centre, or the primary one): a window larger
// than the area is shrunk to it, one partly outside is moved in.
void fitToScreen(QWidget *window);

// Where a notice of size `outer` (frame included) goes within `area` so that
// it covers as little of `avoid` as possible: the first of the bottom-right,
// top-right, bottom-left and top-left corners that leaves it clear, else the
// corner that covers least of it.
QPoint cornerAwayFrom(const QRect &area, const QSize &outer, const QRect &avoid);

// Moves a notice that comes up while the user types (the new-mail board, an
// automatic receive's boxes) into the corner of the screen away from the
// program's active window, so that it never lands over the line being typed.
// Call once its size is known and before it is mapped.
void placeAwayFromActiveWindow(QWidget *notice);

// Marks a top-level window, before it is first shown, as one the task bar
// and the pager leave out (the X11 window state), without making it a tool
// window: Qt gives those a transient parent, its hidden leader window, and a
// window manager may then stack or place them all as one.
void keepOutOfTaskbar(QWidget *window);

// Call from a window's closeEvent: once the close has gone through, the owner
// unloads the window (the next use loads it anew), unless it has already been
// unloaded or replaced.
void unloadWhenClosed(Windows &windows, QWidget *window, const char *className);

} // namespace hollin
