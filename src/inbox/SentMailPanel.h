#pragma once

#include "compose/logic/SentCopy.h"
#include "storage/Error.h"

#include <QWidget>

class QPushButton;
class QStandardItemModel;
class QTableView;

namespace hollin {

// The 送信済み view of the inbox window: the kept copies of sent mail in
// SentList (宛先, 件名, 送信日時; the newest first) and ResendCommand
// (再送信), which asks to send the selected copy again.
class SentMailPanel : public QWidget {
    Q_OBJECT
public:
    SentMailPanel(const QString &sentFile, QWidget *parent = nullptr);

    // Reads the sent-mail file again; the list empties and err tells why when it cannot.
    bool reload(Error *err);

signals:
    void copySelected(const hollin::SentCopy &copy);
    void resendRequested(const hollin::SentCopy &copy);

private:
    // The copy of the selected row, or null.
    const SentCopy *selected() const;

    QString m_sentFile;
    QList<SentCopy> m_copies; // oldest first, as in the file
    QStandardItemModel *m_model;
    QTableView *m_list;
    QPushButton *m_resend;
};

} // namespace hollin
