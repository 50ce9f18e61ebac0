#pragma once

#include <QAbstractProxyModel>
#include <QList>

namespace hollin {

// The inbox list while a search runs: only the rows of the records found so
// far, in record order; all rows again when the search is cleared. The source
// model's row k is record k + 1, and mapToSource gives it back, so every
// command acts on the record the user clicked. A reset of the source (a refill
// after a deletion) empties the found rows: their record numbers are stale.
class SearchFilterModel : public QAbstractProxyModel {
    Q_OBJECT
public:
    explicit SearchFilterModel(QObject *parent = nullptr);

    void setSourceModel(QAbstractItemModel *source) override;

    // A new search: no row until records are found.
    void startFiltering();
    // Records found (1-based, increasing, each after those added before).
    void addRecords(const QList<int> &records);
    // Every row again.
    void stopFiltering();
    bool isFiltering() const { return m_filtering; }

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QModelIndex mapToSource(const QModelIndex &proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex &sourceIndex) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    bool m_filtering = false;
    QList<int> m_sourceRows; // while filtering: the source row of each row
};

} // namespace hollin
