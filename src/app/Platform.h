#pragma once

#include <QByteArray>
#include <QString>

class QCoreApplication;

namespace hollin {

// The Qt platform plugin to ask for, from the session's environment variables:
// "xcb" on a Wayland session that also offers X11 (XWayland) when the user has
// not chosen a platform, because native Wayland ignores the stored window
// positions, keep-above and the panel's shape; otherwise empty (Qt chooses).
QByteArray preferredPlatform(const QByteArray &waylandDisplay, const QByteArray &display,
                             const QByteArray &chosenPlatform);

// Applies preferredPlatform() to this process; call before QApplication exists.
void choosePlatform();

// False when Qt could reach no window system and would abort: the platform
// chosen (-platform, else QT_QPA_PLATFORM, else Qt's default) needs a display
// that is not set (xcb: DISPLAY or -display; wayland: WAYLAND_DISPLAY).
// Platforms without a display (offscreen, vnc …) are reachable.
bool windowSystemReachable(const QString &platformArgument, bool displayArgument);

// The token the desktop gave this start to bring a window forward
// (XDG_ACTIVATION_TOKEN under Wayland, DESKTOP_STARTUP_ID under X11); empty
// without one.
QString activationToken();

// Loads Qt's own Japanese texts (standard buttons, file, colour and print
// dialogs) into app. False, with a warning on the console, when the
// translation is not installed: Qt then shows its English texts.
bool installQtTranslation(QCoreApplication &app);

} // namespace hollin
