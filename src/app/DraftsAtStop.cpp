#include "DraftsAtStop.h"

#include "compose/MailFields.h"
#include "compose/WriteForm.h"
#include "reply/BackForm.h"
#include "winutil/Windows.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace hollin {

namespace {

// The signal handler may only write to a descriptor; the event loop reads it.
int pipeEnds[2] = {-1, -1};
constexpr int StopSignals[] = {SIGTERM, SIGHUP, SIGINT};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[0], &byte, 1);
}

} // namespace

DraftsAtStop::DraftsAtStop(Windows &windows, QObject *parent) : QObject(parent), m_windows(windows)
{
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &) { saveAll(m_windows); });
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeEnds) != 0)
        return; // the session's commit request still saves
    m_notifier = new QSocketNotifier(pipeEnds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DraftsAtStop::signalled);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : StopSignals)
        ::sigaction(sig, &action, nullptr);
}

DraftsAtStop::~DraftsAtStop()
{
    for (const int sig : StopSignals)
        std::signal(sig, SIG_DFL);
    for (int &end : pipeEnds) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void DraftsAtStop::saveAll(Windows &windows)
{
    if (auto *compose = qobject_cast<WriteForm *>(windows.loaded("WriteForm")))
        compose->fields().saveRecovery();
    if (auto *reply = qobject_cast<BackForm *>(windows.loaded("BackForm")))
        reply->fields().saveRecovery();
}

void DraftsAtStop::signalled()
{
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::read(pipeEnds[1], &byte, 1);
    saveAll(m_windows);
    QCoreApplication::exit(0);
}

} // namespace hollin
