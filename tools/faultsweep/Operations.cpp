#include "Operations.h"

#include "NoUidlProxy.h"
#include "SettingsSample.h"
#include "TestMailServers.h"

#include "storage/DataRoot.h"
#include "storage/ProfileFile.h"
#include "storage/ServerSettings.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

QString mailId(int i)
{
    return u"fs-%1"_s.arg(i);
}

ExpectedAttachment attachmentOf(int i)
{
    return {u"a%1.txt"_s.arg(i), QByteArray("attachment of fs-") + QByteArray::number(i) + "\r\n"};
}

QByteArray head(const QString &id)
{
    return "From: Sender <sender@example.jp>\r\nTo: alice@example.jp\r\nSubject: " + id.toLatin1()
        + "\r\nDate: Mon, 7 Dec 2026 09:00:00 +0900\r\nMessage-ID: <" + id.toLatin1()
        + "@example.jp>\r\nMIME-Version: 1.0\r\n";
}

QByteArray plainMail(const QString &id)
{
    return head(id) + "Content-Type: text/plain; charset=US-ASCII\r\n\r\nbody of " + id.toLatin1() + "\r\n"
        + QByteArray(600, 'x') + "\r\n";
}

QByteArray mailWithAttachment(const QString &id, const ExpectedAttachment &attachment)
{
    return head(id) + "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n--b1\r\n"
        "Content-Type: text/plain; charset=US-ASCII\r\n\r\nbody of " + id.toLatin1() + "\r\n--b1\r\n"
        "Content-Type: application/octet-stream; name=\"" + attachment.fileName.toLatin1() + "\"\r\n"
        "Content-Disposition: attachment; filename=\"" + attachment.fileName.toLatin1() + "\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" + attachment.content.toBase64() + "\r\n--b1--\r\n";
}

// A mail split in two (message/partial): the second part carries the
// attachment, written once the set is complete.
QList<QByteArray> splitMail(const QString &first, const QString &second, const ExpectedAttachment &attachment)
{
    const QByteArray set = "set-" + first.toLatin1() + "@example.jp";
    auto part = [&](const QString &id, int number) {
        return head(id) + "Content-Type: message/partial; id=\"" + set + "\"; number=" + QByteArray::number(number)
            + "; total=2\r\n\r\n";
    };
    return {part(first, 1) + "Subject: whole of " + first.toLatin1() + "\r\nMIME-Version: 1.0\r\n"
                "Content-Type: multipart/mixed; boundary=XX\r\n\r\n--XX\r\nContent-Type: text/plain\r\n\r\n"
                "first half\r\n",
            part(second, 2) + "--XX\r\nContent-Type: application/octet-stream\r\n"
                "Content-Disposition: attachment; filename=" + attachment.fileName.toLatin1() + "\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\n" + attachment.content.toBase64() + "\r\n--XX--\r\n"};
}

// The mails of the shapes operations from id number first on, in order (one
// of them twice), and what each must leave.
QList<QByteArray> shapeMails(int first, Expectation *expected)
{
    auto id = [&](int i) { return mailId(first + i); };
    QList<QByteArray> mails;
    const ExpectedAttachment whole{u"whole-%1.bin"_s.arg(first + 1), "the split attachment of " + id(1).toLatin1() + "\r\n"};
    mails += splitMail(id(0), id(1), whole);
    expected->attachments.insert(id(1), whole);
    // Past what a record holds: the whole body is kept in a file of its own.
    QByteArray big;
    for (int line = 0; big.size() < 40000; ++line)
        big += "line " + QByteArray::number(line) + " of a long body\r\n";
    mails << head(id(2)) + "Content-Type: text/plain; charset=US-ASCII\r\n\r\n" + big + "end of " + id(2).toLatin1() + "\r\n";
    expected->fullTexts.insert(id(2), u"end of "_s + id(2));
    // Characters CP932 lacks.
    mails << head(id(3)) + "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
            + u"絵文字 😀 と café\r\n"_s.toUtf8();
    expected->fullTexts.insert(id(3), u"😀 と café"_s);
    mails << mailWithAttachment(id(4), attachmentOf(first + 4));
    expected->attachments.insert(id(4), attachmentOf(first + 4));
    // The same mail twice: stored once.
    mails << plainMail(id(5)) << plainMail(id(5));
    for (int i = 0; i <= 5; ++i)
        expected->ids << id(i);
    return mails;
}

Step step(Program program, const QStringList &args, Recovery recovery)
{
    Step s;
    s.program = program;
    s.args = args;
    s.recovery = recovery;
    return s;
}

QString entryName(int i)
{
    return u"n-%1"_s.arg(i);
}

QString heldSubject(int i)
{
    return u"h-%1"_s.arg(i);
}

QString sentSubject(int i)
{
    return u"s-%1"_s.arg(i);
}

QStringList sendArgs(int i)
{
    return {u"send"_s, u"--to"_s, u"bob@example.jp"_s, u"--subject"_s, sentSubject(i), u"--body"_s,
            u"本文 "_s + sentSubject(i)};
}

} // namespace

Operations::Operations(TestMailServers &servers, NoUidlProxy &noUidl, FaultRunner &runner, int mails)
    : m_servers(servers), m_noUidl(noUidl), m_runner(runner), m_mails(qMax(2, mails))
{
}

QStringList Operations::names()
{
    return {u"receive"_s, u"receive-attach"_s, u"receive-keep"_s, u"receive-nouidl"_s, u"receive-shapes"_s,
            u"delete-receive"_s, u"deleteall-receive"_s, u"import"_s, u"import-shapes"_s, u"held-save"_s, u"held-delete"_s, u"addr-add"_s,
            u"addr-delete"_s, u"settings"_s, u"send"_s};
}

QStringList Operations::deleteArgs(Store store, int n)
{
    switch (store) {
    case Store::Received:
        return {u"delete"_s, QString::number(n)};
    case Store::Held:
        return {u"delete"_s, QString::number(n), u"--held"_s};
    case Store::Address:
        return {u"addr"_s, u"delete"_s, QString::number(n)};
    case Store::Sent: // kept, never deleted
        break;
    }
    return {};
}

bool Operations::prepareRoot(const QString &root, const QString &pop3Server, QString *error)
{
    const DataRoot data(root);
    ServerSettings settings;
    settings.pop3Server = pop3Server;
    settings.smtpServer = m_servers.smtpServer();
    settings.mailAddress = u"alice@example.jp"_s;
    ProfileFile account(data.idPassIniFile(), true);
    Error err;
    if (data.ensureTree(&err) && settings.write(data.serverSettingsFile(), &err)
        && account.writeText(u"NAME"_s, m_servers.user(), &err)
        && account.writeText(u"NAME2"_s, m_servers.password(), &err))
        return true;
    *error = err.text();
    return false;
}

bool Operations::clearMailbox(QString *error)
{
    for (const QString &sub : {u"/new"_s, u"/cur"_s}) {
        QDir dir(m_servers.maildirPath() + sub);
        for (const QString &name : dir.entryList(QDir::Files))
            dir.remove(name);
    }
    if (m_servers.mailboxMessages().isEmpty())
        return true;
    *error = u"the test mailbox could not be emptied"_s;
    return false;
}

void Operations::deliverMails(int first, int count, bool attachments, Expectation *expected)
{
    for (int i = first; i < first + count; ++i) {
        const QString id = mailId(i);
        if (attachments) {
            expected->attachments.insert(id, attachmentOf(i));
            m_servers.deliver(mailWithAttachment(id, attachmentOf(i)));
        } else {
            m_servers.deliver(plainMail(id));
        }
        expected->ids << id;
    }
}

bool Operations::run(const QString &root, Program program, const QStringList &args, QString *error)
{
    const RunResult r = m_runner.run(root, program, args);
    if (r.ok())
        return true;
    *error = u"setup \"%1\" failed: %2"_s.arg(args.join(u' '), r.errorText);
    return false;
}

// A receive killed halfway through, as a crash or a power cut leaves it:
// its mails partly stored, partly still on the server.
bool Operations::afterKilledReceive(const QString &root, QString *error)
{
    const QStringList receive{u"receive"_s, u"--allow-plain"_s};
    if (m_killPoint == 0) {
        // Measured once on a copy of the same state.
        QDir scratch(root + u"-count"_s);
        if (!QDir().mkpath(scratch.path()) || !prepareRoot(scratch.path(), m_servers.pop3Server(), error))
            return false;
        const RunResult counted = m_runner.runWithShim(QFileInfo(scratch.path()).canonicalFilePath(), Program::Cli,
                                                       receive, FaultKind::None, 0);
        scratch.removeRecursively();
        if (!counted.ok() || counted.counted < 2) {
            *error = u"counting the interrupted receive failed: "_s + counted.errorText;
            return false;
        }
        m_killPoint = counted.counted / 2;
        Expectation ignored;
        if (!clearMailbox(error))
            return false;
        deliverMails(m_mails + 1, m_mails, false, &ignored);
    }
    const RunResult killed = m_runner.runWithShim(root, Program::Cli, receive, FaultKind::Kill, m_killPoint);
    if (killed.finished) {
        *error = u"the interrupted receive was not killed"_s;
        return false;
    }
    return true;
}

QStringList Operations::secondWriters()
{
    // Not the settings sample: it changes the servers and the account the first operation uses.
    return {u"receive"_s, u"import"_s, u"held-save"_s, u"addr-add"_s, u"send"_s};
}

bool Operations::prepare(const QString &name, const QString &folder, Trial *trial, QString *error)
{
    *trial = Trial();
    trial->root = folder + u"/root"_s;
    if (!QDir().mkpath(trial->root) || !clearMailbox(error))
        return false;
    trial->root = QFileInfo(trial->root).canonicalFilePath();
    const bool noUidl = name == u"receive-nouidl";
    if (!prepareRoot(trial->root, noUidl ? m_noUidl.server() : m_servers.pop3Server(), error))
        return false;
    return addOperation(name, folder, trial, error);
}

bool Operations::prepareSecond(const QString &name, const QString &folder, const QString &root, Trial *trial,
                               QString *error)
{
    *trial = Trial();
    trial->root = root;
    if (!secondWriters().contains(name) || !QDir().mkpath(folder)) {
        *error = u"no second writer called "_s + name;
        return false;
    }
    // Its own ids: the first operation's stay apart.
    m_idBase = 100;
    const bool ok = addOperation(name, folder, trial, error);
    m_idBase = 0;
    return ok;
}

bool Operations::addOperation(const QString &name, const QString &folder, Trial *trial, QString *error)
{
    const QString &root = trial->root;
    Expectation &expected = trial->expected;

    if (name == u"receive-shapes") {
        for (const QByteArray &mail : shapeMails(m_idBase + 1, &expected))
            m_servers.deliver(mail);
        trial->steps << step(Program::Cli, {u"receive"_s, u"--allow-plain"_s}, Recovery::Rerun);
        return true;
    }
    if (name.startsWith(u"receive")) {
        deliverMails(m_idBase + 1, m_mails, name == u"receive-attach", &expected);
        trial->steps << step(Program::Cli, {u"receive"_s, u"--allow-plain"_s}, Recovery::Rerun);
        if (name == u"receive-keep")
            trial->steps.last().args << u"--keep"_s;
        return true;
    }
    if (name == u"delete-receive" || name == u"deleteall-receive") {
        deliverMails(m_idBase + 1, m_mails, false, &expected);
        if (!run(root, Program::Cli, {u"receive"_s, u"--allow-plain"_s}, error))
            return false;
        deliverMails(m_idBase + m_mails + 1, m_mails, false, &expected);
        if (!afterKilledReceive(root, error))
            return false;
        const QStringList stored = liveIds(root, Store::Received);
        if (stored.isEmpty()) {
            *error = u"nothing stored before the deletion"_s;
            return false;
        }
        if (name == u"delete-receive") {
            expected.gone.insert(stored.first());
            trial->steps << Step{Program::Cli, deleteArgs(Store::Received, 1), Recovery::DeleteById,
                                 Store::Received, stored.first()};
        } else {
            expected.gone = QSet<QString>(stored.cbegin(), stored.cend());
            trial->steps << step(Program::Cli, {u"delete-all"_s}, Recovery::RerunIfFailed);
        }
        trial->steps << step(Program::Cli, {u"receive"_s, u"--allow-plain"_s}, Recovery::Rerun);
        return true;
    }
    if (name == u"import" || name == u"import-shapes") {
        QList<QByteArray> mails;
        if (name == u"import-shapes")
            mails = shapeMails(m_idBase + 1, &expected);
        for (int i = 1; name == u"import" && i <= m_mails; ++i) {
            const QString id = mailId(m_idBase + i);
            mails << (i % 2 ? mailWithAttachment(id, attachmentOf(m_idBase + i)) : plainMail(id));
            if (i % 2)
                expected.attachments.insert(id, attachmentOf(m_idBase + i));
            expected.ids << id;
        }
        QByteArray mbox;
        for (QByteArray &raw : mails)
            mbox += "From sender@example.jp Mon Dec  7 09:00:00 2026\n" + raw.replace("\r\n", "\n") + "\n";
        const QString path = folder + u"/in.mbox"_s;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(mbox) != mbox.size()) {
            *error = u"cannot write "_s + path;
            return false;
        }
        trial->steps << step(Program::Cli, {u"import"_s, path}, Recovery::RerunIfFailed);
        return true;
    }
    if (name == u"held-save" || name == u"held-delete") {
        expected.store = Store::Held;
        for (int i = 1; i <= m_mails; ++i) {
            expected.ids << heldSubject(m_idBase + i);
            if (!run(root, Program::FaultOp, {u"held-save"_s, heldSubject(m_idBase + i)}, error))
                return false;
        }
        if (name == u"held-save") {
            expected.ids << heldSubject(m_idBase + m_mails + 1);
            trial->steps << step(Program::FaultOp, {u"held-save"_s, heldSubject(m_idBase + m_mails + 1)}, Recovery::RerunIfFailed);
            trial->steps.last().store = Store::Held;
            trial->steps.last().id = heldSubject(m_idBase + m_mails + 1);
        } else {
            expected.gone.insert(heldSubject(m_idBase + 2));
            trial->steps << Step{Program::Cli, deleteArgs(Store::Held, 2), Recovery::DeleteById, Store::Held,
                                 heldSubject(m_idBase + 2)};
        }
        return true;
    }
    if (name == u"addr-add" || name == u"addr-delete") {
        expected.store = Store::Address;
        for (int i = 1; i <= m_mails; ++i) {
            expected.ids << entryName(m_idBase + i);
            if (!run(root, Program::Cli, {u"addr"_s, u"add"_s, entryName(m_idBase + i), entryName(m_idBase + i) + u"@example.jp"_s}, error))
                return false;
        }
        if (name == u"addr-add") {
            const QString added = entryName(m_idBase + m_mails + 1);
            expected.ids << added;
            trial->steps << step(Program::Cli, {u"addr"_s, u"add"_s, added, added + u"@example.jp"_s},
                                 Recovery::RerunIfFailed);
            trial->steps.last().store = Store::Address;
            trial->steps.last().id = added;
        } else {
            expected.gone.insert(entryName(m_idBase + 2));
            trial->steps << Step{Program::Cli, deleteArgs(Store::Address, 2), Recovery::DeleteById, Store::Address,
                                 entryName(m_idBase + 2)};
        }
        return true;
    }
    if (name == u"send") {
        expected.store = Store::Sent;
        for (int i = 1; i <= m_mails; ++i) {
            expected.ids << sentSubject(m_idBase + i);
            if (!run(root, Program::Cli, sendArgs(m_idBase + i), error))
                return false;
        }
        // The mail reaches the server before its copy is written: a user who
        // finds no copy in 送信済み sends it again.
        expected.ids << sentSubject(m_idBase + m_mails + 1);
        trial->steps << Step{Program::Cli, sendArgs(m_idBase + m_mails + 1), Recovery::RerunIfMissing, Store::Sent,
                             sentSubject(m_idBase + m_mails + 1)};
        return true;
    }
    if (name == u"settings") {
        Error err;
        if (!settingssample::writeUntouchedKey(DataRoot(root), &err)) {
            *error = err.text();
            return false;
        }
        // The first write creates the files; the step replaces them.
        if (!run(root, Program::FaultOp, {u"settings"_s, u"1"_s}, error))
            return false;
        expected.store = Store::Address;
        expected.settingsTag = u"2"_s;
        trial->steps << step(Program::FaultOp, {u"settings"_s, u"2"_s}, Recovery::RerunIfFailed);
        return true;
    }
    *error = u"no operation called "_s + name;
    return false;
}

} // namespace hollin
