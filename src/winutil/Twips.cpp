#include "Twips.h"

#include <QGuiApplication>
#include <QScreen>

namespace hollin::twips {

qreal screenDotsPerInch()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() : 96.0;
}

} // namespace hollin::twips
