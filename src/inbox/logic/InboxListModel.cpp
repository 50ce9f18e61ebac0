#include "InboxListModel.h"

#include "storage/Cp932.h"
#include "storage/TextUtil.h"

#include "storage/FileIo.h"

#include <fcntl.h>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {
constexpr int HeadSize = MailRecordFile::HeadSize;
constexpr int Offsets[] = {0, MailRecordFile::SubjectWidth + MailRecordFile::DateWidth,
                           MailRecordFile::SubjectWidth};
constexpr int Widths[] = {MailRecordFile::SubjectWidth, MailRecordFile::AddressWidth,
                          MailRecordFile::DateWidth};
} // namespace

InboxListModel::InboxListModel(QObject *parent) : QAbstractTableModel(parent) {}

bool InboxListModel::load(const QString &dataPath, const QString &tempPath, Error *err)
{
    QByteArray heads;
    const bool ok = readHeads(dataPath, tempPath, &heads, err);
    setHeads(heads);
    return ok;
}

bool InboxListModel::readHeads(const QString &dataPath, const QString &tempPath, QByteArray *heads, Error *err)
{
    heads->clear();
    const int records = MailRecordFile(dataPath, tempPath).count(err);
    if (records < 0)
        return false;
    if (records == 0)
        return true;
    heads->resize(qsizetype(records) * HeadSize);
    if (readHeads(dataPath, records, heads->data(), err))
        return true;
    heads->clear();
    return false;
}

void InboxListModel::setHeads(const QByteArray &heads)
{
    beginResetModel();
    m_heads = heads;
    m_rows = int(heads.size() / HeadSize);
    endResetModel();
}

// One pass in record order. The heads lie a record (32 KB) apart, so the
// kernel's own read-ahead would fetch the bodies too: it is off, and the
// heads a little ahead of the one read are asked for instead, so that a cold
// disk has many of them under way at once.
bool InboxListModel::readHeads(const QString &dataPath, int records, char *out, Error *err)
{
    fileio::Fd fd = fileio::openOrCreate(dataPath, false, err);
    if (!fd.isOpen())
        return false;
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_RANDOM);
    constexpr int Ahead = 1024; // heads asked for ahead of the one read
    int asked = 0;
    for (int n = 0; n < records; ++n) {
        for (; asked < records && asked < n + Ahead; ++asked)
            ::posix_fadvise(fd.get(), qint64(asked) * MailRecordFile::RecordSize, HeadSize, POSIX_FADV_WILLNEED);
        if (!fileio::readAt(fd.get(), out + qsizetype(n) * HeadSize, HeadSize, qint64(n) * MailRecordFile::RecordSize,
                            dataPath, err))
            return false;
    }
    return true;
}

int InboxListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int InboxListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 3;
}

QString InboxListModel::cell(int row, int column) const
{
    if (row < 0 || row >= m_rows || column < 0 || column > 2)
        return {};
    const qsizetype at = qsizetype(row) * HeadSize + Offsets[column];
    // The stored bytes keep their space padding; the row does not show it.
    return trimTrailingSpaces(cutAtNul(Cp932::decode(QByteArray::fromRawData(m_heads.constData() + at, Widths[column]))));
}

QVariant InboxListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    return cell(index.row(), index.column());
}

QVariant InboxListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    static const QString names[] = {u"Subject"_s, u"From"_s, u"Date"_s};
    return section >= 0 && section < 3 ? QVariant(names[section]) : QVariant();
}

} // namespace hollin
