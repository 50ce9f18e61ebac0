#include "DesktopNotifier.h"

#include "Prompt.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

const QString Service = u"org.freedesktop.Notifications"_s;
const QString Path = u"/org/freedesktop/Notifications"_s;
const QString Interface = u"org.freedesktop.Notifications"_s;
// The action a click on the notification's body invokes.
const QString DefaultAction = u"default"_s;

} // namespace

DesktopNotifier::DesktopNotifier(QObject *parent)
    : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    bus.connect(Service, Path, Interface, u"ActionInvoked"_s, this, SLOT(actionInvoked(uint, QString)));
    bus.connect(Service, Path, Interface, u"NotificationClosed"_s, this, SLOT(notificationClosed(uint, uint)));
}

void DesktopNotifier::notifyNewMail(int count, const QString &firstSubject)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, u"Notify"_s);
    const QVariantMap hints{{u"desktop-entry"_s, QGuiApplication::desktopFileName()},
                            {u"category"_s, u"email.arrived"_s}};
    // The text may carry markup for the service; a subject is plain text.
    call << Prompt::programTitle() << m_id << u"hollin"_s << u"新着メール %1 通"_s.arg(count)
         << firstSubject.toHtmlEscaped() << QStringList{DefaultAction, u"受信メールを開く"_s} << hints
         << -1;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<uint> reply = *w;
        if (!reply.isError())
            m_id = reply.value();
        w->deleteLater();
    });
}

void DesktopNotifier::actionInvoked(uint id, const QString &action)
{
    if (id != 0 && id == m_id && action == DefaultAction)
        emit activated();
}

void DesktopNotifier::notificationClosed(uint id, uint)
{
    if (id == m_id)
        m_id = 0;
}

} // namespace hollin
