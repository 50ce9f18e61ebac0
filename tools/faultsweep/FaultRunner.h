#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace hollin {

// The faults the shim (tools/faultinject) can inject at a counted call;
// Full: the disk fills up there (a short write, then ENOSPC for good).
// Pause: the process stops there while another writer runs, then goes on.
// Powerloss: a kill after which only what was flushed is left (with one
// point more per step: the power cut just after the process ended).
enum class FaultKind { None, Enospc, Eio, Kill, Full, Pause, Powerloss };
QString faultName(FaultKind kind);

// Which program runs a step: hollin-cli or the sweep's own hollin-faultop.
enum class Program { Cli, FaultOp };

// How one run ended.
struct RunResult {
    bool finished = false; // ended by itself (not killed, not crashed)
    int exitCode = -1;
    long counted = -1;     // counted calls (only with the shim, when it could write the count)
    QString fired;         // "<call> <path>" of the call the fault hit; empty when none did
    QString errorText;     // what the program wrote to stderr

    bool ok() const { return finished && exitCode == 0; }
};

// Runs hollin-cli or hollin-faultop on a data root, with or without the
// fault-injection shim preloaded.
class FaultRunner {
public:
    FaultRunner(const QString &shim, const QString &cli, const QString &faultOp);

    bool isValid() const { return m_scratch.isValid(); }

    // Without the shim.
    RunResult run(const QString &root, Program program, const QStringList &args);
    // With the shim: kind None only counts; otherwise the fault hits call `at`.
    RunResult runWithShim(const QString &root, Program program, const QStringList &args, FaultKind kind, long at);
    // With the shim, stopped before call `at` while meanwhile() runs (not
    // called when the run ends before that call), then continued.
    RunResult runPaused(const QString &root, Program program, const QStringList &args, long at,
                        const std::function<void()> &meanwhile);

private:
    RunResult start(const QString &root, Program program, const QStringList &args, bool shim, FaultKind kind,
                    long at, const std::function<void()> &meanwhile = {});

    QString m_shim;
    QString m_cli;
    QString m_faultOp;
    QTemporaryDir m_scratch; // count and log files of the shim
};

} // namespace hollin
