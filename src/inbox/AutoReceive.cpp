#include "AutoReceive.h"

#include "ReceiveController.h"

namespace hollin {

AutoReceive::AutoReceive(const AppContext &ctx, QObject *parent)
    : QObject(parent), m_ctx(ctx)
{
    connect(&m_timer, &QTimer::timeout, this, &AutoReceive::turn);
}

// A receive still running is a child: it is cancelled and waited for here.
AutoReceive::~AutoReceive() = default;

void AutoReceive::setMinutes(int minutes)
{
    setInterval(std::chrono::minutes(minutes));
}

void AutoReceive::setInterval(std::chrono::milliseconds interval)
{
    if (interval.count() <= 0) {
        m_timer.stop();
        return;
    }
    m_timer.start(interval);
}

void AutoReceive::turn()
{
    if (ReceiveController::isRunning())
        return;
    auto *controller = new ReceiveController(m_ctx, this);
    connect(controller, &ReceiveController::finished, controller, &QObject::deleteLater);
    controller->startAutomatic(&m_shownFailure, &m_shownNotices);
}

} // namespace hollin
