#include "Platform.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <QtGlobal>

using namespace Qt::StringLiterals;

namespace hollin {

QByteArray preferredPlatform(const QByteArray &waylandDisplay, const QByteArray &display,
                             const QByteArray &chosenPlatform)
{
    if (!waylandDisplay.isEmpty() && !display.isEmpty() && chosenPlatform.isEmpty())
        return "xcb";
    return {};
}

void choosePlatform()
{
    const QByteArray platform = preferredPlatform(qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY"),
                                                  qgetenv("QT_QPA_PLATFORM"));
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform);
}

bool windowSystemReachable(const QString &platformArgument, bool displayArgument)
{
    const bool x11 = displayArgument || !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const QString chosen = platformArgument.isEmpty() ? qEnvironmentVariable("QT_QPA_PLATFORM") : platformArgument;
    if (chosen.isEmpty())
        return x11 || wayland;
    // "wayland;xcb" tries each in turn; ":option" follows a name.
    for (const QString &entry : chosen.split(u';', Qt::SkipEmptyParts)) {
        const QString name = entry.section(u':', 0, 0);
        if (name == u"xcb" ? x11 : name.startsWith(u"wayland") ? wayland : true)
            return true;
    }
    return false;
}

QString activationToken()
{
    const QString wayland = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    return wayland.isEmpty() ? qEnvironmentVariable("DESKTOP_STARTUP_ID") : wayland;
}

bool installQtTranslation(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(u"qtbase_ja"_s, folder)) {
        qWarning("Qt's Japanese translation (qtbase_ja.qm) is missing in %s", qPrintable(folder));
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace hollin
