#pragma once

#include "storage/Error.h"
#include "storage/MailRecordFile.h"

#include <QAbstractTableModel>
#include <QByteArray>

namespace hollin {

// The inbox list: one row per record of the received-mail file, in record
// order (row k, 0-based, is record k + 1), columns "Subject", "From", "Date".
// Only the 280-byte heads are read; a cell is decoded when it is shown, cut
// at its first NUL and without its trailing space padding.
class InboxListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { SubjectColumn = 0, FromColumn = 1, DateColumn = 2 };

    explicit InboxListModel(QObject *parent = nullptr);

    // Rereads every head of the file (a missing file is created empty); on a
    // failure the list is empty.
    bool load(const QString &dataPath, const QString &tempPath, Error *err = nullptr);
    // load() in two steps, the first of which may run on any thread: every
    // head of the file, in record order, then the list made of them.
    static bool readHeads(const QString &dataPath, const QString &tempPath, QByteArray *heads, Error *err);
    void setHeads(const QByteArray &heads);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The field of row (0-based) as the row shows it.
    QString cell(int row, int column) const;

private:
    static bool readHeads(const QString &dataPath, int records, char *out, Error *err);

    QByteArray m_heads; // rowCount × HeadSize bytes
    int m_rows = 0;
};

} // namespace hollin
