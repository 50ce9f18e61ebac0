#include "ReceiveController.h"

#include "MsgForm.h"
#include "TyakuForm.h"
#include "logic/ReceiveSession.h"

#include "panel/MainForm.h"
#include "settings/IdPassForm.h"
#include "settings/SetForm.h"
#include "storage/AppState.h"
#include "storage/DataFolderLock.h"
#include "transport/PlainLoginConsent.h"
#include "winutil/Prompt.h"
#include "winutil/WindowStacking.h"
#include "winutil/Windows.h"

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QThread>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {
ReceiveController *g_running = nullptr;
constexpr int NoticeMilliseconds = 1000;
// How often the window shows the session's progress and latest mail.
constexpr int TickMilliseconds = 200;
// What an automatic receive remembers for a missing account, which opens the
// account dialog instead of a box.
const QString AccountMissing = u"IdPassForm"_s;
} // namespace

void startReceive(const AppContext &ctx)
{
    auto *controller = new ReceiveController(ctx);
    QObject::connect(controller, &ReceiveController::finished, controller, &QObject::deleteLater);
    controller->start();
}

ReceiveController::ReceiveController(const AppContext &ctx, QObject *parent)
    : QObject(parent), m_ctx(ctx)
{
    m_ticker.setInterval(TickMilliseconds);
    connect(&m_ticker, &QTimer::timeout, this, &ReceiveController::showLatest);
}

ReceiveController::~ReceiveController()
{
    if (m_thread) {
        m_session->abort(); // the program ends: no wait for the server's answers to DELE and QUIT
        m_thread->wait();
        delete m_thread;
    }
    delete m_session;
    delete m_progress;
    if (g_running == this)
        g_running = nullptr;
}

bool ReceiveController::isRunning()
{
    return g_running != nullptr;
}

void ReceiveController::cancelRunning()
{
    if (g_running && g_running->m_session)
        g_running->m_session->cancel();
}

void ReceiveController::startAutomatic(QString *shownFailure, QSet<QString> *shownNotices)
{
    m_automatic = true;
    m_shownFailure = shownFailure;
    m_shownNotices = shownNotices;
    start();
}

void ReceiveController::start()
{
    if (g_running) {
        if (!m_automatic)
            g_running->showAsManual();
        QTimer::singleShot(0, this, &ReceiveController::finished);
        return;
    }
    g_running = this;

    const AppState &state = m_ctx.state;
    ReceiveSettings settings;
    settings.pop3Server = state.pop3Server;
    settings.apopFlag = state.apopFlag;
    settings.idPassIniFile = state.root.idPassIniFile();
    if (state.accountUnsaved) {
        settings.accountId = state.accountId;
        settings.accountPassword = state.accountPassword;
    }
    settings.receivedMailFile = state.root.receivedMailFile();
    settings.receivedMailTemp = state.root.receivedMailTemp();
    settings.uidlListFile = state.root.uidlListFile();
    settings.storedMessageListFile = state.root.storedMessageListFile();
    settings.attachmentFolder = state.root.attachmentFolder();
    settings.keep = KeepMailSettings::read(state.root.iniFile());
    // The user's own receive tries the skipped messages again; an automatic one leaves them.
    settings.retrySkipped = !m_automatic;
    settings.confirmPlainLogin = [this, apop = state.apopFlag != 0, ini = state.root.iniFile()](const QString &server) {
        return confirmPlainLogin(ini, server, apop);
    };
    m_session = new ReceiveSession(settings);

    // The session runs on its own thread; what it reports is handled here.
    // A box it asks for holds the session until it is answered. An automatic
    // receive never waits for this thread, which may be waiting for the data
    // folder's lock that the session holds.
    const Qt::ConnectionType waiting = m_automatic ? Qt::QueuedConnection : Qt::BlockingQueuedConnection;
    connect(m_session, &ReceiveSession::accountRead, this, &ReceiveController::applyAccount, waiting);
    // Progress and stored mail are only noted on the session's thread; the
    // ticker shows the latest, so the window's queue stays short and a cancel
    // is handled at once.
    connect(m_session, &ReceiveSession::progress, this,
            [this](int n, int count) { m_latest.noteProgress(n, count); }, Qt::DirectConnection);
    connect(m_session, &ReceiveSession::messageReceived, this,
            [this](const QString &subject, const QString &from, const QString &date, const QString &body) {
                m_latest.noteMessage({subject, from, date, body});
            },
            Qt::DirectConnection);
    connect(m_session, &ReceiveSession::notice, this, &ReceiveController::takeNotice, waiting);

    // An automatic receive does not wait for another writer (hollin-cli
    // receive, a deletion): it leaves its turn out, with nothing to report.
    // The lock is only looked at here: the session takes it itself when it
    // writes, never through the network.
    m_thread = QThread::create([this, folder = state.root.dataFolder(), automatic = m_automatic] {
        if (automatic && !DataFolderLock(folder, u"受信"_s).take(nullptr, 0))
            return;
        m_result = m_session->run();
    });
    connect(m_thread, &QThread::finished, this, &ReceiveController::sessionDone);
    m_thread->start();
    m_ticker.start();

    if (m_automatic)
        setBusySign(true);
    else
        showProgress();
}

void ReceiveController::showProgress()
{
    // Modal, so that no other handler runs while the session goes; shown, not
    // executed, so that no event loop of its own runs here.
    m_progress = new QDialog;
    m_progress->setObjectName(u"ReceiveProgress"_s);
    m_progress->setWindowTitle(Prompt::programTitle());
    m_progress->setWindowModality(Qt::ApplicationModal);
    m_progressLabel = new QLabel(u"受信中"_s, m_progress);
    m_progressBar = new QProgressBar(m_progress);
    m_progressBar->setRange(0, 0);
    auto *cancel = new QPushButton(u"キャンセル"_s, m_progress);
    cancel->setObjectName(u"CancelButton"_s);
    auto *layout = new QVBoxLayout(m_progress);
    layout->addWidget(m_progressLabel);
    layout->addWidget(m_progressBar);
    layout->addWidget(cancel, 0, Qt::AlignRight);
    auto stop = [this] {
        m_session->cancel();
        m_progressLabel->setText(u"受信を中止しています…"_s);
        m_progress->show();
    };
    connect(cancel, &QPushButton::clicked, m_progress, stop);
    connect(m_progress, &QDialog::rejected, m_progress, stop);
    m_progress->resize(320, m_progress->sizeHint().height());
    keepAbove(m_progress);
    m_progress->show();
}

// The receive button pressed during an automatic receive: this receive goes on
// as the button's own.
void ReceiveController::showAsManual()
{
    if (!m_automatic)
        return;
    m_automatic = false;
    setBusySign(false);
    if (m_thread)
        showProgress();
}

void ReceiveController::setBusySign(bool on)
{
    if (auto *panel = qobject_cast<MainForm *>(m_ctx.windows.loaded("MainForm")))
        panel->setAutoReceiveBusy(on);
}

bool ReceiveController::isNewFailure(const QString &failure)
{
    if (!m_automatic)
        return true;
    if (*m_shownFailure == failure)
        return false;
    *m_shownFailure = failure;
    return true;
}

void ReceiveController::reportFailure(const QString &text, const QString &title, Prompt::Icon icon)
{
    if (!isNewFailure(text))
        return;
    if (m_automatic) // the user may be typing elsewhere
        Prompt::notice(text, title, icon);
    else
        Prompt::message(nullptr, text, title, icon);
}

void ReceiveController::applyAccount(const QString &id, const QString &password)
{
    m_ctx.state.accountId = id;
    m_ctx.state.accountPassword = password;
    m_ctx.windows.idPassForm()->presetAccount(id, password);
}

void ReceiveController::showLatest()
{
    const ReceiveProgress::Snapshot now = m_latest.take();
    m_firstSubject = now.firstSubject;
    if (m_progress && !m_session->isCancelled() && now.count > 0) {
        m_progressBar->setRange(0, now.count);
        m_progressBar->setValue(now.n - 1);
        m_progressLabel->setText(u"受信中 %1 / %2"_s.arg(now.n).arg(now.count));
    }
    if (now.latest && stagesIntoInbox()) {
        const ReceiveProgress::Message &m = *now.latest;
        m_ctx.windows.tyakuForm()->showReceived(m.subject, m.from, m.date, m.body);
    }
}

// A manual receive shows its mail in an open inbox, and opens a closed one
// when the panel asks for it.
bool ReceiveController::stagesIntoInbox() const
{
    if (m_automatic)
        return false;
    if (auto *inbox = m_ctx.windows.loaded("TyakuForm"); inbox && inbox->isVisible())
        return true;
    auto *panel = qobject_cast<MainForm *>(m_ctx.windows.loaded("MainForm"));
    return panel && panel->opensInboxOnNewMail();
}

// A notice of a receive that became the button's own while it ran does not
// hold the session, which may end while the box is open: the box has no
// parent that the end deletes, and the end waits until the box is closed.
void ReceiveController::takeNotice(const QString &text)
{
    if (m_automatic) {
        if (!m_notices.contains(text) && !m_shownNotices->contains(text))
            m_notices.append(text);
        return;
    }
    m_noticeOpen = true;
    Prompt::message(nullptr, text);
    m_noticeOpen = false;
    if (m_endWaiting) {
        m_endWaiting = false;
        sessionDone();
    }
}

// On the session's thread: the question is asked on this one, once per
// server; the session waits for it (it holds no data folder lock then).
// An automatic receive asks nothing, as the user may be typing elsewhere:
// it does not log in, and the receive button asks.
bool ReceiveController::confirmPlainLogin(const QString &iniPath, const QString &server, bool apop)
{
    PlainLoginConsent consent(iniPath);
    if (consent.isGiven(server, apop))
        return true;
    if (m_automatic)
        return false;
    bool yes = false;
    QMetaObject::invokeMethod(this, [&] {
        yes = Prompt::ask(nullptr, PlainLoginConsent::warning(server, apop) + u"\nこのサーバーでは今後もこのまま受信しますか？"_s);
        Error err;
        if (yes && !consent.give(server, apop, &err))
            Prompt::message(nullptr, err.text(), {}, Prompt::Icon::Warning);
    }, Qt::BlockingQueuedConnection);
    return yes;
}

void ReceiveController::sessionDone()
{
    if (m_noticeOpen) {
        m_endWaiting = true;
        return;
    }
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    m_ticker.stop();
    showLatest();
    delete m_progress;
    // The inbox may have been loaded by the first mail, while later ones were
    // still being stored: its list and both counts show every stored record now.
    // An automatic receive leaves the mail the user reads in an open inbox as
    // it is, and a list it stored nothing into untouched.
    auto *inbox = qobject_cast<TyakuForm *>(m_ctx.windows.loaded("TyakuForm"));
    if (inbox && (!m_automatic || m_result.stored > 0)) {
        if (m_automatic)
            inbox->fillKeepingShownMail();
        else
            inbox->fill();
    }
    if (auto *panel = qobject_cast<MainForm *>(m_ctx.windows.loaded("MainForm")))
        panel->countStoredMail();

    using Outcome = ReceiveResult::Outcome;
    const ReceiveResult &r = m_result;
    switch (r.outcome) {
    case Outcome::NoServer:
        break;
    case Outcome::Completed:
        if (m_automatic)
            m_shownFailure->clear();
        break;
    case Outcome::NoConnection:
        reportFailure(r.error.text(), {}, Prompt::Icon::Warning);
        break;
    case Outcome::NeedAccount:
        if (isNewFailure(AccountMissing)) {
            auto receiveAgain = [ctx = m_ctx] { startReceive(ctx); };
            if (m_automatic)
                m_ctx.windows.idPassForm()->showForAutomaticReceive(receiveAgain);
            else
                m_ctx.windows.idPassForm()->showForReceive(receiveAgain);
        }
        break;
    case Outcome::AuthFailed:
        reportFailure(r.error.message, u"エラー"_s, Prompt::Icon::Critical);
        break;
    case Outcome::Stopped:
        reportFailure(u"受信を中断しました（%1 件中 %2 件を保存しました。保存していないメールはサーバーに残っています）。\n"_s
                              .arg(r.count).arg(r.stored)
                          + r.error.text(),
                      {}, Prompt::Icon::Warning);
        break;
    case Outcome::PlainRefused:
        if (m_automatic)
            reportFailure(r.error.text() + u"\n「受信」ボタンで受信すると、このサーバーで続けるかを確認します。"_s, {},
                          Prompt::Icon::Warning);
        break;
    case Outcome::Cancelled:
        Prompt::message(nullptr,
                        u"受信を中止しました（%1 件中 %2 件を保存しました。残りのメールはサーバーに残っています）。"_s
                            .arg(r.count).arg(r.stored));
        break;
    }
    if (!m_notices.isEmpty()) {
        if (m_shownNotices)
            m_shownNotices->unite(QSet<QString>(m_notices.cbegin(), m_notices.cend()));
        if (m_automatic)
            Prompt::notice(m_notices.join(u'\n'));
        else
            Prompt::message(nullptr, m_notices.join(u'\n'));
    }
    if (r.stored > 0)
        raiseNotice(r.stored);
    else
        end();
}

void ReceiveController::raiseNotice(int count)
{
    if (auto *panel = qobject_cast<MainForm *>(m_ctx.windows.loaded("MainForm")))
        panel->setNewMailCount(count);
    m_ctx.windows.notifyNewMail(count, m_firstSubject);
    SetForm *settings = m_ctx.windows.setForm();
    const Qt::CheckState autoErase = settings->autoEraseState();
    if (!settings->showNoticeBoard() || (autoErase != Qt::Checked && autoErase != Qt::Unchecked)) {
        end();
        return;
    }
    m_ctx.windows.msgForm()->showNotice(count);
    if (autoErase == Qt::Unchecked) {
        end();
        return;
    }
    QTimer::singleShot(NoticeMilliseconds, this, [this] {
        m_ctx.windows.unload("MsgForm");
        end();
    });
}

void ReceiveController::end()
{
    g_running = nullptr;
    if (m_automatic)
        setBusySign(false);
    else
        m_ctx.windows.showFloatingWindowsAfter(nullptr);
    emit finished();
}

} // namespace hollin
