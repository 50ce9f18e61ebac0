// Opening the inbox at the file's limit: the list model over 32767 records
// (about 1.06 GB) against a raw read of their 280-byte heads. The model keeps
// the heads only, so its memory is 280 bytes a row.
#include "BenchSupport.h"
#include "inbox/logic/InboxListModel.h"
#include "storage/MailRecordFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace hollin;
using namespace hollin::bench;

namespace {

constexpr int Rounds = 3;

MailRecord sampleRecord(int n)
{
    static const QString body = QString(u"受信したメールの本文です。\r\n"_s).repeated(400);
    return {u"【受信】第%1号 ご案内"_s.arg(n), u"Mon, 7 Dec 2026 09:00:00 +0900"_s,
            u"差出人 %1 <from%1@example.jp>"_s.arg(n % 101), body};
}

// Resident memory now, in kB.
long rssKb()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
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
    const QString temp = dir.filePath(u"HLMDATA2.TMP"_s);

    // Memory first, before anything else of this size was allocated and freed.
    const long rssBefore = rssKb();
    InboxListModel kept;
    kept.load(data, temp);
    const double grownMb = double(rssKb() - rssBefore) / 1024;

    double open = 1e9, raw = 1e9;
    for (int i = 0; i < Rounds; ++i) {
        raw = std::min(raw, rawHeadSeconds(data, MailRecordFile::MaxRecords));
        QElapsedTimer timer;
        timer.start();
        InboxListModel model;
        Error err;
        if (!model.load(data, temp, &err) || model.rowCount() != MailRecordFile::MaxRecords) {
            progress(u"the list has %1 rows: %2"_s.arg(model.rowCount()).arg(err.text()));
            return 1;
        }
        // What the window shows at once: the first screenful of rows and the last mail.
        for (int r = 0; r < 40; ++r)
            for (int c = 0; c < 3; ++c)
                model.data(model.index(r, c));
        MailRecord last;
        MailRecordFile(data, temp).read(model.rowCount(), &last);
        open = std::min(open, timer.nsecsElapsed() / 1e9);
    }
    // A cold cache (the file's pages dropped): the heads read in one pass with
    // those ahead asked for, against plain reads of each head in turn.
    auto dropCache = [&data] {
        const int fd = ::open(QFile::encodeName(data).constData(), O_RDONLY);
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    };
    dropCache();
    const double rawCold = rawHeadSeconds(data, MailRecordFile::MaxRecords);
    dropCache();
    QElapsedTimer cold;
    cold.start();
    InboxListModel coldModel;
    coldModel.load(data, temp);
    const double openCold = cold.nsecsElapsed() / 1e9;
    row(u"inbox open on 32767 records, cold cache, vs plain head reads"_s, openCold * 1000, rawCold * 1000, u"ms"_s,
        0.5);

    const double headsMb = double(MailRecordFile::MaxRecords) * MailRecordFile::HeadSize / (1 << 20);
    row(u"inbox open on 32767 records vs raw head reads"_s, open * 1000, raw * 1000, u"ms"_s, 5.0);
    row(u"inbox open memory growth vs the heads' size"_s, grownMb, headsMb, u"MB"_s, 2.0);
    return 0;
}
