#pragma once

#include "FaultRunner.h"
#include "StoreCheck.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace hollin {

class NoUidlProxy;
class TestMailServers;

// What a step does when a fault may have cut it short.
enum class Recovery {
    Rerun,         // runs again whatever the first run said (a receive)
    RerunIfFailed, // runs again when it reported a failure, or was killed and its entry (if named) is missing
    DeleteById,    // deletes the step's entry again, under its current number, when it is still there
    RerunIfMissing, // runs again when its entry is missing, whatever it said (a send whose copy was not kept)
};

// One command of an operation.
struct Step {
    Program program = Program::Cli;
    QStringList args;
    Recovery recovery = Recovery::Rerun;
    Store store = Store::Received; // where the entry of id is
    QString id;                    // the entry the step adds or deletes; may be empty
};

// One run of an operation: a fresh data root, the commands, what must hold after.
struct Trial {
    QString root;
    QList<Step> steps;
    Expectation expected;
};

// The writing operations a sweep covers, each prepared on a fresh data root
// against the test servers.
class Operations {
public:
    Operations(TestMailServers &servers, NoUidlProxy &noUidl, FaultRunner &runner, int mails);

    static QStringList names();
    // The operations that can run as a second writer while another is stopped.
    static QStringList secondWriters();

    // Empties the mailbox, fills root and the server for operation name and
    // fills trial. folder holds root and any input file.
    bool prepare(const QString &name, const QString &folder, Trial *trial, QString *error);
    // The steps and expectation of operation name run as a second writer on
    // root, which prepare() made for the first; its ids differ from the first's.
    bool prepareSecond(const QString &name, const QString &folder, const QString &root, Trial *trial,
                       QString *error);

    // The args that delete entry id of store, now at record number n.
    static QStringList deleteArgs(Store store, int n);

private:
    bool addOperation(const QString &name, const QString &folder, Trial *trial, QString *error);
    bool prepareRoot(const QString &root, const QString &pop3Server, QString *error);
    bool clearMailbox(QString *error);
    void deliverMails(int first, int count, bool attachments, Expectation *expected);
    bool afterKilledReceive(const QString &root, QString *error);
    bool run(const QString &root, Program program, const QStringList &args, QString *error);

    TestMailServers &m_servers;
    NoUidlProxy &m_noUidl;
    FaultRunner &m_runner;
    int m_mails;
    int m_idBase = 0;     // added to every id made: 100 for a second writer
    long m_killPoint = 0; // where the setup's interrupted receive is killed; 0 until measured
};

} // namespace hollin
