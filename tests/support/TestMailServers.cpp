#include "TestMailServers.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QMultiHash>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

constexpr uid_t kMailUid = 65534; // nobody
constexpr gid_t kMailGid = 65534; // nogroup

QString local(int port)
{
    return port ? u"127.0.0.1:%1"_s.arg(port) : QString();
}

// Waits until something on 127.0.0.1:port accepts and, for POP3, greets.
bool waitForListener(int port, bool expectGreeting, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QTcpSocket s;
        s.connectToHost(u"127.0.0.1"_s, quint16(port));
        if (s.waitForConnected(500)) {
            if (!expectGreeting)
                return true;
            if (s.waitForReadyRead(1000) && s.readAll().startsWith("+OK"))
                return true;
        }
        QThread::msleep(50);
    }
    return false;
}

// Runs in the forked child: the server gets SIGKILL when the test process
// (strictly: the thread that started it) ends, however it ends.
void dieWithParent()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}

bool processAlive(pid_t pid)
{
    if (pid <= 0 || ::kill(pid, 0) != 0)
        return false;
    // A killed child of a dead master is a zombie until init reaps it.
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) != "Z";
}

// Every process below root, from /proc.
QList<pid_t> descendants(pid_t root)
{
    QMultiHash<pid_t, pid_t> children;
    for (const QString &entry : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        bool ok = false;
        const pid_t pid = pid_t(entry.toInt(&ok));
        if (!ok)
            continue;
        QFile stat(u"/proc/"_s + entry + u"/stat"_s);
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // "pid (comm) state ppid ...": comm may hold blanks, so start after ')'.
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        children.insert(pid_t(f.value(1).toInt()), pid);
    }
    QList<pid_t> result;
    QList<pid_t> todo{root};
    while (!todo.isEmpty()) {
        const pid_t p = todo.takeFirst();
        for (pid_t c : children.values(p)) {
            result << c;
            todo << c;
        }
    }
    return result;
}

} // namespace

int freeLocalPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

TestMailServers::TestMailServers() = default;

TestMailServers::~TestMailServers()
{
    stop();
}

QString TestMailServers::rootPath() const
{
    return m_dir ? m_dir->path() : QString();
}

QString TestMailServers::maildirPath() const
{
    return rootPath() + u"/Maildir"_s;
}

QString TestMailServers::caCertificatePath() const
{
    return m_options.tls && m_dir ? rootPath() + u"/cert.pem"_s : QString();
}

QString TestMailServers::pop3Server() const { return local(m_pop3Port); }
QString TestMailServers::pop3sServer() const { return local(m_pop3sPort); }
QString TestMailServers::smtpServer() const { return local(m_smtpPort); }
QString TestMailServers::smtpStartTlsServer() const { return local(m_smtpStartTlsPort); }
QString TestMailServers::smtpsServer() const { return local(m_smtpsPort); }

bool TestMailServers::writeFile(const QString &path, const QByteArray &data, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size()) {
        if (error)
            *error = u"cannot write %1: %2"_s.arg(path, f.errorString());
        return false;
    }
    return true;
}

bool TestMailServers::start(const Options &options, QString *error)
{
    // A free port can be taken by another test between our probe and the
    // server's bind: try again with fresh ports.
    for (int attempt = 1;; ++attempt) {
        if (startOnce(options, error))
            return true;
        if (attempt == 3)
            return false;
    }
}

bool TestMailServers::startOnce(const Options &options, QString *error)
{
    stop();
    m_options = options;
    m_deliveries = 0;
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/hollin-mail-XXXXXX"_s);
    if (!m_dir->isValid()) {
        if (error)
            *error = u"cannot create a temporary folder"_s;
        return false;
    }
    const QByteArray root = QFile::encodeName(rootPath());
    // The mail user must be able to reach the Maildir inside the folder.
    ::chmod(root.constData(), 0755);
    for (const char *sub : {"", "/cur", "/new", "/tmp"}) {
        const QByteArray p = QFile::encodeName(maildirPath()) + sub;
        if (::mkdir(p.constData(), 0700) != 0 || ::chown(p.constData(), kMailUid, kMailGid) != 0) {
            if (error)
                *error = u"cannot create the Maildir (running as root?)"_s;
            return false;
        }
    }
    if (options.tls && !makeCertificate(error))
        return false;
    if (options.pop3 && !startDovecot(error)) {
        stop();
        return false;
    }
    if (options.smtp && !startSmtp(error)) {
        stop();
        return false;
    }
    return true;
}

bool TestMailServers::makeCertificate(QString *error)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(u"/usr/bin/openssl"_s,
            {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s, u"ec_paramgen_curve:prime256v1"_s,
             u"-nodes"_s, u"-days"_s, u"2"_s, u"-subj"_s, u"/CN=127.0.0.1"_s,
             u"-addext"_s, u"subjectAltName=IP:127.0.0.1,DNS:localhost"_s,
             u"-keyout"_s, rootPath() + u"/key.pem"_s, u"-out"_s, rootPath() + u"/cert.pem"_s});
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error)
            *error = u"openssl failed: "_s + QString::fromLocal8Bit(p.readAll());
        return false;
    }
    // Dovecot reads the key after dropping no privileges, aiosmtpd as root:
    // keep them readable for the login processes all the same.
    ::chmod(QFile::encodeName(rootPath() + u"/key.pem"_s).constData(), 0644);
    return true;
}

bool TestMailServers::startDovecot(QString *error)
{
    const QString dir = rootPath();
    m_pop3Port = freeLocalPort();
    if (m_options.tls)
        m_pop3sPort = freeLocalPort();
    QDir().mkpath(dir + u"/run"_s);
    QDir().mkpath(dir + u"/state"_s);

    QString conf = uR"(base_dir = @DIR@/run
state_dir = @DIR@/state
log_path = @DIR@/dovecot.log
info_log_path = @DIR@/dovecot.log
instance_name = hollin-test-@PORT@
protocols = pop3
listen = 127.0.0.1
disable_plaintext_auth = no
auth_mechanisms = plain login apop
auth_failure_delay = 0
default_internal_user = dovecot
default_login_user = dovenull
mail_location = maildir:@DIR@/Maildir
pop3_uidl_format = %08Xu%08Xv
passdb {
  driver = static
  args = noauthenticate nodelay=y
  result_success = continue
}
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u @DIR@/passwd
}
userdb {
  driver = static
  args = uid=65534 gid=65534 home=@DIR@
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = @PORT@
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = @SPORT@
  }
}
)"_s;
    if (m_options.tls)
        conf += u"ssl = yes\nssl_cert = <@DIR@/cert.pem\nssl_key = <@DIR@/key.pem\n"_s;
    else
        conf += u"ssl = no\n"_s;
    conf.replace(u"@DIR@"_s, dir).replace(u"@SPORT@"_s, QString::number(m_pop3sPort))
        .replace(u"@PORT@"_s, QString::number(m_pop3Port));

    const QString passwd = m_options.user + u":{PLAIN}"_s + m_options.password + u'\n';
    if (!writeFile(dir + u"/dovecot.conf"_s, conf.toUtf8(), error)
        || !writeFile(dir + u"/passwd"_s, passwd.toUtf8(), error))
        return false;
    ::chmod(QFile::encodeName(dir + u"/passwd"_s).constData(), 0644);

    // In the foreground (-F) as our child, so that it dies with the test
    // process even when that one crashes or is killed by a timeout.
    m_dovecot = std::make_unique<QProcess>();
    m_dovecot->setProcessChannelMode(QProcess::MergedChannels);
    m_dovecot->setChildProcessModifier(dieWithParent);
    m_dovecot->start(u"/usr/sbin/dovecot"_s, {u"-F"_s, u"-c"_s, dir + u"/dovecot.conf"_s});
    if (!m_dovecot->waitForStarted(10000)) {
        if (error)
            *error = u"dovecot did not start: "_s + m_dovecot->errorString();
        m_dovecot.reset();
        return false;
    }
    if (!waitForListener(m_pop3Port, true, 10000)
        || (m_pop3sPort && !waitForListener(m_pop3sPort, false, 10000))) {
        QFile log(dir + u"/dovecot.log"_s);
        log.open(QIODevice::ReadOnly);
        if (error)
            *error = u"dovecot does not answer: "_s + QString::fromLocal8Bit(m_dovecot->readAll())
                     + QString::fromUtf8(log.readAll());
        return false;
    }
    return true;
}

bool TestMailServers::startSmtp(QString *error)
{
    m_smtpPort = freeLocalPort();
    QStringList args{QStringLiteral(HOLLIN_TEST_SUPPORT_DIR "/smtp_server.py"),
                     u"--maildir"_s, maildirPath(), u"--log"_s, rootPath() + u"/smtp.log"_s,
                     u"--port"_s, QString::number(m_smtpPort),
                     u"--uid"_s, QString::number(kMailUid), u"--gid"_s, QString::number(kMailGid)};
    if (m_options.tls) {
        m_smtpStartTlsPort = freeLocalPort();
        m_smtpsPort = freeLocalPort();
        args << u"--starttls-port"_s << QString::number(m_smtpStartTlsPort)
             << u"--smtps-port"_s << QString::number(m_smtpsPort)
             << u"--cert"_s << rootPath() + u"/cert.pem"_s << u"--key"_s << rootPath() + u"/key.pem"_s;
    }
    if (m_options.smtpAuthRequired)
        args << u"--auth"_s << m_options.user + u':' + m_options.password;
    for (const QString &r : m_options.refusedRecipients)
        args << u"--refuse"_s << r;
    if (m_options.smtpStrictHelo)
        args << u"--strict-helo"_s;
    if (m_options.smtpSizeLimit > 0)
        args << u"--size-limit"_s << QString::number(m_options.smtpSizeLimit);

    m_smtp = std::make_unique<QProcess>();
    m_smtp->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_smtp->setChildProcessModifier(dieWithParent);
    m_smtp->start(u"/usr/bin/python3"_s, args);
    QByteArray out;
    QDeadlineTimer deadline(20000);
    while (!out.contains("READY") && !deadline.hasExpired()) {
        if (m_smtp->state() == QProcess::NotRunning)
            break;
        m_smtp->waitForReadyRead(200);
        out += m_smtp->readAllStandardOutput();
    }
    if (!out.contains("READY")) {
        if (error)
            *error = u"the SMTP server did not start: "_s + QString::fromLocal8Bit(out);
        return false;
    }
    return true;
}

void TestMailServers::stopPop3()
{
    if (!m_dovecot)
        return;
    const pid_t master = pid_t(m_dovecot->processId());
    if (master <= 0) {
        m_dovecot.reset();
        return;
    }
    // Freeze the master so that it forks nothing new, then kill it and every
    // process below it at once: open sessions lose their connection.
    ::kill(master, SIGSTOP);
    const QList<pid_t> tree = descendants(master);
    for (pid_t pid : tree)
        ::kill(pid, SIGKILL);
    ::kill(master, SIGKILL);
    ::kill(master, SIGCONT);
    QDeadlineTimer deadline(5000);
    m_dovecot->waitForFinished(5000);
    m_dovecot.reset();
    for (pid_t pid : tree) {
        while (processAlive(pid) && !deadline.hasExpired())
            QThread::msleep(5);
    }
}

void TestMailServers::stop()
{
    stopPop3();
    if (m_smtp) {
        if (m_smtp->state() != QProcess::NotRunning) {
            m_smtp->terminate();
            if (!m_smtp->waitForFinished(5000)) {
                m_smtp->kill();
                m_smtp->waitForFinished(2000);
            }
        }
        m_smtp.reset();
    }
    m_dir.reset();
    m_pop3Port = m_pop3sPort = m_smtpPort = m_smtpStartTlsPort = m_smtpsPort = 0;
}

bool TestMailServers::deliver(const QByteArray &raw)
{
    if (!m_dir)
        return false;
    QByteArray data = raw;
    data.replace("\r\n", "\n");
    // Names sort in delivery order; the SMTP server uses the same scheme.
    const QString name = u"%1.%2_%3.test"_s
                             .arg(QDateTime::currentMSecsSinceEpoch() * 1000, 16, 10, QLatin1Char('0'))
                             .arg(++m_deliveries, 6, 10, QLatin1Char('0'))
                             .arg(::getpid());
    const QString tmp = maildirPath() + u"/tmp/"_s + name;
    if (!writeFile(tmp, data, nullptr))
        return false;
    if (::chown(QFile::encodeName(tmp).constData(), kMailUid, kMailGid) != 0)
        return false;
    return QFile::rename(tmp, maildirPath() + u"/new/"_s + name);
}

QList<QByteArray> TestMailServers::mailboxMessages() const
{
    QList<QByteArray> result;
    if (!m_dir)
        return result;
    QStringList files;
    for (const char *sub : {"/new", "/cur"}) {
        const QString dir = maildirPath() + QLatin1String(sub);
        for (const QString &f : QDir(dir).entryList(QDir::Files))
            files << dir + u'/' + f;
    }
    // Order by the base name (Dovecot appends ":2,FLAGS" when it moves a file to cur).
    std::sort(files.begin(), files.end(), [](const QString &a, const QString &b) {
        return QFileInfo(a).fileName().section(u':', 0, 0) < QFileInfo(b).fileName().section(u':', 0, 0);
    });
    for (const QString &path : files) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            result << f.readAll();
    }
    return result;
}

QStringList TestMailServers::smtpLog() const
{
    QFile f(rootPath() + u"/smtp.log"_s);
    if (!m_dir || !f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

int TestMailServers::smtpConnectionCount() const
{
    QSet<QString> ports;
    for (const QString &line : smtpLog()) {
        if (line.startsWith(u"MAIL "_s))
            ports.insert(line.section(u' ', 1, 1));
    }
    return int(ports.size());
}

} // namespace hollin
