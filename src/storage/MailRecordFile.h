#pragma once

#include "Error.h"

#include <QString>
#include <functional>

namespace hollin {

// One stored mail. Byte layout of a record (32284 bytes, records back to back,
// record n at (n-1)*32284, 1-based):
//   0     100  Subject   CP932, space padded
//   100    90  Date      CP932, space padded
//   190    90  Address   CP932, space padded (sender; recipient in the held-mail file)
//   280 32000  Body      CP932, space padded
//   32280   2  CR LF
//   32282   2  LiveFlag  int16 little-endian, 1 = live, 0 = marked for removal
// Texts read back have their full field width (padding included); callers trim
// or cut at NUL as each reader needs.
struct MailRecord {
    QString subject;
    QString date;
    QString address;
    QString body;
};

// What a write had to change to make the texts fit.
struct FieldFit {
    bool replaced = false;  // some character had no CP932 form and became "?"
    bool cut = false;       // the text was longer than its field
};
struct MailRecordFit {
    FieldFit subject, date, address, body;
};

class MailRecordFile {
public:
    static constexpr int RecordSize = 32284;
    static constexpr int HeadSize = 280; // Subject + Date + Address
    static constexpr int SubjectWidth = 100;
    static constexpr int DateWidth = 90;
    static constexpr int AddressWidth = 90;
    static constexpr int BodyWidth = 32000;
    static constexpr int MaxRecords = 32767;

    // dataPath: the record file; tempPath: its temporary used while compacting
    // (HLMDATA2.TMP beside hlmdata2.data). Neither file is held open.
    MailRecordFile(const QString &dataPath, const QString &tempPath);

    QString path() const { return m_dataPath; }

    // Whole records in the file (a partial tail is ignored). Creates a missing file empty.
    int count(Error *err = nullptr) const;

    // Record n (1-based), every field at full width.
    bool read(int n, MailRecord *out, Error *err = nullptr) const;
    // Subject, Date and Address of record n only (the 280-byte head); body left empty.
    bool readHead(int n, MailRecord *out, Error *err = nullptr) const;

    // Writes record n (n = count + 1 extends the file), LiveFlag 1, flushed to disk.
    bool write(int n, const MailRecord &record, Error *err = nullptr, MailRecordFit *fit = nullptr);
    // Writes at count + 1 and returns that number, or -1 (file full: 32767 records).
    int append(const MailRecord &record, Error *err = nullptr, MailRecordFit *fit = nullptr);

    // Records 1, 2, 3 … in order; the visitor returns false to stop early.
    bool readAll(const std::function<bool(int, const MailRecord &)> &visit, Error *err = nullptr) const;
    // Heads only (body empty), in order, for lists.
    bool readAllHeads(const std::function<bool(int, const MailRecord &)> &visit, Error *err = nullptr) const;

    // Removes record n; later records move down by one. Safe against interruption:
    // the kept records go to the temporary file, which is flushed and renamed over the data file.
    bool deleteRecord(int n, Error *err = nullptr);
    // Leaves an existing, empty data file.
    bool deleteAll(Error *err = nullptr);

    // Before a write: a temporary file left by an interrupted compaction is restored
    // when it holds more records than the data file (which is kept beside it under a
    // new name), otherwise removed. Writes do this themselves; readers never do.
    bool recoverInterruptedCompaction(Error *err = nullptr);
    // Bytes after the last whole record are moved into a file beside this one
    // (the user is told once); appends and deletions do this themselves.
    bool setAsidePartialTail(Error *err = nullptr);

    // Builds the 32284 bytes of a record.
    static QByteArray encode(const MailRecord &record, qint16 liveFlag = 1, MailRecordFit *fit = nullptr);
    static MailRecord decode(const QByteArray &bytes);

private:
    QString m_dataPath;
    QString m_tempPath;
};

} // namespace hollin
