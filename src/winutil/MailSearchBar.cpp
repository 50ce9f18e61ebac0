#include "MailSearchBar.h"

#include "Prompt.h"

#include "storage/MailSearch.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QThread>

#include <atomic>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {
constexpr int TypingPauseMs = 250; // search once the user stops typing
} // namespace

// What a worker thread shares with the window: hits not yet delivered and the outcome.
struct MailSearchBar::Job {
    std::atomic<bool> cancel{false};
    QMutex mutex;
    QList<int> pending;
    int total = 0;
    bool done = false;
    Error error;
};

MailSearchBar::MailSearchBar(const QString &editName, QWidget *parent) : QWidget(parent)
{
    setObjectName(u"SearchBar"_s);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(u"検索"_s, this));
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(editName);
    m_edit->setAccessibleName(u"検索"_s);
    m_edit->setClearButtonEnabled(true);
    m_edit->installEventFilter(this);
    layout->addWidget(m_edit, 1);
    m_status = new QLabel(this);
    m_status->setObjectName(u"SearchStatus"_s);
    layout->addWidget(m_status);

    m_typingPause.setSingleShot(true);
    m_typingPause.setInterval(TypingPauseMs);
    connect(&m_typingPause, &QTimer::timeout, this, &MailSearchBar::start);
    connect(m_edit, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (MailSearch(text).isBlank()) {
            m_typingPause.stop();
            stop();
            m_status->clear();
            emit cleared();
        } else {
            m_typingPause.start();
        }
    });
}

MailSearchBar::~MailSearchBar()
{
    stop();
}

void MailSearchBar::setFile(const QString &path)
{
    m_path = path;
}

void MailSearchBar::restart()
{
    if (!MailSearch(m_edit->text()).isBlank())
        start();
}

void MailSearchBar::start()
{
    stop();
    m_typingPause.stop();
    auto job = std::make_shared<Job>();
    m_job = job;
    m_status->setText(u"検索中…"_s);
    emit started();
    const QString word = m_edit->text();
    const QString path = m_path;
    m_thread = QThread::create([this, job, word, path] {
        auto post = [this, job] {
            QMetaObject::invokeMethod(this, [this, job] { deliver(job); }, Qt::QueuedConnection);
        };
        Error err;
        const bool ok = MailSearch(word).run(path, [&](int n, const MailRecord &) {
            QMutexLocker lock(&job->mutex);
            job->pending << n;
            if (job->pending.size() == 1)
                post();
        }, &job->cancel, &err);
        QMutexLocker lock(&job->mutex);
        job->done = true;
        if (!ok)
            job->error = err;
        post();
    });
    m_thread->start();
}

void MailSearchBar::stop()
{
    if (!m_thread)
        return;
    m_job->cancel = true;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    m_job.reset();
}

void MailSearchBar::deliver(const std::shared_ptr<Job> &job)
{
    if (job != m_job)
        return; // a search that was stopped
    QList<int> records;
    bool done = false;
    Error error;
    {
        QMutexLocker lock(&job->mutex);
        records.swap(job->pending);
        job->total += int(records.size());
        done = job->done;
        error = job->error;
    }
    if (!records.isEmpty())
        emit found(records);
    if (!done)
        return;
    m_status->setText(u"%1 件"_s.arg(job->total));
    stop();
    if (error.isSet())
        Prompt::message(window(), error.text(), {}, Prompt::Icon::Warning);
}

bool MailSearchBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_edit && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape && !m_edit->text().isEmpty()) {
        m_edit->clear();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace hollin
