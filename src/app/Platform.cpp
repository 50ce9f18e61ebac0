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
