#pragma once

#include <QString>
#include <QWidget>

namespace hollin {

// The control named `name` in window; stops the test program when there is none.
template <class T>
T *controlOf(QWidget *window, const char *name)
{
    T *control = window->findChild<T *>(QString::fromLatin1(name));
    if (!control)
        qFatal("no control %s", name);
    return control;
}

} // namespace hollin
