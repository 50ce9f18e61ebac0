// Accessors of windows whose block is not yet in AppWindows.cpp. Each is a weak
// definition: the moment the window's own block is added there, that definition
// takes its place and the one here is no longer linked. Until then, asking for
// the window stops the program with its name, so nothing runs on without it.
// Remove a line here once its window's block exists.

#include "AppWindows.h"

#include <QtGlobal>

#define HOLLIN_PENDING_WINDOW(Type, accessor)                                             \
    __attribute__((weak)) hollin::Type *hollin::AppWindows::accessor()                    \
    {                                                                                     \
        qFatal("The window " #Type " is not part of this build yet");                     \
    }

HOLLIN_PENDING_WINDOW(KaoForm, kaoForm)
