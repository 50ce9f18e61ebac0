// Receiving 1000 messages of about 10 KB from a local Dovecot: the receive
// session of "hollin-cli receive" (fetch, attachment extraction, record store,
// delete) against fetchmail fetching and deleting the same into a BSMTP file,
// in the same run. Needs root, dovecot and fetchmail (tools/install-deps.sh).
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

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;
using namespace hollin;
using namespace hollin::bench;

namespace {

constexpr int Messages = 1000;
constexpr int Rounds = 3;

double hollinSeconds(TestMailServers &servers, const QString &folder, int *stored)
{
    DataRoot root(folder);
    root.ensureTree();
    ProfileFile account(root.idPassIniFile(), true);
    account.writeText(u"NAME"_s, servers.user());
    account.writeText(u"NAME2"_s, servers.password());
    ReceiveSettings settings{servers.pop3Server(), 0, root.idPassIniFile(), root.receivedMailFile(),
                             root.receivedMailTemp(), root.attachmentFolder(), root.uidlListFile()};
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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestMailServers servers;
    if (!startPop3Server(servers))
        return 1;
    double hollin = 1e9, reference = 1e9;
    for (int round = 0; round < Rounds; ++round) {
        QTemporaryDir dir;
        progress(u"round %1: filling %2 messages …"_s.arg(round + 1).arg(Messages));
        if (!fillMailbox(servers, Messages))
            return 1;
        bool ok = false;
        reference = std::min(reference, fetchmailSeconds(servers, dir.path(), &ok));
        if (!ok)
            return 1;
        if (!fillMailbox(servers, Messages))
            return 1;
        int stored = 0;
        hollin = std::min(hollin, hollinSeconds(servers, dir.filePath(u"hollin"_s), &stored));
        if (stored != Messages || !servers.mailboxMessages().isEmpty()) {
            progress(u"stored %1 of %2"_s.arg(stored).arg(Messages));
            return 1;
        }
    }
    row(u"receive 1000 × 10 KB (store + extract) vs fetchmail"_s, hollin, reference, u"s"_s, 0.8);
    return 0;
}
