// The received-mail file at its limit: 32767 records (about 1.06 GB).
//   list:   subject, sender and date of every record, as the inbox list takes
//           them, against a raw read of the 280-byte heads (the physical floor);
//   delete: one record in the middle, against cp of the same file and its
//           fsync, each deletion right after its reference; medians.
#include "BenchSupport.h"
#include "storage/MailRecordFile.h"
#include "storage/TextUtil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace hollin;
using namespace hollin::bench;

namespace {

constexpr int Rounds = 3;
constexpr int DeleteRounds = 7;

MailRecord sampleRecord(int n)
{
    static const QString body = QString(u"本日は晴天なり。メールの本文です。\r\n"_s).repeated(300);
    return {u"【お知らせ】第%1回 打ち合わせの件"_s.arg(n),
            u"Mon, 7 Dec 2026 10:%1:00 +0900"_s.arg(n % 60, 2, 10, QChar(u'0')),
            u"山田 太郎 <taro%1@example.jp>"_s.arg(n % 97), body};
}

struct ListRow {
    QString subject, address, date;
};

double listSeconds(const MailRecordFile &file, qsizetype *rows)
{
    QElapsedTimer timer;
    timer.start();
    QList<ListRow> list;
    file.readAllHeads([&](int, const MailRecord &r) {
        list.append({cutAtNul(r.subject), cutAtNul(r.address), cutAtNul(r.date)});
        return true;
    });
    *rows = list.size();
    return timer.nsecsElapsed() / 1e9;
}

// cp of the file; with durable, also its fsync (coreutils "sync FILE"), which a
// deletion pays so that an interruption can never lose a record.
double cpSeconds(const QString &from, const QString &to, bool durable)
{
    QElapsedTimer timer;
    timer.start();
    QProcess::execute(u"cp"_s, {from, to});
    if (durable)
        QProcess::execute(u"sync"_s, {to});
    const double seconds = timer.nsecsElapsed() / 1e9;
    QFile::remove(to);
    ::sync(); // the freed copy's discards belong to no measurement
    return seconds;
}

int threadCount()
{
    return int(QDir(u"/proc/self/task"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

} // namespace

int main()
{
    const auto scratch = scratchFolder();
    if (!scratch)
        return 1;
    const QTemporaryDir &dir = *scratch;
    const QString data = writeFullRecordFile(dir, sampleRecord);
    if (data.isEmpty())
        return 1;
    MailRecordFile file(data, dir.filePath(u"HLMDATA2.TMP"_s));

    double list = 1e9, raw = 1e9;
    qsizetype rows = 0;
    for (int i = 0; i < Rounds; ++i) {
        raw = std::min(raw, rawHeadSeconds(data, MailRecordFile::MaxRecords));
        list = std::min(list, listSeconds(file, &rows));
    }
    if (rows != MailRecordFile::MaxRecords) {
        progress(u"listed %1 rows, expected %2"_s.arg(rows).arg(MailRecordFile::MaxRecords));
        return 1;
    }
    row(u"list 32767 heads vs raw 280-byte reads"_s, list * 1000, raw * 1000, u"ms"_s, 3.0);

    std::vector<double> del, cp, cpDurable;
    for (int i = 0; i < DeleteRounds; ++i) {
        cp.push_back(cpSeconds(data, dir.filePath(u"copy.data"_s), false));
        cpDurable.push_back(cpSeconds(data, dir.filePath(u"copy.data"_s), true));
        const int threads = threadCount();
        QElapsedTimer timer;
        timer.start();
        Error err;
        if (!file.deleteRecord(file.count() / 2, &err)) {
            progress(err.text());
            return 1;
        }
        del.push_back(timer.nsecsElapsed() / 1e9);
        progress(u"round %1: cp %2 s, cp + fsync %3 s, delete %4 s"_s.arg(i + 1).arg(cp.back(), 0, 'f', 2)
                     .arg(cpDurable.back(), 0, 'f', 2).arg(del.back(), 0, 'f', 2));
        // The old file is closed on a thread of its own after the deletion:
        // the next measurement starts when that is done and its space freed.
        while (threadCount() > threads)
            QThread::msleep(10);
        ::sync();
    }
    // A deletion that lasts must wait for the disk, which plain cp does not:
    // the goal is against cp + fsync, and plain cp is shown for comparison.
    row(u"delete 1 record in the middle vs cp"_s, median(del), median(cp), u"s"_s);
    row(u"delete 1 record in the middle vs cp + fsync of the copy"_s, median(del), median(cpDurable), u"s"_s, 1.1);
    return 0;
}
