// Search of the received-mail file at its limit: 32767 records (about 1.06 GB),
// page-cached, against grep -c -F of the word's CP932 bytes over the same
// file, each round of Hollin right after a round of grep; medians.
//   a Japanese word found in a few hundred records;
//   a Japanese word found nowhere.
#include "BenchSupport.h"
#include "storage/Cp932.h"
#include "storage/MailSearch.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;
using namespace hollin;
using namespace hollin::bench;

namespace {

constexpr int Rounds = 7;
constexpr int HitEvery = 100; // records holding the found word

// Mail-like text: Japanese sentences with katakana, half-width katakana and
// ASCII, a different mix and length in each record.
MailRecord sampleRecord(int n)
{
    static const QString sentences[] = {
        u"いつもお世話になっております。株式会社ホリンの山田です。\r\n"_s,
        u"先日ご依頼いただいたサンプルの件、本日発送いたしました。\r\n"_s,
        u"ﾒｰﾙの設定はｻｰﾊﾞｰ管理画面から変更できます。\r\n"_s,
        u"Please find the attached file (report_2026.pdf) for details.\r\n"_s,
        u"来週の打ち合わせは、会議室Ｂで午後３時からを予定しております。\r\n"_s,
        u"ご不明な点がございましたら、お気軽にお問い合わせください。\r\n"_s,
        u"URL: https://www.example.jp/support/faq?id=12345\r\n"_s,
        u"以上、よろしくお願いいたします。\r\n\r\n"_s,
    };
    QString body;
    const int lines = 40 + (n * 37) % 300;
    for (int i = 0; i < lines; ++i) {
        body += sentences[(n + i * 3) % std::size(sentences)];
        if (n % HitEvery == 0 && i == (n / HitEvery) % lines)
            body += u"お見積書を添付いたします。\r\n"_s;
    }
    return {u"【ご連絡】第%1回 打ち合わせの件"_s.arg(n),
            u"Mon, 7 Dec 2026 10:%1:00 +0900"_s.arg(n % 60, 2, 10, QChar(u'0')),
            u"山田 太郎 <taro%1@example.jp>"_s.arg(n % 97), body};
}

double grepSeconds(const QString &patternFile, const QString &data, int *lines)
{
    QProcess grep;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"LC_ALL"_s, u"C"_s);
    grep.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    grep.start(u"grep"_s, {u"-c"_s, u"-F"_s, u"-f"_s, patternFile, data});
    grep.waitForFinished(-1);
    const double seconds = timer.nsecsElapsed() / 1e9;
    *lines = grep.readAllStandardOutput().trimmed().toInt();
    return seconds;
}

double searchSeconds(const QString &word, const QString &data, int *hits)
{
    QElapsedTimer timer;
    timer.start();
    int found = 0;
    MailSearch(word).run(data, [&](int, const MailRecord &) { ++found; });
    const double seconds = timer.nsecsElapsed() / 1e9;
    *hits = found;
    return seconds;
}

bool measure(const QString &what, const QString &word, const QTemporaryDir &dir, const QString &data)
{
    const QString patternFile = dir.filePath(u"pattern"_s);
    QFile pattern(patternFile);
    if (!pattern.open(QIODevice::WriteOnly) || pattern.write(Cp932::encode(word) + '\n') < 0)
        return false;
    pattern.close();
    std::vector<double> hollin, grep;
    int hits = 0, lines = 0;
    for (int i = 0; i < Rounds; ++i) {
        grep.push_back(grepSeconds(patternFile, data, &lines));
        hollin.push_back(searchSeconds(word, data, &hits));
    }
    progress(u"%1: %2 records found, grep counts %3 lines"_s.arg(word).arg(hits).arg(lines));
    row(what.arg(hits), median(hollin) * 1000, median(grep) * 1000, u"ms"_s, 1.5);
    return true;
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
    int ignored = 0;
    searchSeconds(u"見積書"_s, data, &ignored); // into the page cache
    if (!measure(u"search 32767 records, word in %1, vs grep -c -F"_s, u"見積書"_s, dir, data)
        || !measure(u"search 32767 records, word in %1, vs grep -c -F"_s, u"雪だるま"_s, dir, data))
        return 1;
    return 0;
}
