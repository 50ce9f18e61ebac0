#include "HeldMailPanel.h"

#include "MailFields.h"
#include "storage/AppState.h"
#include "storage/TextUtil.h"
#include "winutil/MailSearchBar.h"
#include "winutil/Prompt.h"
#include "winutil/TextFiles.h"

#include <QLineEdit>
#include <QListWidget>

using namespace Qt::StringLiterals;

namespace hollin {

HeldMailPanel::HeldMailPanel(QWidget *window, AppState &state, MailFields &fields, const Controls &controls)
    : QObject(window), m_window(window), m_state(state), m_fields(fields), m_controls(controls),
      m_store(state.root)
{
}

bool HeldMailPanel::hold(bool askFirst)
{
    m_controls.picked->clear();
    const MailDraft draft = m_fields.draft();
    if (HeldMailStore::subjectMissing(draft.subject)) {
        Prompt::message(m_window, HeldMailStore::emptySubjectMessage(), QString(), Prompt::Icon::Information);
        return false;
    }
    if (askFirst && !Prompt::ask(m_window, HeldMailStore::holdQuestion()))
        return false;
    if (HeldMailStore::subjectTooLong(draft.subject) && !Prompt::ask(m_window, HeldMailStore::longSubjectQuestion()))
        return false;
    if (HeldMailStore::bodyTooLong(draft.body) && !Prompt::ask(m_window, HeldMailStore::tooLongQuestion()))
        return false;
    const QString lost = charactersWithoutCp932(draft.to + draft.subject + draft.body);
    if (!lost.isEmpty() && !Prompt::ask(m_window, cp932LossQuestion(lost)))
        return false;
    Error err, extrasErr;
    const int n = m_store.hold(draft, &err, &extrasErr);
    if (n < 0) {
        Prompt::message(m_window, err.text(), QString(), Prompt::Icon::Warning);
        return false;
    }
    if (extrasErr.isSet())
        Prompt::message(m_window, extrasErr.text(), QString(), Prompt::Icon::Warning);
    m_state.currentRecordNumber = qint16(n);
    m_fields.clear();
    return true;
}

bool HeldMailPanel::list()
{
    QListWidget *rowsList = m_controls.list;
    rowsList->clear();
    m_records.clear();
    QList<HeldListRow> rows;
    Error err;
    m_listed.loading(m_store.path());
    const bool ok = m_store.list(&rows, &err);
    for (const HeldListRow &row : std::as_const(rows)) {
        rowsList->addItem(trimTrailingSpaces(row.subject));
        m_records.append(row.recordNumber);
    }
    m_controls.count->setText(QString::number(rowsList->count()));
    if (m_controls.search)
        m_controls.search->restart();
    if (!ok)
        Prompt::message(m_window, err.text(), QString(), Prompt::Icon::Warning);
    return ok;
}

int HeldMailPanel::selectedRecord() const
{
    const int row = m_controls.list->currentRow();
    if (row < 0 || row >= m_records.size() || !m_controls.list->item(row)->isSelected())
        return -1;
    return m_records.at(row);
}

void HeldMailPanel::pick()
{
    m_controls.picked->setText(u"1"_s);
    const int n = selectedRecord();
    if (n < 1) {
        Prompt::message(m_window, HeldMailStore::noSelectionMessage(), QString(), Prompt::Icon::Warning);
        m_controls.list->setFocus();
        return;
    }
    if (!m_listed.isCurrent(m_window, [this] { list(); }))
        return;
    HeldMail mail;
    Error err, extrasErr;
    if (!m_store.load(n, &mail, &err, &extrasErr)) {
        Prompt::message(m_window, err.text(), QString(), Prompt::Icon::Warning);
        return;
    }
    if (!m_fields.mayReplace())
        return;
    m_fields.replace(mail); // its own attachments, copies and mode, or none
    m_fields.settle();
    if (extrasErr.isSet())
        Prompt::message(m_window, extrasErr.text(), QString(), Prompt::Icon::Warning);
    if (const QString notSent = m_notSent ? m_notSent(mail) : QString(); !notSent.isEmpty())
        Prompt::message(m_window, notSent, QString(), Prompt::Icon::Warning);
}

bool HeldMailPanel::removeSelected()
{
    const int n = selectedRecord();
    if (m_controls.picked->text().isEmpty() || n < 1) {
        Prompt::message(m_window, HeldMailStore::noSelectionMessage(), QString(), Prompt::Icon::Information);
        return false;
    }
    const bool yes = Prompt::ask(m_window, HeldMailStore::deleteQuestion());
    m_controls.picked->clear();
    if (!yes)
        return false; // the held mail and everything typed stay as they are
    m_state.currentRecordNumber = qint16(n);
    const DataRoot &root = m_state.root;
    if (!m_listed.deleteWhileBusy(m_window, u"保留メールの削除"_s, [this] { list(); },
                                  [&root, n](Error *err) { return HeldMailStore(root).remove(n, err); }))
        return false;
    // The boxes showed the deleted mail only when nothing was typed since.
    if (!m_fields.isAtRisk())
        m_fields.clear();
    list();
    return true;
}

bool HeldMailPanel::mayClose()
{
    switch (m_fields.askBeforeClosing()) {
    case MailFields::CloseAnswer::Hold:
        return hold(false);
    case MailFields::CloseAnswer::Discard:
        return true;
    case MailFields::CloseAnswer::Cancel:
        break;
    }
    return false;
}

} // namespace hollin
