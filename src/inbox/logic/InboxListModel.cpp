#include "InboxListModel.h"

#include "storage/Cp932.h"
#include "storage/TextUtil.h"

#include <QFile>

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
    beginResetModel();
    m_heads.clear();
    m_rows = 0;
    const int records = MailRecordFile(dataPath, tempPath).count(err);
    bool ok = records >= 0;
    if (ok && records > 0) {
        QFile file(dataPath);
        ok = file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        if (ok) {
            m_heads.resize(qsizetype(records) * HeadSize);
            char *out = m_heads.data();
            for (int n = 0; ok && n < records; ++n) {
                ok = file.seek(qint64(n) * MailRecordFile::RecordSize)
                     && file.read(out + qsizetype(n) * HeadSize, HeadSize) == HeadSize;
            }
        }
        if (ok)
            m_rows = records;
        else {
            m_heads.clear();
            fail(err, u"受信メールのファイルを読み込めませんでした。"_s,
                 dataPath + u": "_s + file.errorString());
        }
    }
    endResetModel();
    return ok;
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
