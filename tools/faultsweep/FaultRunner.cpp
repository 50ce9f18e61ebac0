#include "FaultRunner.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <csignal>
#include <sys/types.h>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

constexpr int RunTimeoutMs = 120000;

QByteArray readAndRemove(const QString &path)
{
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    file.close();
    QFile::remove(path);
    return bytes;
}

// True when the process ended (or ran out of time) before the shim stopped it.
bool endedBeforeStopping(QProcess &process)
{
    const QString stat = u"/proc/%1/stat"_s.arg(process.processId());
    for (int waited = 0; waited < RunTimeoutMs; waited += 10) {
        QFile file(stat);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray line = file.readAll();
            const qsizetype paren = line.lastIndexOf(')');
            if (paren > 0 && line.mid(paren + 2, 1) == "T")
                return false;
        }
        if (process.waitForFinished(10))
            return true;
    }
    return true;
}

} // namespace

QString faultName(FaultKind kind)
{
    switch (kind) {
    case FaultKind::None:
        return u"none"_s;
    case FaultKind::Enospc:
        return u"enospc"_s;
    case FaultKind::Eio:
        return u"eio"_s;
    case FaultKind::Kill:
        return u"kill"_s;
    case FaultKind::Full:
        return u"full"_s;
    case FaultKind::Pause:
        return u"pause"_s;
    case FaultKind::Powerloss:
        return u"powerloss"_s;
    }
    return {};
}

FaultRunner::FaultRunner(const QString &shim, const QString &cli, const QString &faultOp)
    : m_shim(shim), m_cli(cli), m_faultOp(faultOp)
{
}

RunResult FaultRunner::run(const QString &root, Program program, const QStringList &args)
{
    return start(root, program, args, false, FaultKind::None, 0);
}

RunResult FaultRunner::runWithShim(const QString &root, Program program, const QStringList &args, FaultKind kind,
                                   long at)
{
    return start(root, program, args, true, kind, at);
}

RunResult FaultRunner::runPaused(const QString &root, Program program, const QStringList &args, long at,
                                 const std::function<void()> &meanwhile)
{
    return start(root, program, args, true, FaultKind::Pause, at, meanwhile);
}

RunResult FaultRunner::start(const QString &root, Program program, const QStringList &args, bool shim,
                             FaultKind kind, long at, const std::function<void()> &meanwhile)
{
    const QString countFile = m_scratch.filePath(u"count"_s);
    const QString logFile = m_scratch.filePath(u"log"_s);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"LANG"_s, u"C.UTF-8"_s);
    env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    if (shim) {
        QFile::remove(countFile);
        QFile::remove(logFile);
        env.insert(u"LD_PRELOAD"_s, m_shim);
        env.insert(u"HOLLIN_FAULT_ROOT"_s, root);
        env.insert(u"HOLLIN_FAULT_AT"_s, QString::number(kind == FaultKind::None ? 0 : at));
        env.insert(u"HOLLIN_FAULT_KIND"_s, faultName(kind));
        env.insert(u"HOLLIN_FAULT_COUNT"_s, countFile);
        env.insert(u"HOLLIN_FAULT_LOG"_s, logFile);
    }
    QProcess process;
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program == Program::Cli ? m_cli : m_faultOp, QStringList{u"--root"_s, root} + args);
    RunResult result;
    if (!process.waitForStarted()) {
        result.errorText = process.errorString();
        return result;
    }
    if (meanwhile && !endedBeforeStopping(process)) {
        meanwhile();
        ::kill(pid_t(process.processId()), SIGCONT);
    }
    if (!process.waitForFinished(RunTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.errorText = u"timed out"_s;
        return result;
    }
    result.finished = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.errorText = QString::fromUtf8(process.readAllStandardError()).trimmed();
    if (shim) {
        bool ok = false;
        const long counted = readAndRemove(countFile).trimmed().toLong(&ok);
        result.counted = ok ? counted : -1;
        result.fired = QString::fromUtf8(readAndRemove(logFile)).trimmed();
    }
    return result;
}

} // namespace hollin
