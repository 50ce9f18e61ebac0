// hollin-cli: the stored mail and addresses from a terminal, with the program's own code.
#include "Command.h"

#include "storage/StorageNotice.h"

#include <QCommandLineParser>
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
    X(checkCommand)            \
    X(passwordToFileCommand)   \
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

QString help()
{
    return usage()
        + u"\n\nHollin の受信箱・下書き・アドレス帳を端末から扱います。\n"
          u"\nオプション:\n"
          u"  -h, --help          この説明を表示して終了します（help コマンドも同じ）。\n"
          u"  -v, --version       版数を表示して終了します。\n"
          u"  --root <フォルダ>   データフォルダ。省略すると $HOLLIN_ROOT、\n"
          u"                      プログラムのフォルダ（★MailData があるとき）、\n"
          u"                      $XDG_DATA_HOME/hollin（~/.local/share/hollin）の順です。\n"
          u"\n終了コード: 0 正常、1 失敗、2 使い方の誤り。"_s;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(HOLLIN_VERSION));

    // Options come before the command; everything after it belongs to the command.
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption helpOption(QStringList{u"h"_s, u"help"_s});
    const QCommandLineOption versionOption(QStringList{u"v"_s, u"version"_s});
    const QCommandLineOption rootOption(u"root"_s, QString(), u"フォルダ"_s);
    parser.addOptions({helpOption, versionOption, rootOption});
    if (!parser.parse(app.arguments())) {
        const QStringList unknown = parser.unknownOptionNames();
        if (unknown.isEmpty() && app.arguments().contains(u"--root"_s))
            return hollin::cli::badUsage(u"--root の後にフォルダを指定してください。"_s);
        return hollin::cli::badUsage((unknown.isEmpty() ? parser.errorText()
                                                        : u"「%1%2」というオプションはありません。"_s.arg(unknown.first().size() == 1 ? u"-"_s : u"--"_s, unknown.first()))
                                     + u'\n' + usage());
    }
    const QStringList args = parser.positionalArguments();
    if (parser.isSet(helpOption) || (!args.isEmpty() && args.first() == u"help")) {
        hollin::cli::print(help());
        return hollin::cli::Ok;
    }
    if (parser.isSet(versionOption)) {
        hollin::cli::print(u"hollin-cli "_s + QCoreApplication::applicationVersion());
        return hollin::cli::Ok;
    }
    if (parser.isSet(rootOption) && parser.value(rootOption).isEmpty())
        return hollin::cli::badUsage(u"--root の後にフォルダを指定してください。"_s);
    if (args.isEmpty())
        return hollin::cli::badUsage(usage());

    const QList<hollin::CliCommand> all = commands();
    const auto command = std::find_if(all.cbegin(), all.cend(), [&](const hollin::CliCommand &c) {
        return c.name == args.first();
    });
    if (command == all.cend())
        return hollin::cli::badUsage(u"「%1」というコマンドはありません。\n"_s.arg(args.first()) + usage());

    hollin::storagenotice::setHandler(hollin::cli::printError);
    hollin::AppState state;
    QStringList rootArgs;
    if (parser.isSet(rootOption))
        rootArgs << u"--root"_s << parser.value(rootOption);
    // Commands that write make the data folder's tree themselves: reading one
    // the user may not write to creates nothing.
    state.root = hollin::DataRoot::locate(rootArgs, QCoreApplication::applicationDirPath());
    return command->run(args.mid(1), state);
}
