#include "ProgramEnd.h"

#include <QCoreApplication>

namespace hollin {

namespace {
std::function<void()> &hook()
{
    static std::function<void()> h;
    return h;
}
} // namespace

void ProgramEnd::now()
{
    if (hook())
        hook()();
    else
        QCoreApplication::exit(0);
}

void ProgramEnd::setHook(std::function<void()> h)
{
    hook() = std::move(h);
}

} // namespace hollin
