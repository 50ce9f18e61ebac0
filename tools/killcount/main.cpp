// Kill-and-count: fills a real Dovecot POP3 mailbox with mails that carry a
// unique id in their subject, runs "hollin-cli receive" and kills it with
// SIGKILL at random moments (then receives again until the mailbox is
// empty), and counts the mails lost and stored twice.
//
//     hollin-killcount --cli build/src/cli/hollin-cli --trials 20 --mails 300
//
// Prints one line per trial and at the end "trials, lost, duplicated".
#include "TestMailServers.h"

#include "storage/DataRoot.h"
#include "storage/MailRecordFile.h"
#include "storage/ProfileFile.h"
#include "storage/ServerSettings.h"
#include "storage/TextUtil.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

QString idOf(int trial, int i)
{
    return u"kc-%1-%2"_s.arg(trial).arg(i);
}

QByteArray mail(const QString &id)
{
    return "From: Sender <sender@example.jp>\r\nTo: alice@example.jp\r\nSubject: " + id.toLatin1()
           + "\r\nDate: Mon, 7 Dec 2026 09:00:00 +0900\r\nMessage-ID: <" + id.toLatin1()
           + "@example.jp>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=US-ASCII\r\n\r\n"
           + QByteArray(4000, 'x') + "\r\n";
}

// Runs one receive; kills it after killAfterMs (< 0: lets it finish).
// True when it ran to its end by itself.
bool receive(const QString &cli, const QString &root, int killAfterMs)
{
    QProcess p;
    p.setStandardErrorFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(cli, {u"--root"_s, root, u"receive"_s, u"--allow-plain"_s});
    if (!p.waitForStarted())
        return false;
    if (killAfterMs >= 0 && !p.waitForFinished(killAfterMs)) {
        p.kill(); // SIGKILL
        p.waitForFinished();
        return false;
    }
    p.waitForFinished(600000);
    return p.exitStatus() == QProcess::NormalExit;
}

bool prepareRoot(const QString &folder, const TestMailServers &servers)
{
    DataRoot root(folder);
    ServerSettings settings;
    settings.pop3Server = servers.pop3Server();
    ProfileFile account(root.idPassIniFile(), true);
    return root.ensureTree() && settings.write(root.serverSettingsFile())
        && account.writeText(u"NAME"_s, servers.user()) && account.writeText(u"NAME2"_s, servers.password());
}

QHash<QString, int> storedIds(const QString &folder)
{
    const DataRoot root(folder);
    QHash<QString, int> ids;
    MailRecordFile(root.receivedMailFile(), root.receivedMailTemp()).readAllHeads([&](int, const MailRecord &r) {
        ++ids[trimSpaces(r.subject)];
        return true;
    });
    return ids;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Kills hollin-cli receive at random moments and counts lost and duplicated mail"_s);
    parser.addHelpOption();
    parser.addOption({u"cli"_s, u"path of hollin-cli"_s, u"path"_s});
    parser.addOption({u"trials"_s, u"number of trials"_s, u"n"_s, u"20"_s});
    parser.addOption({u"mails"_s, u"mails per trial"_s, u"n"_s, u"300"_s});
    parser.addOption({u"kills"_s, u"kills per trial before the receive may end"_s, u"n"_s, u"3"_s});
    parser.addOption({u"seed"_s, u"random seed"_s, u"n"_s, u"1"_s});
    parser.process(app);
    const QString cli = parser.value(u"cli"_s);
    const int trials = parser.value(u"trials"_s).toInt();
    const int mails = parser.value(u"mails"_s).toInt();
    const int kills = parser.value(u"kills"_s).toInt();
    QRandomGenerator random(parser.value(u"seed"_s).toUInt());
    if (cli.isEmpty() || trials < 1 || mails < 1) {
        std::fprintf(stderr, "killcount: --cli is required, --trials and --mails at least 1\n");
        return 2;
    }

    TestMailServers servers;
    TestMailServers::Options options;
    options.smtp = false;
    QString error;
    if (!servers.start(options, &error)) {
        std::fprintf(stderr, "killcount: %s\n", qPrintable(error));
        return 1;
    }

    // How long an uninterrupted receive of this many mails takes: kills fall
    // anywhere inside it.
    qint64 fullMs = 0;
    {
        QTemporaryDir dir;
        for (int i = 0; i < mails; ++i)
            servers.deliver(mail(idOf(0, i)));
        QElapsedTimer t;
        t.start();
        if (!prepareRoot(dir.path(), servers) || !receive(cli, dir.path(), -1) || !servers.mailboxMessages().isEmpty()) {
            std::fprintf(stderr, "killcount: a receive without kill did not empty the mailbox\n");
            return 1;
        }
        fullMs = qMax<qint64>(t.elapsed(), 50);
    }
    std::printf("an uninterrupted receive of %d mails takes %lld ms\n", mails, static_cast<long long>(fullMs));

    long long totalLost = 0, totalDuplicated = 0, totalKills = 0;
    for (int trial = 1; trial <= trials; ++trial) {
        QTemporaryDir dir;
        if (!prepareRoot(dir.path(), servers))
            return 1;
        for (int i = 0; i < mails; ++i)
            servers.deliver(mail(idOf(trial, i)));
        int runs = 0, killed = 0;
        bool done = false;
        while (!done && runs < kills + 10) {
            const bool kill = killed < kills && !servers.mailboxMessages().isEmpty();
            const int at = kill ? int(random.bounded(fullMs)) : -1;
            const bool ended = receive(cli, dir.path(), at);
            ++runs;
            killed += kill && !ended ? 1 : 0;
            done = !kill && ended && servers.mailboxMessages().isEmpty();
        }
        const QHash<QString, int> stored = storedIds(dir.path());
        QSet<QString> onServer;
        for (const QByteArray &raw : servers.mailboxMessages()) {
            const qsizetype at = raw.indexOf("Subject: ") + 9;
            onServer.insert(QString::fromLatin1(raw.mid(at, raw.indexOf('\n', at) - at).trimmed()));
        }
        int lost = 0, duplicated = 0;
        for (int i = 0; i < mails; ++i) {
            const int copies = stored.value(idOf(trial, i));
            if (copies == 0 && !onServer.contains(idOf(trial, i)))
                ++lost;
            duplicated += qMax(0, copies - 1);
        }
        totalLost += lost;
        totalDuplicated += duplicated;
        totalKills += killed;
        std::printf("trial %d: %d kills, %d runs, %d stored, %lld left on server, %d lost, %d duplicated\n", trial,
                    killed, runs, int(stored.size()), static_cast<long long>(onServer.size()), lost, duplicated);
        std::fflush(stdout);
        if (!onServer.isEmpty()) // the next trial starts from an empty mailbox
            receive(cli, dir.path(), -1);
    }
    std::printf("trials, lost, duplicated\n%d, %lld, %lld\n(%lld kills in all, %d mails per trial)\n", trials,
                totalLost, totalDuplicated, totalKills, mails);
    return totalLost == 0 && totalDuplicated == 0 ? 0 : 1;
}
