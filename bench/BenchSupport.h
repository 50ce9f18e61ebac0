#pragma once

// What every benchmark shares: its progress lines on stderr, its row of the
// table that bench/run.sh prints, a record file made for measuring, the floor
// of reading every head, and the mail that the receive benchmarks fetch.

#include "TestMailServers.h"
#include "storage/MailRecordFile.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>
#include <algorithm>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

namespace hollin::bench {

inline void progress(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
}

// One row: what, Hollin's figure, the reference's, their ratio and the goal.
// A goal of 0: the row is there to compare with, and has no goal.
inline void row(const QString &what, double hollin, double reference, const QString &unit, double goal = 0)
{
    const double ratio = reference > 0 ? hollin / reference : 0;
    const QByteArray verdict = goal <= 0 ? QByteArray("—")
                                         : QByteArray("≤ ") + QByteArray::number(goal, 'f', 1)
                                             + (ratio <= goal ? "" : " MISSED");
    std::printf("| %s | %.3f %s | %.3f %s | %.2f | %s |\n", what.toUtf8().constData(), hollin,
                unit.toUtf8().constData(), reference, unit.toUtf8().constData(), ratio, verdict.constData());
}

// A record file of `records` records made by makeRecord(n).
inline bool writeRecordFile(const QString &path, int records, const std::function<MailRecord(int)> &makeRecord)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (int n = 1; n <= records; ++n) {
        if (file.write(MailRecordFile::encode(makeRecord(n))) != MailRecordFile::RecordSize)
            return false;
    }
    return file.flush();
}

// The physical floor of a list: one pread of the 280-byte head of every record.
inline double rawHeadSeconds(const QString &path, int records)
{
    QElapsedTimer timer;
    timer.start();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    char head[MailRecordFile::HeadSize];
    long sum = 0;
    for (int n = 0; n < records; ++n) {
        if (::pread(fd, head, sizeof head, qint64(n) * MailRecordFile::RecordSize) == sizeof head)
            sum += head[0];
    }
    ::close(fd);
    const double seconds = timer.nsecsElapsed() / 1e9;
    return sum == -1 ? 0 : seconds; // keeps the reads from being optimised away
}

// About 10 KB, numbered n: an ISO-2022-JP text part and a small attachment,
// or (plain) a single ISO-2022-JP text of the same size.
inline QByteArray sampleMessage(int n, bool withAttachment = true)
{
    QByteArray text;
    for (int i = 0; i < (withAttachment ? 60 : 150); ++i)
        text += "\x1b$B$3$l$O<u?.$NB.$5$r7W$k$?$a$N%a!<%k$G$9!#\x1b(B line " + QByteArray::number(i) + "\r\n";
    const QByteArray head = "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>\r\nTo: alice@example.jp\r\n"
                            "Subject: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?= " + QByteArray::number(n)
        + "\r\nDate: Mon, 7 Dec 2026 09:00:00 +0900\r\nMIME-Version: 1.0\r\n";
    if (!withAttachment)
        return head + "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" + text;
    const QByteArray file = QByteArray(3000, char('A' + n % 26)).toBase64();
    QByteArray wrapped;
    for (qsizetype i = 0; i < file.size(); i += 76)
        wrapped += file.mid(i, 76) + "\r\n";
    return head + "Content-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n"
                  "--BB\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
        + text + "--BB\r\nContent-Type: application/octet-stream\r\n"
                 "Content-Disposition: attachment; filename=\"file" + QByteArray::number(n) + ".bin\"\r\n"
                 "Content-Transfer-Encoding: base64\r\n\r\n" + wrapped + "--BB--\r\n";
}

// Starts the test servers' Dovecot alone (no SMTP); false after saying why.
inline bool startPop3Server(TestMailServers &servers)
{
    TestMailServers::Options options;
    options.smtp = false;
    QString error;
    if (servers.start(options, &error))
        return true;
    progress(QStringLiteral("cannot start Dovecot: ") + error);
    return false;
}

// Puts sampleMessage(1) … sampleMessage(count) into the test servers' mailbox.
inline bool fillMailbox(TestMailServers &servers, int count, bool withAttachment = true)
{
    for (int n = 1; n <= count; ++n) {
        if (!servers.deliver(sampleMessage(n, withAttachment)))
            return false;
    }
    return true;
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A scratch folder under $HOLLIN_BENCH_DIR, else under /var/tmp; null (and
// said) on failure. Not /tmp: it may be a tmpfs, where a flush costs nothing.
inline std::unique_ptr<QTemporaryDir> scratchFolder()
{
    QString base = qEnvironmentVariable("HOLLIN_BENCH_DIR");
    if (base.isEmpty())
        base = QStringLiteral("/var/tmp");
    auto dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/hollin-bench-XXXXXX"));
    if (dir->isValid())
        return dir;
    progress(QStringLiteral("cannot create a scratch folder"));
    return nullptr;
}

// "hlmdata2.data" in dir, full to the last record, made by makeRecord(n);
// its path, or empty (and said) on failure.
inline QString writeFullRecordFile(const QTemporaryDir &dir, const std::function<MailRecord(int)> &makeRecord)
{
    const QString data = dir.filePath(QStringLiteral("hlmdata2.data"));
    progress(QStringLiteral("building %1 records in %2 …").arg(MailRecordFile::MaxRecords).arg(data));
    if (writeRecordFile(data, MailRecordFile::MaxRecords, makeRecord))
        return data;
    progress(QStringLiteral("cannot write %1").arg(data));
    return {};
}

} // namespace hollin::bench
