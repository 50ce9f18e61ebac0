#pragma once

#include <QObject>
#include <QString>

namespace hollin {

// Tells the desktop about new mail through its notification service
// (org.freedesktop.Notifications on the session bus); a click on the
// notification emits activated(). Without a session bus or a notification
// service nothing is shown and nothing is reported: the notice board still
// tells the user. The call does not wait for the service.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject *parent = nullptr);

    // "新着メール N 通" with the first subject as its text; it replaces the
    // notification of an earlier receive that is still shown.
    void notifyNewMail(int count, const QString &firstSubject);

signals:
    void activated();

private slots:
    void actionInvoked(uint id, const QString &action);
    void notificationClosed(uint id, uint reason);

private:
    uint m_id = 0; // the notification on screen, 0 when none
};

} // namespace hollin
