#include "Windows.h"

#include <QByteArray>
#include <QWidget>

namespace hollin {

void Windows::showFloatingWindowsAfter(const char *closing)
{
    // The windows in front of which the floating buttons have no place.
    for (const char *hiding : {"TyakuForm", "WriteForm", "BackForm", "FriendForm"}) {
        if (closing && QByteArray(closing) == hiding)
            continue;
        if (const QWidget *w = loaded(hiding); w && w->isVisible())
            return;
    }
    showFloatingWindows();
}

} // namespace hollin
