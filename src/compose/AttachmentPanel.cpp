#include "AttachmentPanel.h"

#include "storage/TextUtil.h"
#include "transport/MailComposer.h"
#include "winutil/Prompt.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace hollin {

AttachmentPanel::AttachmentPanel(QWidget *window, const Controls &controls)
    : QObject(window), m_window(window), m_c(controls)
{
    connect(m_c.first, &QPushButton::clicked, this, &AttachmentPanel::attachFirst);
    connect(m_c.more, &QPushButton::clicked, this, &AttachmentPanel::attachMore);
    connect(m_c.clear, &QPushButton::clicked, this, &AttachmentPanel::clear);
}

void AttachmentPanel::attachFirst()
{
    m_c.more->setEnabled(true);
    const QString path = Prompt::openFileName(m_window, u"添付File"_s, QString(), QString());
    if (!path.isEmpty() && accepts({path})) {
        m_c.paths->setText(path);
        m_c.names->addItem(fileNameOf(path));
        m_c.clear->setEnabled(true);
    }
    m_c.first->setEnabled(false);
}

void AttachmentPanel::attachMore()
{
    m_c.names->show();
    m_c.names->raise();
    // With nothing listed (the first file's dialog was cancelled or its
    // file refused) this attaches the first file: the window is never left
    // without a way to attach.
    const QString path = Prompt::openFileName(m_window, u"添付File"_s, QString(), QString());
    const QStringList listed = m_c.paths->text().split(u',', Qt::SkipEmptyParts);
    if (path.isEmpty() || !accepts(QStringList(listed) << path))
        return;
    m_c.paths->setText(listed.isEmpty() ? path : m_c.paths->text() + u',' + path);
    m_c.names->addItem(fileNameOf(path));
    m_c.clear->setEnabled(true);
}

bool AttachmentPanel::accepts(const QStringList &paths) const
{
    Error err;
    if (MailComposer::checkAttachments(paths, &err))
        return true;
    Prompt::message(m_window, err.text(), QString(), Prompt::Icon::Warning);
    return false;
}

void AttachmentPanel::clear()
{
    m_c.paths->clear();
    m_c.names->clear();
    m_c.names->hide();
    m_c.more->setEnabled(false);
    m_c.clear->setEnabled(false);
    m_c.first->setEnabled(true);
}

QString AttachmentPanel::paths() const
{
    return m_c.paths->text();
}

void AttachmentPanel::show(const QString &paths)
{
    clear();
    if (paths.isEmpty())
        return;
    m_c.paths->setText(paths);
    for (const QString &path : paths.split(u','))
        m_c.names->addItem(fileNameOf(path));
    m_c.more->setEnabled(true);
    m_c.clear->setEnabled(true);
    m_c.first->setEnabled(false);
}

} // namespace hollin
