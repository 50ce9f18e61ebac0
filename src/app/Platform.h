#pragma once

#include <QByteArray>

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

// Loads Qt's own Japanese texts (standard buttons, file, colour and print
// dialogs) into app. False, with a warning on the console, when the
// translation is not installed: Qt then shows its English texts.
bool installQtTranslation(QCoreApplication &app);

} // namespace hollin
