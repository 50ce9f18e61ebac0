#include "SearchFilterModel.h"

#include <algorithm>

namespace hollin {

SearchFilterModel::SearchFilterModel(QObject *parent) : QAbstractProxyModel(parent) {}

void SearchFilterModel::setSourceModel(QAbstractItemModel *source)
{
    beginResetModel();
    if (sourceModel())
        sourceModel()->disconnect(this);
    QAbstractProxyModel::setSourceModel(source);
    m_sourceRows.clear();
    connect(source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
    connect(source, &QAbstractItemModel::modelReset, this, [this] {
        m_sourceRows.clear();
        endResetModel();
    });
    endResetModel();
}

void SearchFilterModel::startFiltering()
{
    beginResetModel();
    m_filtering = true;
    m_sourceRows.clear();
    endResetModel();
}

void SearchFilterModel::addRecords(const QList<int> &records)
{
    if (!m_filtering || records.isEmpty())
        return;
    const int sourceRows = sourceModel() ? sourceModel()->rowCount() : 0;
    QList<int> rows;
    int last = m_sourceRows.isEmpty() ? -1 : m_sourceRows.last();
    for (const int n : records) {
        if (n - 1 > last && n <= sourceRows)
            rows << (last = n - 1);
    }
    if (rows.isEmpty())
        return;
    const int first = int(m_sourceRows.size());
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    m_sourceRows += rows;
    endInsertRows();
}

void SearchFilterModel::stopFiltering()
{
    beginResetModel();
    m_filtering = false;
    m_sourceRows.clear();
    endResetModel();
}

QModelIndex SearchFilterModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QModelIndex SearchFilterModel::parent(const QModelIndex &) const
{
    return {};
}

int SearchFilterModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !sourceModel())
        return 0;
    return m_filtering ? int(m_sourceRows.size()) : sourceModel()->rowCount();
}

int SearchFilterModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() || !sourceModel() ? 0 : sourceModel()->columnCount();
}

QModelIndex SearchFilterModel::mapToSource(const QModelIndex &proxyIndex) const
{
    if (!proxyIndex.isValid() || !sourceModel())
        return {};
    const int row = m_filtering ? m_sourceRows.value(proxyIndex.row(), -1) : proxyIndex.row();
    return sourceModel()->index(row, proxyIndex.column());
}

QModelIndex SearchFilterModel::mapFromSource(const QModelIndex &sourceIndex) const
{
    if (!sourceIndex.isValid())
        return {};
    if (!m_filtering)
        return index(sourceIndex.row(), sourceIndex.column());
    const auto at = std::lower_bound(m_sourceRows.cbegin(), m_sourceRows.cend(), sourceIndex.row());
    if (at == m_sourceRows.cend() || *at != sourceIndex.row())
        return {};
    return index(int(at - m_sourceRows.cbegin()), sourceIndex.column());
}

QVariant SearchFilterModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    // Column headers stay while no row is found; row headers are record numbers.
    if (orientation == Qt::Vertical && m_filtering)
        section = m_sourceRows.value(section, -1);
    return sourceModel() ? sourceModel()->headerData(section, orientation, role) : QVariant();
}

} // namespace hollin
