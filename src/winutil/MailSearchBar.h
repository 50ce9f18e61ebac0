#pragma once

#include <QList>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QThread;

namespace hollin {

// "検索": a word box over a list of mail records. Typing starts a search of the
// record file on a worker thread (MailSearch); the records found reach the
// window in batches while it keeps painting. Esc or an emptied box stops the
// search and shows every row again. The window filters its own list from the
// signals, so its record numbers stay those of the file.
class MailSearchBar : public QWidget {
    Q_OBJECT
public:
    // editName: objectName of the word box.
    explicit MailSearchBar(const QString &editName, QWidget *parent = nullptr);
    ~MailSearchBar() override;

    QLineEdit *edit() const { return m_edit; }

    // The record file to search.
    void setFile(const QString &path);
    // Searches the word again, after the list was reloaded; nothing when the box is empty.
    void restart();

signals:
    void started();                        // show no row until some are found
    void found(const QList<int> &records); // records found since the last signal, 1-based, increasing
    void cleared();                        // show every row again

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Job;

    void start();
    void stop();
    void deliver(const std::shared_ptr<Job> &job);

    QLineEdit *m_edit;
    QLabel *m_status;
    QTimer m_typingPause;
    QString m_path;
    std::shared_ptr<Job> m_job;
    QThread *m_thread = nullptr;
};

} // namespace hollin
