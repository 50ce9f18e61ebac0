#include "AddressBookFile.h"

#include "Cp932.h"
#include "RecordFile.h"
#include "TextUtil.h"

namespace hollin {

namespace {

constexpr int NameOffset = 0;
constexpr int LineEndOffset = 90;
constexpr int FlagOffset = 92;
constexpr int AddressOffset = 94;

RecordFile fileOf(const QString &dataPath, const QString &tempPath)
{
    return RecordFile(dataPath, tempPath,
                      {AddressBookFile::RecordSize, FlagOffset, AddressBookFile::MaxEntries});
}

} // namespace

AddressBookFile::AddressBookFile(const QString &dataPath, const QString &tempPath)
    : m_dataPath(dataPath), m_tempPath(tempPath)
{
}

int AddressBookFile::count(Error *err) const
{
    return fileOf(m_dataPath, m_tempPath).count(err);
}

bool AddressBookFile::read(int n, AddressEntry *out, Error *err) const
{
    QByteArray bytes;
    if (!fileOf(m_dataPath, m_tempPath).read(n, 0, RecordSize, &bytes, err))
        return false;
    *out = decode(bytes);
    return true;
}

bool AddressBookFile::write(int n, const AddressEntry &entry, Error *err)
{
    return fileOf(m_dataPath, m_tempPath).write(n, encode(entry), err);
}

int AddressBookFile::append(const AddressEntry &entry, Error *err)
{
    return fileOf(m_dataPath, m_tempPath).append(encode(entry), err);
}

bool AddressBookFile::readAll(const std::function<bool(int, const AddressEntry &)> &visit, Error *err) const
{
    return fileOf(m_dataPath, m_tempPath).readEach(0, RecordSize, [&](int n, const QByteArray &bytes) {
        return visit(n, decode(bytes));
    }, err);
}

bool AddressBookFile::deleteEntry(int n, Error *err)
{
    return fileOf(m_dataPath, m_tempPath).compact(n, false, err);
}

bool AddressBookFile::compact(Error *err)
{
    return fileOf(m_dataPath, m_tempPath).compact(std::nullopt, false, err);
}

bool AddressBookFile::recoverInterruptedCompaction(Error *err)
{
    return fileOf(m_dataPath, m_tempPath).recover(err);
}

QByteArray AddressBookFile::encode(const AddressEntry &entry, qint16 liveFlag)
{
    QByteArray bytes(RecordSize, ' ');
    bytes.replace(NameOffset, NameWidth, Cp932::encodeField(entry.name, NameWidth));
    bytes[LineEndOffset] = '\r';
    bytes[LineEndOffset + 1] = '\n';
    RecordFile::putFlag(bytes.data() + FlagOffset, liveFlag);
    bytes.replace(AddressOffset, AddressWidth, Cp932::encodeField(entry.address, AddressWidth));
    return bytes;
}

AddressEntry AddressBookFile::decode(const QByteArray &bytes)
{
    Q_ASSERT(bytes.size() >= RecordSize);
    return {Cp932::decodeField(bytes.constData() + NameOffset, NameWidth),
            Cp932::decodeField(bytes.constData() + AddressOffset, AddressWidth)};
}

QString AddressBookFile::businessCardForm(const QString &card, const QString &address)
{
    return card + u'<' + trimSpaces(address) + u'>';
}

} // namespace hollin
