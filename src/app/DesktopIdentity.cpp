#include "DesktopIdentity.h"

#include <QApplication>
#include <QIcon>

using namespace Qt::StringLiterals;

// The icons live in this static library's resources, which the linker keeps
// only when something refers to them.
static void initAppResources()
{
    Q_INIT_RESOURCE(app);
}

namespace hollin {

void setDesktopIdentity()
{
    QApplication::setApplicationName(u"hollin"_s);
    QApplication::setApplicationVersion(QStringLiteral(HOLLIN_VERSION));
    QApplication::setDesktopFileName(u"hollin"_s);
    initAppResources();
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(u":/icons/hollin-%1.png"_s.arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
}

} // namespace hollin
