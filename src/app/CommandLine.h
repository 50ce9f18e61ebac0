#pragma once

#include "MailtoUrl.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace hollin {

// The arguments of hollin: --help, --version, --root DIR and mailto: links,
// besides Qt's own options (-platform, -style, -display …), which are left to
// Qt. Parsed before any window exists, so help and version work without a display.
class CommandLine {
public:
    enum ExitStatus { Ok = 0, Failed = 1, BadUsage = 2 };

    // args includes the program name first, as argv.
    static CommandLine parse(const QStringList &args);
    static QStringList fromArgv(int argc, char *argv[]);

    // True when the program ends at once with exitStatus(), after printing
    // output() (help, version) or error() (a usage error).
    bool endsNow() const { return m_endsNow; }
    int exitStatus() const { return m_exitStatus; }
    QString output() const { return m_output; }
    QString error() const { return m_error; }

    // What DataRoot::locate takes: {"--root", DIR}, or nothing when not given.
    QStringList rootArguments() const;
    // The links as given, for a running copy, and as parsed.
    QStringList links() const { return m_links; }
    QList<MailtoUrl> mailtos() const { return m_mailtos; }
    // Qt's -platform and -display, when given.
    QString platform() const { return m_platform; }
    bool displayGiven() const { return m_displayGiven; }

    // Writes output() to stdout and error() to stderr.
    void print() const;

private:
    void usageError(const QString &message);
    static QStringList withoutQtOptions(const QStringList &args, QString *platform, bool *displayGiven);

    bool m_endsNow = false;
    int m_exitStatus = Ok;
    QString m_output;
    QString m_error;
    QString m_root;
    QStringList m_links;
    QList<MailtoUrl> m_mailtos;
    QString m_platform;
    bool m_displayGiven = false;
};

} // namespace hollin
