#pragma once

#include "winutil/AppContext.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <chrono>

namespace hollin {

// Receives in the background every few minutes while the program runs: the
// same receive as the receive button, without its progress box. A turn that
// comes while a receive runs, or while another writer holds the data folder,
// is left out. A failure is shown once, not at every turn, until a receive
// succeeds again; a notice (the server cannot keep mail) once while the
// program runs.
class AutoReceive : public QObject {
    Q_OBJECT
public:
    explicit AutoReceive(const AppContext &ctx, QObject *parent = nullptr);
    ~AutoReceive() override;

    // Every `minutes`; 0 turns it off. The next turn is one interval from now.
    void setMinutes(int minutes);
    void setInterval(std::chrono::milliseconds interval);
    bool isOn() const { return m_timer.isActive(); }

private:
    void turn();

    AppContext m_ctx;
    QTimer m_timer;
    QString m_shownFailure; // the failure last shown, until a receive succeeds
    QSet<QString> m_shownNotices; // notices already shown by an automatic receive
};

} // namespace hollin
