#include "Keyring.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// Long enough for the user to answer the desktop's own request to unlock a
// locked keyring.
std::atomic<int> answerWaitMs = 60000;
std::atomic<int> startDelayMs = 0; // only tests set it

const QString Service = u"Hollin"_s;

// The keyring library keeps one queue of jobs and is not safe to use from
// several threads, so every job is made and run on one thread of its own,
// and callers on any thread (the window, the receive, the command line) wait
// for it there.
class JobThread {
public:
    JobThread()
    {
        m_thread.setObjectName(u"keyring"_s);
        m_context.moveToThread(&m_thread);
        m_thread.start();
    }
    ~JobThread()
    {
        m_thread.quit();
        m_thread.wait();
    }

    void run(const std::function<void()> &work)
    {
        QMetaObject::invokeMethod(&m_context, work, Qt::BlockingQueuedConnection);
    }

private:
    QThread m_thread;
    QObject m_context;
};

// Without a session bus (cron, ssh, a bare startx) the D-Bus library would
// launch a bus of its own on the X display, which can take 25 s and reaches no
// keyring: then the keyring counts as missing at once, and says why. The
// library finds a bus by its address, or by the socket in XDG_RUNTIME_DIR.
bool sessionBusReachable(Error *err)
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo::exists(runtime + u"/bus"_s))
        return true;
    return fail(err, u"パスワードの保管庫（キーリング）を使えません。デスクトップのセッションの外（cron、ssh、"
                     u"デスクトップを使わない startx など）で動いているため、キーリングに届きません。"_s,
                u"DBUS_SESSION_BUS_ADDRESS is not set and $XDG_RUNTIME_DIR/bus does not exist"_s);
}

// Runs the job on the job thread and waits for it; done reads its result
// there. A keyring that does not answer in time counts as unusable; the job
// then runs on and says when it answers.
bool runJob(QKeychain::Job *(*make)(), const std::function<void(QKeychain::Job *)> &setUp,
            const std::function<bool(QKeychain::Job *, Error *)> &done, Error *err)
{
    if (!sessionBusReachable(err))
        return false;
    static JobThread jobs;
    bool ok = false;
    jobs.run([&] {
        QKeychain::Job *job = make();
        job->setAutoDelete(false);
        setUp(job);
        QEventLoop loop;
        bool finished = false;
        QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
            finished = true;
            loop.quit();
        });
        QTimer::singleShot(answerWaitMs.load(), &loop, &QEventLoop::quit);
        if (const int delay = startDelayMs.exchange(0); delay > 0)
            QTimer::singleShot(delay, job, [job] { job->start(); });
        else
            job->start();
        loop.exec();
        if (!finished) {
            // The user may still unlock the keyring: its answer then tells
            // the waiting windows to ask again rather than being lost.
            QObject::connect(job, &QKeychain::Job::finished, job, [job] {
                if (job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound)
                    emit Keyring::events()->answeredLate();
                job->deleteLater();
            });
            fail(err, u"パスワードの保管庫（キーリング）が応答しませんでした。ロックの解除を求められていたら、"
                      u"解除してからもう一度試してください。"_s);
            return;
        }
        ok = done(job, err);
        delete job;
    });
    return ok;
}

template<typename J>
QKeychain::Job *makeJob()
{
    return new J(Service);
}

} // namespace

Keyring::Keyring(QString key)
    : m_key(std::move(key))
{
}

KeyringEvents *Keyring::events()
{
    static KeyringEvents events;
    return &events;
}

void Keyring::delayNextAnswerForTest(int delayMs, int waitMs)
{
    startDelayMs = delayMs;
    answerWaitMs = waitMs;
}

Keyring::Lookup Keyring::read(QString *password, Error *err) const
{
    Lookup lookup = Lookup::Unavailable;
    runJob(makeJob<QKeychain::ReadPasswordJob>,
           [&](QKeychain::Job *job) { job->setKey(m_key); },
           [&](QKeychain::Job *job, Error *e) {
               switch (job->error()) {
               case QKeychain::NoError:
                   if (password)
                       *password = static_cast<QKeychain::ReadPasswordJob *>(job)->textData();
                   lookup = Lookup::Found;
                   return true;
               case QKeychain::EntryNotFound:
                   lookup = Lookup::NotFound;
                   return true;
               default:
                   return fail(e, u"パスワードの保管庫（キーリング）を使えません。"_s, job->errorString());
               }
           },
           err);
    return lookup;
}

bool Keyring::write(const QString &password, Error *err) const
{
    return runJob(makeJob<QKeychain::WritePasswordJob>,
                  [&](QKeychain::Job *job) {
                      job->setKey(m_key);
                      static_cast<QKeychain::WritePasswordJob *>(job)->setTextData(password);
                  },
                  [](QKeychain::Job *job, Error *e) {
                      return job->error() == QKeychain::NoError
                          || fail(e, u"パスワードをキーリングに保存できませんでした。"_s, job->errorString());
                  },
                  err);
}

} // namespace hollin
