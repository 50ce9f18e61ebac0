#pragma once

#include "storage/AppState.h"
#include "storage/Error.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace hollin {

// One command of hollin-cli: "hollin-cli [--root DIR] <name> <args>".
// A command writes its result to stdout (UTF-8) and returns the exit status;
// on failure it leaves files as they were and says why on stderr, in Japanese.
struct CliCommand {
    QString name;
    QString usage; // the arguments after the name, for the help text
    int (*run)(const QStringList &args, AppState &state);
};

namespace cli {

enum ExitStatus { Ok = 0, Failed = 1, BadUsage = 2 };

// Both show control characters other than tab and line feed as visible symbols.
void print(const QString &text);          // stdout
void printError(const QString &text);     // stderr
bool stderrIsTerminal();                  // stderr is a terminal, not a pipe or file
int failed(const Error &err);             // prints err, returns Failed (BadUsage after a malformed number)
int badUsage(const QString &message);     // prints message, returns BadUsage

// Removes flag from args; true when it was there.
bool takeFlag(QStringList *args, const QString &flag);

// A record number: decimal digits only (else a usage error), 1 … count.
bool parseRecordNumber(const QString &text, int count, int *number, Error *err);

// One line of a tab-separated listing: tabs and line breaks inside become spaces.
QString listField(const QString &text);

// Finishes an interrupted deletion of the record file at path (recover).
// When that restored the file, the numbers the user saw belong to the file
// kept beside it: false, and err asks to list again (what: the file's name).
bool recoverKeepingNumbers(const QString &path, const std::function<bool(Error *)> &recover, const QString &what,
                           Error *err);

// Fills the server and account values of state from hlmail.ini and iniIdPass.ini.
bool loadServerValues(AppState &state, Error *err);

} // namespace cli
} // namespace hollin
