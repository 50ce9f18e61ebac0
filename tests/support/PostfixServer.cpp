#include "PostfixServer.h"

#include "TestMailServers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>

#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// Debian's master.cf with the smtpd service on 127.0.0.1:port and no chroot
// (the queue is a private folder without the files a chroot needs).
QByteArray masterCf(int port)
{
    QFile stock(u"/etc/postfix/master.cf"_s);
    if (!stock.open(QIODevice::ReadOnly))
        return {};
    QByteArray out;
    for (const QByteArray &line : stock.readAll().split('\n')) {
        QList<QByteArray> f = line.simplified().split(' ');
        if (line.startsWith('#') || line.startsWith(' ') || line.startsWith('\t') || f.size() < 8) {
            out += line + '\n';
            continue;
        }
        if (f[0] == "smtp" && f[1] == "inet")
            f[0] = "127.0.0.1:" + QByteArray::number(port);
        f[4] = "n";
        out += f.join(' ') + '\n';
    }
    return out;
}

} // namespace

PostfixServer::~PostfixServer()
{
    stop();
}

QString PostfixServer::server() const
{
    return u"127.0.0.1:%1"_s.arg(m_port);
}

QString PostfixServer::log() const
{
    QFile f(m_dir ? m_dir->filePath(u"maillog"_s) : QString());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

bool PostfixServer::postfix(const QString &command, QString *error)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(u"/usr/sbin/postfix"_s, {u"-c"_s, m_dir->filePath(u"conf"_s), command});
    if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    if (error)
        *error = u"postfix %1 failed: %2 %3"_s.arg(command, QString::fromLocal8Bit(p.readAll()), log());
    return false;
}

bool PostfixServer::start(int messageSizeLimit, QString *error)
{
    stop();
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/hollin-postfix-XXXXXX"_s);
    m_port = freeLocalPort();
    const passwd *owner = ::getpwnam("postfix");
    const QString dir = m_dir->path();
    if (!owner || !QDir(dir).mkpath(u"conf"_s) || !QDir(dir).mkpath(u"queue"_s) || !QDir(dir).mkpath(u"data"_s)
        || ::chown(QFile::encodeName(dir + u"/data"_s).constData(), owner->pw_uid, owner->pw_gid) != 0) {
        if (error)
            *error = u"cannot prepare a Postfix folder (is postfix installed, and are we root?)"_s;
        return false;
    }
    ::chmod(QFile::encodeName(dir).constData(), 0755);
    const QString mainCf = uR"(compatibility_level = 3.6
queue_directory = @DIR@/queue
data_directory = @DIR@/data
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
myhostname = mx.example.jp
mydestination = localhost
mynetworks = 127.0.0.0/8
maillog_file = @DIR@/maillog
maillog_file_prefixes = /var, /dev/stdout, @DIR@
alias_maps =
alias_database =
smtpd_helo_required = yes
smtpd_helo_restrictions = reject_invalid_helo_hostname, reject_non_fqdn_helo_hostname
strict_rfc821_envelopes = yes
smtpd_forbid_bare_newline = reject
message_size_limit = @SIZE@
default_transport = discard:test
local_transport = discard:test
)"_s.replace(u"@DIR@"_s, dir).replace(u"@SIZE@"_s, QString::number(messageSizeLimit));
    const QByteArray master = masterCf(m_port);
    QFile main(dir + u"/conf/main.cf"_s), masterFile(dir + u"/conf/master.cf"_s);
    if (master.isEmpty() || !main.open(QIODevice::WriteOnly) || !masterFile.open(QIODevice::WriteOnly)
        || main.write(mainCf.toUtf8()) < 0 || masterFile.write(master) < 0) {
        if (error)
            *error = u"cannot write the Postfix configuration"_s;
        return false;
    }
    main.close();
    masterFile.close();
    if (!postfix(u"start"_s, error))
        return false;
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        QTcpSocket s;
        s.connectToHost(u"127.0.0.1"_s, quint16(m_port));
        if (s.waitForConnected(500) && s.waitForReadyRead(2000) && s.readAll().startsWith("220"))
            return true;
        QThread::msleep(100);
    }
    if (error)
        *error = u"postfix does not answer: "_s + log();
    return false;
}

void PostfixServer::stop()
{
    if (!m_dir)
        return;
    QFile pidFile(m_dir->filePath(u"queue/pid/master.pid"_s));
    const pid_t master = pidFile.open(QIODevice::ReadOnly) ? pid_t(pidFile.readAll().trimmed().toInt()) : 0;
    postfix(u"stop"_s, nullptr);
    // The master ends its children and then itself: wait, then make sure.
    QDeadlineTimer deadline(5000);
    while (master > 0 && ::kill(master, 0) == 0 && !deadline.hasExpired())
        QThread::msleep(20);
    if (master > 0 && ::kill(master, 0) == 0)
        ::kill(master, SIGKILL);
    m_dir.reset();
}

} // namespace hollin
