// Fetch-and-delete of 1000 messages of about 10 KB from a local Dovecot
// through MailLib (RETR, decoding, attachment extraction, DELE, QUIT) against
// fetchmail (into a BSMTP file) and mpop (into a Maildir) doing the same in
// the same run; the ratio is taken against the faster of the two. Needs root,
// dovecot, fetchmail and mpop (tools/install-deps.sh).
#include "BenchSupport.h"
#include "transport/MailLib.h"

#include "TestMailServers.h"

#include <QCoreApplication>
#include <QDir>
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

bool writePrivate(const QString &path, const QString &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text.toUtf8());
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

double hollinSeconds(TestMailServers &servers, const QString &folder, bool *ok)
{
    QDir().mkpath(folder);
    *ok = false;
    QElapsedTimer timer;
    timer.start();
    MailLib lib;
    const int handle = lib.pop3Connect(servers.pop3Server());
    const int count = handle == -1 ? -1 : lib.pop3Authenticate(handle, servers.user(), servers.password(), 0);
    if (count != Messages) {
        progress(u"MailLib: count %1: %2"_s.arg(count).arg(lib.getMessage()));
        return 0;
    }
    int extracted = 0;
    for (int n = 1; n <= count; ++n) {
        QString subject, date, from, header, body;
        if (lib.pop3GetMail(handle, n, &subject, &date, &from, &header, &body) < 0) {
            progress(u"MailLib: "_s + lib.getMessage());
            return 0;
        }
        if (lib.attachmentFileFirst(subject, date, from, header, body, folder + u'/', QString(), QString()) == 1)
            ++extracted;
        lib.attachmentFileClose();
        lib.pop3DeleteMail(handle, n);
    }
    if (lib.pop3Close(handle) < 0) {
        progress(u"MailLib: "_s + lib.getMessage());
        return 0;
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    *ok = extracted == Messages && servers.mailboxMessages().isEmpty();
    if (!*ok)
        progress(u"MailLib: %1 extracted, %2 left"_s.arg(extracted).arg(servers.mailboxMessages().size()));
    return seconds;
}

double run(TestMailServers &servers, const QString &program, const QStringList &args,
           const QProcessEnvironment &env, bool *ok)
{
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    p.start(program, args);
    p.waitForFinished(600000);
    const double seconds = timer.nsecsElapsed() / 1e9;
    *ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 && servers.mailboxMessages().isEmpty();
    if (!*ok)
        progress(u"%1: exit %2 %3"_s.arg(program).arg(p.exitCode()).arg(QString::fromLocal8Bit(p.readAllStandardError())));
    return seconds;
}

double fetchmailSeconds(TestMailServers &servers, const QString &folder, bool *ok)
{
    const QString rc = folder + u"/fetchmailrc"_s;
    writePrivate(rc, u"poll 127.0.0.1 protocol POP3 port %1 auth password user \"%2\" password \"%3\" nokeep fetchall sslproto ''\n"_s
                         .arg(servers.pop3Port()).arg(servers.user(), servers.password()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"FETCHMAILHOME"_s, folder);
    return run(servers, u"fetchmail"_s,
               {u"-f"_s, rc, u"--bsmtp"_s, folder + u"/out.bsmtp"_s, u"--nosyslog"_s, u"-N"_s, u"--silent"_s,
                u"--pidfile"_s, folder + u"/fetchmail.pid"_s},
               env, ok);
}

double mpopSeconds(TestMailServers &servers, const QString &folder, bool *ok)
{
    const QString maildir = folder + u"/mpop-maildir"_s;
    for (const char *sub : {"/cur", "/new", "/tmp"})
        QDir().mkpath(maildir + QLatin1String(sub));
    const QString rc = folder + u"/mpoprc"_s;
    writePrivate(rc, u"account default\nhost 127.0.0.1\nport %1\nuser %2\npassword %3\nauth user\ntls off\n"
                     u"delivery maildir %4\nkeep off\nonly_new off\nuidls_file %5/uidls\n"_s
                         .arg(servers.pop3Port()).arg(servers.user(), servers.password(), maildir, folder));
    return run(servers, u"mpop"_s, {u"-C"_s, rc, u"-q"_s}, QProcessEnvironment::systemEnvironment(), ok);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestMailServers servers;
    if (!startPop3Server(servers))
        return 1;
    double hollin = 1e9, fetchmail = 1e9, mpop = 1e9;
    // Each round runs the three in another order, so that none always comes
    // right after the file churn of another (ext4 inode allocation slows down
    // after many deletions); the best round of each counts.
    for (int round = 0; round < Rounds; ++round) {
        QTemporaryDir dir;
        progress(u"round %1 of %2 (%3 messages each) …"_s.arg(round + 1).arg(Rounds).arg(Messages));
        for (int i = 0; i < 3; ++i) {
            bool ok = false;
            if (!fillMailbox(servers, Messages))
                return 1;
            switch ((round + i) % 3) {
            case 0:
                fetchmail = std::min(fetchmail, fetchmailSeconds(servers, dir.path(), &ok));
                break;
            case 1:
                mpop = std::min(mpop, mpopSeconds(servers, dir.path(), &ok));
                break;
            default:
                hollin = std::min(hollin, hollinSeconds(servers, dir.filePath(u"attachments%1"_s.arg(round)), &ok));
                break;
            }
            if (!ok)
                return 1;
        }
        progress(u"  best so far: MailLib %1 s, fetchmail %2 s, mpop %3 s"_s.arg(hollin).arg(fetchmail).arg(mpop));
    }
    const bool fetchmailFaster = fetchmail <= mpop;
    std::printf("| POP3 fetch+delete 1000 × 10 KB via MailLib (decode + extract) vs %s | %.3f s | %.3f s | %.2f | ≤ 0.8%s |\n",
                fetchmailFaster ? "fetchmail" : "mpop", hollin, std::min(fetchmail, mpop),
                hollin / std::min(fetchmail, mpop), hollin / std::min(fetchmail, mpop) <= 0.8 ? "" : " MISSED");
    return 0;
}
