#include "Command.h"

#include "storage/AccountStore.h"
#include "storage/FileIo.h"
#include "storage/FileStamp.h"
#include "storage/ProfileFile.h"
#include "storage/ServerSettings.h"
#include "storage/TextUtil.h"

#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace hollin::cli {

namespace {

// A command ends at its first error, so the one error failed() reports is the
// one that set this: a malformed argument, which is a usage error.
bool badInputSeen = false;

// Text from mail reaches the terminal as text only: a C0 or C1 control (the
// start of an escape sequence that retitles or clears the terminal) prints as
// a visible symbol; tab and line feed stay.
QString visibleControls(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\t' || u == u'\n')
            out += c;
        else if (u < 0x20)
            out += QChar(0x2400 + u); // the control pictures: ␛ for ESC
        else if (u == 0x7F)
            out += QChar(0x2421); // ␡
        else if (u >= 0x80 && u <= 0x9F)
            out += QChar(0xFFFD);
        else
            out += c;
    }
    return out;
}

} // namespace

void print(const QString &text)
{
    const QByteArray utf8 = (visibleControls(text) + u'\n').toUtf8();
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stdout);
}

void printError(const QString &text)
{
    const QByteArray utf8 = (visibleControls(text) + u'\n').toUtf8();
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stderr);
}

bool stderrIsTerminal()
{
    return isatty(fileno(stderr)) == 1;
}

int failed(const Error &err)
{
    printError(err.text());
    return badInputSeen ? BadUsage : Failed;
}

int badUsage(const QString &message)
{
    printError(message);
    return BadUsage;
}

bool takeFlag(QStringList *args, const QString &flag)
{
    return args->removeAll(flag) > 0;
}

bool parseRecordNumber(const QString &text, int count, int *number, Error *err)
{
    bool digitsOnly = !text.isEmpty();
    for (QChar c : text)
        digitsOnly = digitsOnly && c >= u'0' && c <= u'9';
    if (!digitsOnly) {
        badInputSeen = true;
        return fail(err, u"番号「%1」が正しくありません。1 以上の数字で指定してください。"_s.arg(text));
    }
    *number = text.size() <= 9 ? text.toInt() : 0;
    if (*number < 1 || *number > count)
        return fail(err, u"%1 番はありません（全 %2 件）。"_s.arg(*number ? QString::number(*number) : text).arg(count));
    return true;
}

QString listField(const QString &text)
{
    QString field = trimSpaces(cutAtNul(text));
    for (QChar &c : field) {
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    }
    return field;
}

bool recoverKeepingNumbers(const QString &path, const std::function<bool(Error *)> &recover, const QString &what,
                           Error *err)
{
    const FileStamp shown = FileStamp::of(path);
    if (!recover(err))
        return false;
    const FileStamp now = FileStamp::of(path);
    if (now.inode == shown.inode && now.device == shown.device)
        return true;
    return fail(err, u"途中で止まっていた削除の一時ファイルから%1を元に戻したため、番号が変わりました。"
                     u"一覧を確かめてから、もう一度指定してください。"_s.arg(what));
}

bool loadServerValues(AppState &state, Error *err)
{
    Error readErr;
    const ServerSettings server = ServerSettings::read(state.root.serverSettingsFile(), &readErr);
    if (readErr.isSet()) {
        if (err)
            *err = readErr;
        return false;
    }
    state.smtpServer = server.smtpServer;
    state.pop3Server = server.pop3Server;
    state.mailAddress = server.mailAddress;
    state.apopFlag = server.apopFlag;
    const ProfileFile idPass(state.root.idPassIniFile(), true);
    if (fileio::othersCanRead(idPass.path()))
        printError(u"注意: ID とパスワードを保存したファイル「%1」は、ほかのユーザーも読める状態です。"
                   u"「chmod 600 '%1'」で自分だけが読めるようにしてください。"_s.arg(idPass.path()));
    const AccountStore::Account account = AccountStore(idPass.path()).load();
    state.accountId = account.id;
    state.accountPassword = account.password;
    return true;
}

} // namespace hollin::cli
