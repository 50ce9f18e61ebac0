#include "BusyJob.h"

#include "WindowStacking.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <limits>
#include <memory>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {
// A job shorter than this shows no box, only the busy pointer.
constexpr int ProgressDelayMilliseconds = 300;
} // namespace

bool runWhileBusy(QWidget *owner, const QString &text, const std::function<bool(Error *)> &work, Error *err)
{
    // On the heap and watched: the owner may go while the work runs, and the box with it.
    const QPointer<QProgressDialog> progress =
        new QProgressDialog(text, QString(), 0, 0, owner); // no cancel: a rewrite runs to its end
    progress->setObjectName(u"BusyProgress"_s);
    progress->setWindowTitle(u"Hollin"_s);
    progress->setWindowModality(Qt::ApplicationModal);
    progress->setMinimumDuration(std::numeric_limits<int>::max()); // shown by the timer below
    keepAbove(progress, owner);

    bool ok = false;
    Error jobError;
    QEventLoop loop;
    const std::unique_ptr<QThread> thread(QThread::create([&] { ok = work(&jobError); }));
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    QTimer showLater;
    showLater.setSingleShot(true);
    QObject::connect(&showLater, &QTimer::timeout, progress, &QWidget::show);

    QApplication::setOverrideCursor(Qt::WaitCursor);
    thread->start();
    showLater.start(ProgressDelayMilliseconds);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    thread->wait();
    QApplication::restoreOverrideCursor();
    delete progress.data();

    if (!ok && err)
        *err = jobError;
    return ok;
}

} // namespace hollin
