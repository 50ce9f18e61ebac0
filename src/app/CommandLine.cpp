#include "CommandLine.h"

#include <QCommandLineParser>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

QString helpText()
{
    return u"使い方: hollin [オプション] [mailto:リンク]\n"
           u"Hollin: 日本語のメールソフト（POP3 で受信、SMTP で送信）。\n"
           u"mailto: のリンクを渡すと、宛先・件名・本文を入れた新規作成の画面を開きます。\n"
           u"Hollin が既にそのデータフォルダで動いているときは、そちらで開きます。\n"
           u"\n"
           u"オプション:\n"
           u"  -h, --help          この説明を表示して終了します。\n"
           u"  -v, --version       版数を表示して終了します。\n"
           u"  --root <フォルダ>   データフォルダ。省略すると $HOLLIN_ROOT、\n"
           u"                      プログラムのフォルダ（★MailData があるとき）、\n"
           u"                      $XDG_DATA_HOME/hollin（~/.local/share/hollin）の順です。\n"
           u"\n"
           u"終了コード: 0 正常、1 失敗、2 使い方の誤り。"_s;
}

void write(FILE *stream, const QString &text)
{
    if (text.isEmpty())
        return;
    const QByteArray utf8 = (text + u'\n').toUtf8();
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stream);
}

} // namespace

QStringList CommandLine::fromArgv(int argc, char *argv[])
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

QStringList CommandLine::withoutQtOptions(const QStringList &args, QString *platform, bool *displayGiven)
{
    // Qt's own options (QGuiApplication, QApplication, xcb), taken by Qt from argv.
    static const QStringList withValue{u"platform"_s, u"platformpluginpath"_s, u"platformtheme"_s, u"plugin"_s,
                                       u"qwindowgeometry"_s, u"qwindowicon"_s, u"qwindowtitle"_s, u"session"_s,
                                       u"style"_s, u"stylesheet"_s, u"display"_s, u"geometry"_s, u"title"_s,
                                       u"name"_s, u"visual"_s};
    static const QStringList alone{u"reverse"_s, u"widgetcount"_s, u"nograb"_s, u"dograb"_s, u"sync"_s};
    QStringList kept;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const QString bare = arg.startsWith(u"--"_s) ? arg.mid(2) : arg.startsWith(u'-') ? arg.mid(1) : QString();
        const QString name = bare.section(u'=', 0, 0);
        if (i > 0 && withValue.contains(name)) {
            const bool joined = bare.contains(u'=');
            const QString value = joined ? bare.section(u'=', 1) : args.value(i + 1);
            if (name == u"platform")
                *platform = value;
            if (name == u"display")
                *displayGiven = true;
            if (!joined)
                ++i;
        } else if (i == 0 || !alone.contains(bare)) {
            kept << arg;
        }
    }
    return kept;
}

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine line;
    const QStringList args = withoutQtOptions(arguments, &line.m_platform, &line.m_displayGiven);
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{u"h"_s, u"help"_s});
    const QCommandLineOption version(QStringList{u"v"_s, u"version"_s});
    const QCommandLineOption root(u"root"_s, QString(), u"フォルダ"_s);
    parser.addOptions({help, version, root});

    if (!parser.parse(args)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (unknown.isEmpty() && args.contains(u"--root"_s)) {
            line.usageError(u"--root の後にフォルダを指定してください。"_s);
            return line;
        }
        line.usageError(unknown.isEmpty()
                            ? u"オプションの指定が正しくありません: "_s + parser.errorText()
                            : u"「%1%2」というオプションはありません。"_s.arg(unknown.first().size() == 1 ? u"-"_s : u"--"_s, unknown.first()));
        return line;
    }
    if (parser.isSet(help)) {
        line.m_endsNow = true;
        line.m_output = helpText();
        return line;
    }
    if (parser.isSet(version)) {
        line.m_endsNow = true;
        line.m_output = u"hollin "_s + QStringLiteral(HOLLIN_VERSION);
        return line;
    }
    line.m_root = parser.value(root);
    if (parser.isSet(root) && line.m_root.isEmpty()) {
        line.usageError(u"--root の後にフォルダを指定してください。"_s);
        return line;
    }
    for (const QString &argument : parser.positionalArguments()) {
        const std::optional<MailtoUrl> mailto = MailtoUrl::parse(argument);
        if (!mailto) {
            line.usageError(u"「%1」は mailto: のリンクではありません。"_s.arg(argument));
            return line;
        }
        line.m_links << argument;
        line.m_mailtos << *mailto;
    }
    return line;
}

void CommandLine::usageError(const QString &message)
{
    m_endsNow = true;
    m_exitStatus = BadUsage;
    m_error = message + u"\n使い方: hollin [--root フォルダ] [mailto:リンク]（詳しくは hollin --help）"_s;
}

QStringList CommandLine::rootArguments() const
{
    return m_root.isEmpty() ? QStringList() : QStringList{u"--root"_s, m_root};
}

void CommandLine::print() const
{
    write(stdout, m_output);
    write(stderr, m_error);
}

} // namespace hollin
