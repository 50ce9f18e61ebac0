#pragma once

#include "logic/ReceiveProgress.h"
#include "logic/ReceiveSession.h"
#include "winutil/AppContext.h"
#include "winutil/Prompt.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QTimer>

class QDialog;
class QLabel;
class QProgressBar;
class QThread;

namespace hollin {


// Runs the whole receive: the account check, the session on a worker thread
// under a modal progress dialog "受信中 n / count" with a cancel button, the
// boxes the session asks for, both counts on the panel (set from the file at
// the end of every receive), the notice board, and at the end the five
// floating windows shown again unless the inbox is open. The stored mail goes
// into the inbox while it is open; a closed inbox opens for it only when the
// panel's "新着メール有りで、メールを見るを自動表示" is ticked.
void startReceive(const AppContext &ctx);

// One receive in progress; startReceive() makes one and lets it delete itself.
// Only one runs at a time: start() of a second one does nothing but finish,
// and when the running one is automatic it shows its progress dialog from
// then on, as if the receive button had started it.
class ReceiveController : public QObject {
    Q_OBJECT
public:
    explicit ReceiveController(const AppContext &ctx, QObject *parent = nullptr);
    ~ReceiveController() override;

    void start();
    // The receive of the automatic timer: no progress dialog but the panel's
    // busy sign, the floating windows left as they are, the inbox not shown,
    // and the session's boxes shown together at the end. It leaves its turn
    // out when another writer holds the data folder. A failure whose text is
    // *shownFailure is not shown again; a completed receive clears it. A
    // notice in shownNotices is not shown again either (a server that cannot
    // keep mail says so at every receive).
    void startAutomatic(QString *shownFailure, QSet<QString> *shownNotices);
    // True while a receive runs anywhere in the program.
    static bool isRunning();
    // Cancels the running receive, if any (the program ends): its session
    // stops at once, also while it connects; it ends as a cancelled one.
    static void cancelRunning();

signals:
    // After the floating windows are shown again (and, with the auto-erasing
    // notice board, after the board is gone).
    void finished();

private:
    // Shows the session's latest progress and stored mail (a few times a second).
    void showLatest();
    bool stagesIntoInbox() const;
    void applyAccount(const QString &id, const QString &password);
    void takeNotice(const QString &text);
    void sessionDone();
    bool confirmPlainLogin(const QString &iniPath, const QString &server, bool apop);
    void raiseNotice(int count);
    void end();
    void showProgress();
    void showAsManual();
    void setBusySign(bool on);
    // False for an automatic receive's failure that was shown already.
    bool isNewFailure(const QString &failure);
    void reportFailure(const QString &text, const QString &title, Prompt::Icon icon);

    AppContext m_ctx;
    ReceiveSession *m_session = nullptr;
    ReceiveResult m_result;
    QThread *m_thread = nullptr;
    QPointer<QDialog> m_progress;   // modal "受信中 n / count" with its cancel button
    QLabel *m_progressLabel = nullptr;
    QProgressBar *m_progressBar = nullptr;
    bool m_automatic = false;
    QString *m_shownFailure = nullptr;
    QSet<QString> *m_shownNotices = nullptr;
    QStringList m_notices;      // an automatic receive's boxes, shown at its end
    bool m_noticeOpen = false;  // a notice box is open
    bool m_endWaiting = false;  // the session ended while it was open
    ReceiveProgress m_latest;   // noted by the session's thread
    QTimer m_ticker;            // shows m_latest while the session runs
    QString m_firstSubject;
};

} // namespace hollin
