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

CommandLine CommandLine::parse(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{u"h"_s, u"help"_s});
    const QCommandLineOption version(QStringList{u"v"_s, u"version"_s});
    const QCommandLineOption root(u"root"_s, QString(), u"フォルダ"_s);
    parser.addOptions({help, version, root});

    CommandLine line;
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
