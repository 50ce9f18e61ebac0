#include "MailRecordFile.h"

#include "Cp932.h"
#include "DataRoot.h"
#include "RecordFile.h"

#include <cstring>

namespace hollin {

namespace {

constexpr int SubjectOffset = 0;
constexpr int DateOffset = 100;
constexpr int AddressOffset = 190;
constexpr int BodyOffset = 280;
constexpr int LineEndOffset = 32280;
constexpr int FlagOffset = 32282;

RecordFile fileOf(const QString &dataPath, const QString &tempPath)
{
    RecordFile file(dataPath, tempPath, {MailRecordFile::RecordSize, FlagOffset, MailRecordFile::MaxRecords});
    file.setPendingLists(DataRoot::pendingListsOf(dataPath));
    return file;
}

// The record comes filled with spaces, which pad the field.
void putField(QByteArray *record, int offset, const QString &text, int width, FieldFit *fit)
{
    const QByteArray bytes = Cp932::encodeCut(text, width, &fit->replaced, &fit->cut);
    std::memcpy(record->data() + offset, bytes.constData(), size_t(bytes.size()));
}

MailRecord decodeHead(const char *bytes)
{
    MailRecord record;
    record.subject = Cp932::decodeField(bytes + SubjectOffset, MailRecordFile::SubjectWidth);
    record.date = Cp932::decodeField(bytes + DateOffset, MailRecordFile::DateWidth);
    record.address = Cp932::decodeField(bytes + AddressOffset, MailRecordFile::AddressWidth);
    return record;
}

} // namespace

MailRecordFile::MailRecordFile(const QString &dataPath, const QString &tempPath)
    : m_dataPath(dataPath), m_tempPath(tempPath)
{
}

int MailRecordFile::count(Error *err) const
{
    return fileOf(m_dataPath, m_tempPath).count(err);
}

bool MailRecordFile::read(int n, MailRecord *out, Error *err) const
{
    QByteArray bytes;
    if (!fileOf(m_dataPath, m_tempPath).read(n, 0, RecordSize, &bytes, err))
        return false;
    *out = decode(bytes);
    return true;
}

bool MailRecordFile::readHead(int n, MailRecord *out, Error *err) const
{
    QByteArray bytes;
    if (!fileOf(m_dataPath, m_tempPath).read(n, 0, HeadSize, &bytes, err))
        return false;
    *out = decodeHead(bytes.constData());
    return true;
}

bool MailRecordFile::write(int n, const MailRecord &record, Error *err, MailRecordFit *fit)
{
    return fileOf(m_dataPath, m_tempPath).write(n, encode(record, 1, fit), err);
}

int MailRecordFile::append(const MailRecord &record, Error *err, MailRecordFit *fit)
{
    return fileOf(m_dataPath, m_tempPath).append(encode(record, 1, fit), err);
}

bool MailRecordFile::readAll(const std::function<bool(int, const MailRecord &)> &visit, Error *err) const
{
    return fileOf(m_dataPath, m_tempPath).readEach(0, RecordSize, [&](int n, const QByteArray &bytes) {
        return visit(n, decode(bytes));
    }, err);
}

bool MailRecordFile::readAllHeads(const std::function<bool(int, const MailRecord &)> &visit, Error *err) const
{
    return fileOf(m_dataPath, m_tempPath).readEach(0, HeadSize, [&](int n, const QByteArray &bytes) {
        return visit(n, decodeHead(bytes.constData()));
    }, err);
}

bool MailRecordFile::deleteRecord(int n, Error *err)
{
    return fileOf(m_dataPath, m_tempPath).compact(n, false, err);
}

bool MailRecordFile::deleteAll(Error *err)
{
    return fileOf(m_dataPath, m_tempPath).compact(std::nullopt, true, err);
}

bool MailRecordFile::recoverInterruptedCompaction(Error *err)
{
    return fileOf(m_dataPath, m_tempPath).recover(err);
}

bool MailRecordFile::setAsidePartialTail(Error *err)
{
    return fileOf(m_dataPath, m_tempPath).setAsidePartialTail(err);
}

QByteArray MailRecordFile::encode(const MailRecord &record, qint16 liveFlag, MailRecordFit *fit)
{
    MailRecordFit local;
    MailRecordFit &f = fit ? *fit : local;
    QByteArray bytes(RecordSize, ' ');
    putField(&bytes, SubjectOffset, record.subject, SubjectWidth, &f.subject);
    putField(&bytes, DateOffset, record.date, DateWidth, &f.date);
    putField(&bytes, AddressOffset, record.address, AddressWidth, &f.address);
    putField(&bytes, BodyOffset, record.body, BodyWidth, &f.body);
    bytes[LineEndOffset] = '\r';
    bytes[LineEndOffset + 1] = '\n';
    RecordFile::putFlag(bytes.data() + FlagOffset, liveFlag);
    return bytes;
}

MailRecord MailRecordFile::decode(const QByteArray &bytes)
{
    Q_ASSERT(bytes.size() >= RecordSize);
    MailRecord record = decodeHead(bytes.constData());
    record.body = Cp932::decodeField(bytes.constData() + BodyOffset, BodyWidth);
    return record;
}

} // namespace hollin
