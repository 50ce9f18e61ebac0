// Starts a Dovecot POP3 server and an SMTP server on 127.0.0.1 that delivers
// into the same mailbox, fills the mailbox with the given messages, prints
// where the servers listen, and runs until it is terminated. Used by ./run.sh --demo.
#include "TestMailServers.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

int signalPipe[2];

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Local POP3 and SMTP servers for the Hollin demo"_s);
    parser.addHelpOption();
    parser.addOption({u"user"_s, u"POP3 account"_s, u"name"_s, u"demo"_s});
    parser.addOption({u"password"_s, u"POP3 password"_s, u"password"_s, u"demo"_s});
    parser.addOption({u"address"_s, u"mail address of the account"_s, u"address"_s, u"demo@hollin.example"_s});
    parser.addOption({u"mail"_s, u"folder of .eml files put into the mailbox in name order"_s, u"folder"_s});
    parser.process(app);

    hollin::TestMailServers servers;
    hollin::TestMailServers::Options options;
    options.user = parser.value(u"user"_s);
    options.password = parser.value(u"password"_s);
    options.address = parser.value(u"address"_s);
    QString error;
    if (!servers.start(options, &error)) {
        std::fprintf(stderr, "mail servers: %s\n", qPrintable(error));
        return 1;
    }
    if (parser.isSet(u"mail"_s)) {
        const QDir folder(parser.value(u"mail"_s));
        for (const QString &name : folder.entryList({u"*.eml"_s}, QDir::Files, QDir::Name)) {
            QFile file(folder.filePath(name));
            if (!file.open(QIODevice::ReadOnly) || !servers.deliver(file.readAll())) {
                std::fprintf(stderr, "mail servers: cannot deliver %s\n", qPrintable(name));
                return 1;
            }
        }
    }
    std::printf("POP3=%s\nSMTP=%s\n", qPrintable(servers.pop3Server()), qPrintable(servers.smtpServer()));
    std::fflush(stdout);

    if (::pipe(signalPipe) != 0)
        return 1;
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    QSocketNotifier stop(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    app.exec();
    servers.stop();
    return 0;
}
