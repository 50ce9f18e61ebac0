#pragma once

#include "Error.h"

#include <QString>
#include <functional>

namespace hollin {

// One address-book entry. Byte layout (184 bytes, records back to back, 1-based):
//   0   90  EntryName     CP932, space padded
//   90   2  CR LF
//   92   2  LiveFlag      int16 little-endian
//   94  90  EntryAddress  CP932, space padded ("card<addr>" in business-card form)
struct AddressEntry {
    QString name;
    QString address;
};

class AddressBookFile {
public:
    static constexpr int RecordSize = 184;
    static constexpr int NameWidth = 90;
    static constexpr int AddressWidth = 90;
    static constexpr int MaxEntries = 32766;

    AddressBookFile(const QString &dataPath, const QString &tempPath);

    QString path() const { return m_dataPath; }

    int count(Error *err = nullptr) const;
    bool read(int n, AddressEntry *out, Error *err = nullptr) const; // full width
    bool write(int n, const AddressEntry &entry, Error *err = nullptr);
    int append(const AddressEntry &entry, Error *err = nullptr);     // -1 when full or failed
    bool readAll(const std::function<bool(int, const AddressEntry &)> &visit, Error *err = nullptr) const;
    bool deleteEntry(int n, Error *err = nullptr);
    // Rewrites the file with its live records in order (what a declined deletion does).
    bool compact(Error *err = nullptr);
    bool recoverInterruptedCompaction(Error *err = nullptr);

    static QByteArray encode(const AddressEntry &entry, qint16 liveFlag = 1);
    static AddressEntry decode(const QByteArray &bytes);

    // "card<address>": the card name as typed, the address trimmed.
    static QString businessCardForm(const QString &card, const QString &address);

private:
    QString m_dataPath;
    QString m_tempPath;
};

} // namespace hollin
