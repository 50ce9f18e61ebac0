#pragma once

#include "compose/logic/HeldMailStore.h"
#include "winutil/ListedFile.h"

#include <QList>
#include <QObject>

#include <functional>

class QLineEdit;
class QListWidget;
class QWidget;

namespace hollin {

struct AppState;
class MailFields;
class MailSearchBar;

// The held mails as the compose and the reply window both run them: hold
// what is typed, list the held mails, load the one pressed, delete the one
// selected. Loading and a window's close go through the fields' guard, so
// nothing typed is lost without the user's word.
class HeldMailPanel : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QListWidget *list;      // List1
        QLineEdit *count;       // Text1
        QLineEdit *picked;      // Text2: "1" after a held mail was pressed
        MailSearchBar *search;  // may be null
    };
    HeldMailPanel(QWidget *window, AppState &state, MailFields &fields, const Controls &controls);

    // 保存: asks holdQuestion() when askFirst, then every question about what
    // the record cannot keep; true when the mail was held and the boxes emptied.
    bool hold(bool askFirst);
    // Fills the list; false when the file could not be read (already told).
    bool list();
    // A press on a row of the list.
    void pick();
    // What this window cannot send of a held mail it loads, told after the
    // load (empty: nothing).
    void setNotSent(std::function<QString(const HeldMail &)> notSent) { m_notSent = std::move(notSent); }
    // 削除 of the selected held mail; declined, everything stays. True when one was deleted.
    bool removeSelected();
    // Before the window closes: true when it may (nothing at risk, held, or discarded).
    bool mayClose();

    // 1-based record of the selected row, or -1.
    int selectedRecord() const;
    // 1-based record of a row as last listed, 0 for none.
    int recordAt(int row) const { return m_records.value(row); }

private:
    QWidget *m_window;
    AppState &m_state;
    MailFields &m_fields;
    Controls m_controls;
    HeldMailStore m_store;
    ListedFile m_listed;
    QList<int> m_records; // record number of each row
    std::function<QString(const HeldMail &)> m_notSent;
};

} // namespace hollin
