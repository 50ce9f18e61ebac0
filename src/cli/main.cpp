// hollin-cli: the stored mail and addresses from a terminal, with the program's own code.
#include "Command.h"

#include <QCoreApplication>

using namespace Qt::StringLiterals;

// Every command, one line each; CliCommand <name>() is defined in the command's own file.
#define HOLLIN_CLI_COMMANDS(X) \
    X(countCommand)            \
    X(listCommand)             \
    X(searchCommand)           \
    X(showCommand)             \
    X(deleteCommand)           \
    X(deleteAllCommand)        \
    X(addrCommand)             \
    X(sendCommand)             \
    X(receiveCommand)          \
    X(exportMboxCommand)       \
    X(importCommand)           \
    X(decodeCommand)

namespace hollin {
#define HOLLIN_DECLARE_COMMAND(f) CliCommand f();
HOLLIN_CLI_COMMANDS(HOLLIN_DECLARE_COMMAND)
#undef HOLLIN_DECLARE_COMMAND
} // namespace hollin

namespace {

QList<hollin::CliCommand> commands()
{
#define HOLLIN_COMMAND_ENTRY(f) hollin::f(),
    return {HOLLIN_CLI_COMMANDS(HOLLIN_COMMAND_ENTRY)};
#undef HOLLIN_COMMAND_ENTRY
}

QString usage()
{
    QString text = u"使い方: hollin-cli [--root フォルダ] コマンド …\n"_s;
    for (const hollin::CliCommand &c : commands())
        text += u"  "_s + c.name + u' ' + c.usage + u'\n';
    return text.trimmed();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);

    QStringList rootArgs;
    for (qsizetype at = 0; at < args.size(); ++at) {
        if (args.at(at).startsWith(u"--root=")) {
            rootArgs = args.mid(at, 1);
            args.remove(at);
            break;
        }
        if (args.at(at) == u"--root") {
            if (at + 1 >= args.size())
                return hollin::cli::badUsage(u"--root の後にフォルダを指定してください。"_s);
            rootArgs = args.mid(at, 2);
            args.remove(at, 2);
            break;
        }
    }
    if (args.isEmpty())
        return hollin::cli::badUsage(usage());
    if (args.first() == u"help" || args.first() == u"--help") {
        hollin::cli::print(usage());
        return hollin::cli::Ok;
    }

    const QList<hollin::CliCommand> all = commands();
    const auto command = std::find_if(all.cbegin(), all.cend(), [&](const hollin::CliCommand &c) {
        return c.name == args.first();
    });
    if (command == all.cend())
        return hollin::cli::badUsage(u"「%1」というコマンドはありません。\n"_s.arg(args.first()) + usage());

    hollin::AppState state;
    state.root = hollin::DataRoot::locate(rootArgs, QCoreApplication::applicationDirPath());
    hollin::Error err;
    if (!state.root.ensureTree(&err))
        return hollin::cli::failed(err);
    return command->run(args.mid(1), state);
}
