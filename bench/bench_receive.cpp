// Receiving 1000 messages of about 10 KB from a local Dovecot: the receive
// session of "hollin-cli receive" (fetch, attachment extraction, record store,
// delete) against fetchmail fetching and deleting the same into a BSMTP file,
// in the same run; once with plain text mail, once with one attachment per
// mail. Medians of interleaved rounds. Needs root, dovecot and fetchmail
// (tools/install-deps.sh).
//
// Each timed run starts on a flushed disk a few seconds after the run before
// it, so that neither program pays for the other's write-back. The runs' folders
// are deleted only at the end: on ext4 without a journal (as on the development
// machine) a file created within minutes of thousands of deletions in the same
// block group steps over every freed inode, which a user's disk, journalled, does
// not do. For the same reason, leave a few minutes before running it again.
#include "BenchSupport.h"
#include "inbox/logic/ReceiveSession.h"
#include "storage/DataRoot.h"
#include "storage/MailRecordFile.h"
#include "storage/ProfileFile.h"

#include "TestMailServers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;
using namespace hollin;
using namespace hollin::bench;

namespace {

constexpr int Messages = 1000;
constexpr int Rounds = 5;

double hollinSeconds(TestMailServers &servers, const QString &folder, int *stored)
{
    DataRoot root(folder);
    root.ensureTree();
    ProfileFile account(root.idPassIniFile(), true);
    account.writeText(u"NAME"_s, servers.user());
    account.writeText(u"NAME2"_s, servers.password());
    ReceiveSettings settings;
    settings.pop3Server = servers.pop3Server();
    settings.idPassIniFile = root.idPassIniFile();
    settings.receivedMailFile = root.receivedMailFile();
    settings.receivedMailTemp = root.receivedMailTemp();
    settings.attachmentFolder = root.attachmentFolder();
    settings.uidlListFile = root.uidlListFile();
    settings.storedMessageListFile = root.storedMessageListFile();
    QElapsedTimer timer;
    timer.start();
    const ReceiveResult result = ReceiveSession(settings).run();
    const double seconds = timer.nsecsElapsed() / 1e9;
    *stored = MailRecordFile(root.receivedMailFile(), root.receivedMailTemp()).count();
    if (result.outcome != ReceiveResult::Outcome::Completed)
        progress(u"receive: %1"_s.arg(result.error.text()));
    return seconds;
}

double fetchmailSeconds(TestMailServers &servers, const QString &folder, bool *ok)
{
    const QString rc = folder + u"/fetchmailrc"_s;
    QFile file(rc);
    file.open(QIODevice::WriteOnly);
    file.write(u"poll 127.0.0.1 protocol POP3 port %1 auth password user \"%2\" password \"%3\" nokeep fetchall sslproto ''\n"_s
                   .arg(servers.pop3Port()).arg(servers.user(), servers.password()).toUtf8());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    QProcess fetchmail;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"FETCHMAILHOME"_s, folder);
    fetchmail.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    fetchmail.start(u"fetchmail"_s, {u"-f"_s, rc, u"--bsmtp"_s, folder + u"/out.bsmtp"_s, u"--nosyslog"_s,
                                     u"-N"_s, u"--silent"_s, u"--pidfile"_s, folder + u"/fetchmail.pid"_s});
    fetchmail.waitForFinished(600000);
    const double seconds = timer.nsecsElapsed() / 1e9;
    *ok = fetchmail.exitCode() == 0 && servers.mailboxMessages().isEmpty();
    if (!*ok)
        progress(u"fetchmail: exit %1 %2"_s.arg(fetchmail.exitCode()).arg(QString::fromLocal8Bit(fetchmail.readAllStandardError())));
    return seconds;
}

void settle()
{
    ::sync();
    QThread::sleep(6);
}

struct Samples {
    std::vector<double> hollin, fetchmail;
};

// One round of one kind of mail: fetchmail and Hollin, who goes first
// alternating by round, so that neither always meets the other's file churn.
// The round's folder is kept in *folders until the end. False when a run did
// not store or delete every message.
bool measureRound(TestMailServers &servers, bool withAttachment, int round, Samples *samples,
                  std::vector<std::unique_ptr<QTemporaryDir>> *folders)
{
    folders->push_back(scratchFolder());
    const QTemporaryDir *dir = folders->back().get();
    if (!dir)
        return false;
    for (int i = 0; i < 2; ++i) {
        if (!fillMailbox(servers, Messages, withAttachment))
            return false;
        settle();
        if ((round + i) % 2 == 0) {
            bool ok = false;
            samples->fetchmail.push_back(fetchmailSeconds(servers, dir->path(), &ok));
            if (!ok)
                return false;
        } else {
            int stored = 0;
            samples->hollin.push_back(hollinSeconds(servers, dir->filePath(u"hollin"_s), &stored));
            if (stored != Messages || !servers.mailboxMessages().isEmpty()) {
                progress(u"stored %1 of %2"_s.arg(stored).arg(Messages));
                return false;
            }
        }
    }
    progress(u"  %1: Hollin %2 s, fetchmail %3 s"_s.arg(withAttachment ? u"one attachment"_s : u"plain"_s)
                 .arg(samples->hollin.back()).arg(samples->fetchmail.back()));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestMailServers servers;
    if (!startPop3Server(servers))
        return 1;
    // The two kinds take turns within each round, so that a busy spell of
    // the machine falls on both.
    Samples plain, attached;
    std::vector<std::unique_ptr<QTemporaryDir>> folders;
    for (int round = 0; round < Rounds; ++round) {
        progress(u"round %1 of %2: %3 messages each run …"_s.arg(round + 1).arg(Rounds).arg(Messages));
        if (!measureRound(servers, false, round, &plain, &folders)
            || !measureRound(servers, true, round, &attached, &folders))
            return 1;
    }
    row(u"receive 1000 × 10 KB plain (store) vs fetchmail"_s, median(plain.hollin), median(plain.fetchmail), u"s"_s,
        0.5);
    row(u"receive 1000 × 10 KB, one attachment each (store + extract) vs fetchmail"_s, median(attached.hollin),
        median(attached.fetchmail), u"s"_s, 1.0);
    return 0;
}
