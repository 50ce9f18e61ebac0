#include "StorageNotice.h"

#include <QDebug>

namespace hollin::storagenotice {

namespace {
std::function<void(const QString &)> &handler()
{
    static std::function<void(const QString &)> h;
    return h;
}
} // namespace

void setHandler(std::function<void(const QString &text)> h)
{
    handler() = std::move(h);
}

void tell(const QString &text)
{
    if (handler())
        handler()(text);
    else
        qWarning().noquote() << text;
}

} // namespace hollin::storagenotice
