// Fault sweep: runs each writing operation of Hollin once per counted file
// call (tools/faultinject) with that call failing (ENOSPC, then EIO), the
// process killed there, the disk full from there on, or the power cut there
// (--faults powerloss: only what was flushed stays, see
// faultinject/powerloss.h), recovers (the same operation again, without fault)
// and checks the data root: every mail exactly once in server and store,
// every record file parses, every attachment there and nothing left behind.
//
//     hollin-faultsweep --cli build/src/cli/hollin-cli --faultop build/tools/hollin-faultop
//         --shim build/tools/libhollin_faultinject.so [--ops receive,import] [--stride 3] [--mails 3]
//
// One point again: --ops receive --at 7 --faults eio
//
// With --second import (or another of Operations::secondWriters()), a second
// writer instead of a fault: each operation is stopped before its k-th
// counted call while the second runs to its end on the same data root, then
// goes on; both are recovered and checked together.
// Prints one line per damaged point and a table per operation; exit 1 when
// anything was damaged, 2 when the sweep itself could not run.
#include "FaultRunner.h"
#include "NoUidlProxy.h"
#include "Operations.h"
#include "StoreCheck.h"
#include "TestMailServers.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

struct Options {
    QStringList ops;
    QStringList seconds; // second writers; empty: faults
    QList<FaultKind> faults;
    int stride = 1;
    long at = 0;
    int details = 20;
};

// The table row of one operation.
struct Row {
    QString op;
    long points = 0;
    int tried = 0;
    int unrecovered = 0;
    Damage damage;
    QString failure; // the sweep could not run this operation
};

// The expectation of two operations on one data root.
Expectation merged(Expectation first, const Expectation &second)
{
    first.ids += second.ids;
    first.gone += second.gone;
    first.attachments.insert(second.attachments);
    if (!second.settingsTag.isEmpty())
        first.settingsTag = second.settingsTag;
    return first;
}

void say(const QString &text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

// What the user does after step ended as first did, before going on with
// the next step; false (and why) when that still failed.
bool recover(const Trial &trial, const Step &step, const RunResult &first, FaultRunner &runner, QString *why)
{
    QStringList args = step.args;
    // After a kill the user looks before doing it again; after an error message, does it again.
    if (step.recovery == Recovery::RerunIfFailed
        && (first.ok() || (!first.finished && !step.id.isEmpty() && recordNumberOf(trial.root, step.store, step.id) > 0)))
        return true;
    if (step.recovery == Recovery::RerunIfMissing && recordNumberOf(trial.root, step.store, step.id) > 0)
        return true;
    if (step.recovery == Recovery::DeleteById) {
        const int n = recordNumberOf(trial.root, step.store, step.id);
        if (n == 0)
            return true;
        args = Operations::deleteArgs(step.store, n);
    }
    const RunResult again = runner.run(trial.root, step.program, args);
    if (!again.ok())
        *why = u"recovery \"%1\" failed: %2"_s.arg(args.join(u' '), again.errorText.section(u'\n', 0, 1));
    return again.ok();
}

Row sweep(const QString &op, const Options &options, Operations &operations, FaultRunner &runner,
          TestMailServers &servers)
{
    Row row;
    row.op = op;
    auto failed = [&](const QString &why) {
        row.failure = why;
        return row;
    };

    // A fault-free run: what it leaves is the reference for debris.
    QSet<QString> reference;
    {
        QTemporaryDir folder;
        Trial trial;
        QString error;
        if (!operations.prepare(op, folder.path(), &trial, &error))
            return failed(error);
        for (const Step &step : std::as_const(trial.steps)) {
            const RunResult r = runner.run(trial.root, step.program, step.args);
            if (!r.ok())
                return failed(u"without fault, \"%1\" failed: %2"_s.arg(step.args.join(u' '), r.errorText));
        }
        reference = filesBelow(trial.root);
        // Damage without any fault is a finding of its own, counted as one more point tried.
        const Damage clean = inspect(trial.root, trial.expected, subjectsOf(servers.mailboxMessages()), reference);
        ++row.tried;
        row.damage.add(clean);
        if (clean.any())
            say(u"  %1 without fault: %2"_s.arg(op, clean.details.mid(0, 3).join(u"; "_s)));
    }

    // The counted calls of each step.
    QList<long> counts;
    {
        QTemporaryDir folder;
        Trial trial;
        QString error;
        if (!operations.prepare(op, folder.path(), &trial, &error))
            return failed(error);
        for (const Step &step : std::as_const(trial.steps)) {
            const RunResult r = runner.runWithShim(trial.root, step.program, step.args, FaultKind::None, 0);
            if (!r.ok() || r.counted < 0)
                return failed(u"the counting run of \"%1\" failed: %2"_s.arg(step.args.join(u' '), r.errorText));
            counts << r.counted;
            row.points += r.counted;
        }
    }

    int shown = 0;
    for (const FaultKind kind : options.faults) {
        // A power cut also comes just after a step ended: one point more per step.
        const long extra = kind == FaultKind::Powerloss ? 1 : 0;
        const long points = row.points + extra * counts.size();
        for (long k = options.at > 0 ? options.at : 1; k <= points; k += options.at > 0 ? points : options.stride) {
            QTemporaryDir folder;
            Trial trial;
            QString error;
            if (!operations.prepare(op, folder.path(), &trial, &error))
                return failed(error);
            QString fired;
            QString why;
            bool recovered = true;
            long before = 0;
            for (qsizetype i = 0; i < trial.steps.size(); ++i) {
                const Step &step = trial.steps.at(i);
                const long stepPoints = counts.at(i) + extra;
                const bool here = k > before && k <= before + stepPoints;
                const RunResult r = here ? runner.runWithShim(trial.root, step.program, step.args, kind, k - before)
                                         : runner.run(trial.root, step.program, step.args);
                if (here)
                    fired = r.fired.isEmpty() ? u"(not reached)"_s : QString(r.fired).replace(trial.root, u"ROOT"_s);
                recovered = recover(trial, step, r, runner, &why) && recovered;
                before += stepPoints;
            }
            // Only a kill or a power cut can cost a thread line silently.
            trial.expected.threadLinesTold = kind != FaultKind::Kill && kind != FaultKind::Powerloss;
            Damage damage = inspect(trial.root, trial.expected, subjectsOf(servers.mailboxMessages()), reference);
            ++row.tried;
            if (!recovered) {
                ++row.unrecovered;
                damage.details.prepend(why);
            }
            if ((damage.any() || !recovered) && shown++ < options.details)
                say(u"  %1 k=%2 %3 at %4: %5"_s.arg(op).arg(k).arg(faultName(kind), fired,
                                                              damage.details.mid(0, 3).join(u"; "_s)));
            row.damage.add(damage);
        }
    }
    return row;
}

// Checks a data root after two operations: one store, or each its own.
// deletesAll: the first empties the store, and what the second stored
// before it took the lock is rightly gone with the rest.
Damage inspectBoth(const Trial &first, const Trial &second, bool deletesAll, const QStringList &onServer,
                   const QSet<QString> &reference)
{
    if (deletesAll && first.expected.store == second.expected.store) {
        Expectation expected = first.expected;
        expected.mayAlsoHold = QSet<QString>(second.expected.ids.cbegin(), second.expected.ids.cend());
        return inspect(first.root, expected, onServer, reference);
    }
    if (first.expected.store == second.expected.store || !second.expected.settingsTag.isEmpty())
        return inspect(first.root, merged(first.expected, second.expected), onServer, reference);
    // A mail the second sends reaches the test mailbox, which the first may receive.
    Expectation firstExpected = first.expected;
    firstExpected.mayAlsoHold = QSet<QString>(second.expected.ids.cbegin(), second.expected.ids.cend());
    Damage damage = inspect(first.root, firstExpected, onServer, reference);
    Expectation secondExpected = second.expected;
    secondExpected.keptFiles = false; // checked once
    Damage other = inspect(first.root, secondExpected, onServer, reference);
    other.debris = 0; // counted once
    other.details.removeIf([](const QString &line) { return line.startsWith(u"left behind"_s); });
    damage.add(other);
    return damage;
}

// op stopped at every stride-th counted call of its steps while `second` runs.
Row sweepPair(const QString &op, const QString &second, const Options &options, Operations &operations,
              FaultRunner &runner, TestMailServers &servers)
{
    Row row;
    row.op = op + u"+"_s + second;
    auto failed = [&](const QString &why) {
        row.failure = why;
        return row;
    };
    auto prepareBoth = [&](const QString &folder, Trial *first, Trial *other, QString *error) {
        return operations.prepare(op, folder, first, error)
            && operations.prepareSecond(second, folder + u"/second"_s, first->root, other, error);
    };
    auto runSteps = [&](const Trial &trial) {
        for (const Step &step : trial.steps) {
            if (!runner.run(trial.root, step.program, step.args).ok())
                return false;
        }
        return true;
    };

    // One after the other, without a pause: the reference for debris, and the counted calls.
    QSet<QString> reference;
    QList<long> counts;
    {
        QTemporaryDir folder;
        Trial first, other;
        QString error;
        if (!prepareBoth(folder.path(), &first, &other, &error))
            return failed(error);
        for (const Step &step : std::as_const(first.steps)) {
            const RunResult r = runner.runWithShim(first.root, step.program, step.args, FaultKind::None, 0);
            if (!r.ok() || r.counted < 0)
                return failed(u"the counting run of \"%1\" failed: %2"_s.arg(step.args.join(u' '), r.errorText));
            counts << r.counted;
            row.points += r.counted;
        }
        if (!runSteps(other))
            return failed(u"without a pause, the second writer failed"_s);
        reference = filesBelow(first.root);
    }

    int shown = 0;
    for (long k = options.at > 0 ? options.at : 1; k <= row.points; k += options.at > 0 ? row.points : options.stride) {
        QTemporaryDir folder;
        Trial first, other;
        QString error;
        if (!prepareBoth(folder.path(), &first, &other, &error))
            return failed(error);
        QString why;
        bool recovered = true;
        QList<RunResult> secondRuns;
        bool pausedDeleteAll = false; // the second ran while a delete-all was stopped
        long before = 0;
        for (qsizetype i = 0; i < first.steps.size(); ++i) {
            const Step &step = first.steps.at(i);
            const bool here = k > before && k <= before + counts.at(i);
            pausedDeleteAll = pausedDeleteAll || (here && step.args.value(0) == u"delete-all");
            const RunResult r = here ? runner.runPaused(first.root, step.program, step.args, k - before, [&] {
                for (const Step &otherStep : std::as_const(other.steps))
                    secondRuns << runner.run(other.root, otherStep.program, otherStep.args);
            })
                                     : runner.run(first.root, step.program, step.args);
            recovered = recover(first, step, r, runner, &why) && recovered;
            before += counts.at(i);
        }
        // A second writer that was refused (the first held the lock) is run again, as a user would.
        for (qsizetype i = 0; i < other.steps.size(); ++i) {
            const RunResult r = i < secondRuns.size() ? secondRuns.at(i) : runner.run(other.root, other.steps[i].program,
                                                                                       other.steps[i].args);
            recovered = recover(other, other.steps.at(i), r, runner, &why) && recovered;
        }
        Damage damage = inspectBoth(first, other, pausedDeleteAll, subjectsOf(servers.mailboxMessages()), reference);
        ++row.tried;
        if (!recovered) {
            ++row.unrecovered;
            damage.details.prepend(why);
        }
        if ((damage.any() || !recovered) && shown++ < options.details)
            say(u"  %1 k=%2: %3"_s.arg(row.op).arg(k).arg(damage.details.mid(0, 3).join(u"; "_s)));
        row.damage.add(damage);
    }
    return row;
}

bool parse(const QCoreApplication &app, QCommandLineParser &parser, Options *options, QString *cli,
           QString *faultOp, QString *shim)
{
    parser.setApplicationDescription(u"Fails or kills every counted file call of Hollin's writing operations"_s);
    parser.addHelpOption();
    parser.addOption({u"cli"_s, u"path of hollin-cli"_s, u"path"_s});
    parser.addOption({u"faultop"_s, u"path of hollin-faultop"_s, u"path"_s});
    parser.addOption({u"shim"_s, u"path of libhollin_faultinject.so"_s, u"path"_s});
    parser.addOption({u"ops"_s, u"operations, comma separated: "_s + Operations::names().join(u','), u"list"_s,
                      Operations::names().join(u',')});
    parser.addOption({u"faults"_s, u"enospc,eio,kill,full,powerloss or a part of it"_s, u"list"_s, u"enospc,eio,kill,full"_s});
    parser.addOption({u"second"_s, u"instead of faults, a second writer at every point: "_s
                          + Operations::secondWriters().join(u','), u"list"_s});
    parser.addOption({u"stride"_s, u"try every n-th counted call"_s, u"n"_s, u"1"_s});
    parser.addOption({u"at"_s, u"try only this counted call"_s, u"k"_s, u"0"_s});
    parser.addOption({u"mails"_s, u"mails (or entries) per operation, at least 2"_s, u"n"_s, u"3"_s});
    parser.addOption({u"details"_s, u"damaged points shown per operation"_s, u"n"_s, u"20"_s});
    parser.process(app);
    *cli = parser.value(u"cli"_s);
    *faultOp = parser.value(u"faultop"_s);
    *shim = parser.value(u"shim"_s);
    options->ops = parser.value(u"ops"_s).split(u',', Qt::SkipEmptyParts);
    options->seconds = parser.value(u"second"_s).split(u',', Qt::SkipEmptyParts);
    for (const QString &second : std::as_const(options->seconds)) {
        if (!Operations::secondWriters().contains(second))
            return false;
    }
    options->stride = parser.value(u"stride"_s).toInt();
    options->at = parser.value(u"at"_s).toLong();
    options->details = parser.value(u"details"_s).toInt();
    for (const QString &name : parser.value(u"faults"_s).split(u',', Qt::SkipEmptyParts)) {
        for (const FaultKind kind : {FaultKind::Enospc, FaultKind::Eio, FaultKind::Kill, FaultKind::Full,
                                     FaultKind::Powerloss}) {
            if (faultName(kind) == name)
                options->faults << kind;
        }
    }
    for (const QString &op : std::as_const(options->ops)) {
        if (!Operations::names().contains(op))
            return false;
    }
    return !cli->isEmpty() && !faultOp->isEmpty() && !shim->isEmpty() && options->stride >= 1
        && !options->faults.isEmpty() && !options->ops.isEmpty();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    Options options;
    QString cli, faultOp, shim;
    if (!parse(app, parser, &options, &cli, &faultOp, &shim)) {
        std::fprintf(stderr, "faultsweep: --cli, --faultop and --shim are required; see --help for the rest\n");
        return 2;
    }
    const int mails = parser.value(u"mails"_s).toInt();

    TestMailServers servers;
    TestMailServers::Options serverOptions;
    QString error;
    if (!servers.start(serverOptions, &error)) {
        std::fprintf(stderr, "faultsweep: %s\n", qPrintable(error));
        return 2;
    }
    NoUidlProxy noUidl;
    FaultRunner runner(QFileInfo(shim).absoluteFilePath(), QFileInfo(cli).absoluteFilePath(),
                       QFileInfo(faultOp).absoluteFilePath());
    if (!noUidl.start(servers.pop3Port()) || !runner.isValid()) {
        std::fprintf(stderr, "faultsweep: cannot start the relay without UIDL or make a scratch folder\n");
        return 2;
    }
    Operations operations(servers, noUidl, runner, mails);

    QList<Row> rows;
    QElapsedTimer timer;
    timer.start();
    for (const QString &op : std::as_const(options.ops)) {
        const QStringList seconds = options.seconds.isEmpty() ? QStringList{QString()} : options.seconds;
        for (const QString &second : seconds) {
            rows << (second.isEmpty() ? sweep(op, options, operations, runner, servers)
                                      : sweepPair(op, second, options, operations, runner, servers));
            if (!rows.last().failure.isEmpty())
                say(u"  %1: %2"_s.arg(rows.last().op, rows.last().failure));
        }
    }

    say(u"\n%1 %2 %3 %4 %5 %6 %7 %8 %9 %10"_s.arg(u"operation"_s, -26).arg(u"points"_s, 6).arg(u"tried"_s, 6)
            .arg(u"lost"_s, 5).arg(u"dup"_s, 5).arg(u"revived"_s, 7).arg(u"att-lost"_s, 8).arg(u"corrupt"_s, 7)
            .arg(u"debris"_s, 6).arg(u"unrecovered"_s, 11));
    bool clean = true;
    for (const Row &r : std::as_const(rows)) {
        if (!r.failure.isEmpty()) {
            say(u"%1 (could not run)"_s.arg(r.op, -26));
            clean = false;
            continue;
        }
        const Damage &d = r.damage;
        say(u"%1 %2 %3 %4 %5 %6 %7 %8 %9 %10"_s.arg(r.op, -26).arg(r.points, 6).arg(r.tried, 6).arg(d.lost, 5)
                .arg(d.duplicated, 5).arg(d.revived, 7).arg(d.attachmentsLost, 8).arg(d.corrupt, 7).arg(d.debris, 6)
                .arg(r.unrecovered, 11));
        clean = clean && !d.any() && r.unrecovered == 0;
    }
    say(u"(stride %1, %2 mails or entries per operation, %3 s)"_s.arg(options.stride).arg(qMax(2, mails))
            .arg(timer.elapsed() / 1000));
    return clean ? 0 : 1;
}
