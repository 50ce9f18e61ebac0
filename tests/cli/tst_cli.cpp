#include "compose/logic/HeldMailStore.h"
#include "storage/AddressBookFile.h"
#include "storage/DataRoot.h"
#include "storage/MailRecordFile.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

} // namespace

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void init();
    void mailCommands();
    void heldFileIsSeparate();
    void heldDeleteKeepsTheOthersExtras();
    void showReadsTheSavedFullText();
    void addressCommands();
    void controlsNeverReachTheTerminal();
    void decodeLeavesTheDataRootAlone();
    void failuresChangeNothing_data();
    void failuresChangeNothing();
    void readersLeaveAStaleCopyAlone_data();
    void readersLeaveAStaleCopyAlone();
    void writerKeepsTheDataFileBeforeRestoring();
    void rootOption();
    void passwordFileReadableByOthersIsNamed();

private:
    Run cli(const QStringList &args) const;
    QByteArray treeDigest() const;
    void leaveStaleCopies() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    DataRoot m_root;
};

void TestCli::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_root = DataRoot(m_dir->path());
    QVERIFY(m_root.ensureTree());
    MailRecordFile inbox(m_root.receivedMailFile(), m_root.receivedMailTemp());
    QCOMPARE(inbox.append({u"  会議の件"_s, u"Mon, 7 Dec 2026"_s, u"taro@example.jp"_s, u"本文です\r\n二行目"_s}), 1);
    QCOMPARE(inbox.append({u"tab\there"_s, u"Tue"_s, u"hanako\0junk"_s, u"b"_s}), 2);
    QCOMPARE(inbox.append({u"third"_s, u"Wed"_s, u"c@x"_s, u"c"_s}), 3);
}

Run TestCli::cli(const QStringList &args) const
{
    QProcess p;
    p.start(QStringLiteral(HOLLIN_CLI), QStringList{u"--root"_s, m_dir->path()} + args);
    Run r;
    if (!p.waitForFinished(30000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QByteArray TestCli::treeDigest() const
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    QDirIterator it(m_dir->path(), QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList paths;
    while (it.hasNext())
        paths << it.next();
    paths.sort();
    for (const QString &path : std::as_const(paths)) {
        hash.addData(path.toUtf8());
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            hash.addData(f.readAll());
    }
    return hash.result();
}

void TestCli::mailCommands()
{
    Run r = cli({u"count"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, u"3\n"_s);

    r = cli({u"list"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, u"1\t会議の件\ttaro@example.jp\tMon, 7 Dec 2026\n"
                    u"2\ttab here\thanako\tTue\n"
                    u"3\tthird\tc@x\tWed\n"_s);

    r = cli({u"show"_s, u"1"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, u"件名: 会議の件\n差出人: taro@example.jp\n日付: Mon, 7 Dec 2026\n\n本文です\n二行目\n"_s);

    r = cli({u"delete"_s, u"2"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(cli({u"list"_s}).out.section(u'\n', 1, 1).section(u'\t', 0, 1), u"2\tthird"_s);

    r = cli({u"delete-all"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(cli({u"count"_s}).out, u"0\n"_s);
    QCOMPARE(QFileInfo(m_root.receivedMailFile()).size(), 0);
}

// Another program deletes a held mail: the later ones keep their attachments.
void TestCli::heldDeleteKeepsTheOthersExtras()
{
    HeldMailStore store(m_root);
    QCOMPARE(store.hold({u"to"_s, u"一"_s, u"本文"_s}), 1);
    QCOMPARE(store.hold({u"to"_s, u"二"_s, u"本文"_s, u"/a.pdf"_s}), 2);
    QCOMPARE(cli({u"delete"_s, u"1"_s, u"--held"_s}).exitCode, 0);
    QCOMPARE(store.hold({u"to"_s, u"三"_s, u"本文"_s}), 2);
    HeldMail second;
    QVERIFY(store.load(1, &second));
    QCOMPARE(second.attachments, u"/a.pdf"_s);
}

void TestCli::heldFileIsSeparate()
{
    MailRecordFile held(m_root.heldMailFile(), m_root.heldMailTemp());
    QCOMPARE(held.append({u"下書き"_s, u"d"_s, u"to@x.jp"_s, u"b"_s}), 1);
    QCOMPARE(cli({u"count"_s, u"--held"_s}).out, u"1\n"_s);
    QVERIFY(cli({u"show"_s, u"--held"_s, u"1"_s}).out.startsWith(u"件名: 下書き\n宛先: to@x.jp\n"_s));
    QCOMPARE(cli({u"delete-all"_s, u"--held"_s}).exitCode, 0);
    QCOMPARE(held.count(), 0);
    QCOMPARE(cli({u"count"_s}).out, u"3\n"_s);
}

void TestCli::showReadsTheSavedFullText()
{
    // A record that lost the emoji ends with the note naming the saved UTF-8 text.
    const QString note = u"※このメールをそのまま保存できなかったため、全文を添付フォルダの「本文_1.txt」に保存しました。"_s;
    MailRecordFile inbox(m_root.receivedMailFile(), m_root.receivedMailTemp());
    QCOMPARE(inbox.append({u"笑顔〓"_s, u"d"_s, u"a@x.jp"_s, u"笑顔〓です\r\n"_s + note}), 4);
    QFile saved(m_root.attachmentFolder() + u"/本文_1.txt"_s);
    QVERIFY(saved.open(QIODevice::WriteOnly));
    saved.write(u"Subject: 笑顔😀\r\nFrom: a@x.jp\r\nDate: d\r\n\r\n笑顔😀です\r\n二行目"_s.toUtf8());
    saved.close();
    QVERIFY(cli({u"show"_s, u"4"_s}).out.endsWith(u"\n\n笑顔😀です\n二行目\n"_s));
}

void TestCli::addressCommands()
{
    Run r = cli({u"addr"_s, u"add"_s, u"山田 太郎"_s, u"名刺<yamada@example.jp>"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, u"1\n"_s);
    QCOMPARE(cli({u"addr"_s, u"add"_s, u"b"_s, u"b@x"_s}).out, u"2\n"_s);
    r = cli({u"addr"_s, u"add"_s, u"😀"_s + QString(100, u'x'), u"c@x"_s});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.err.contains(u"「?」"_s) && r.err.contains(u"90 バイト"_s), qPrintable(r.err));

    QCOMPARE(cli({u"addr"_s, u"delete"_s, u"2"_s}).exitCode, 0);
    r = cli({u"addr"_s, u"list"_s});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, u"1\t山田 太郎\t名刺<yamada@example.jp>\n2\t?"_s + QString(89, u'x') + u"\tc@x\n"_s);
}

void TestCli::controlsNeverReachTheTerminal()
{
    // Retitles the terminal and clears it, when printed raw.
    const QString attack = u"\x1B]0;owned\x07\x1B[2J"_s;
    MailRecordFile inbox(m_root.receivedMailFile(), m_root.receivedMailTemp());
    QCOMPARE(inbox.append({u"owned"_s + attack, u"d"_s, u"x@x"_s + attack, u"a\tb\r\nc"_s + attack}), 4);
    const QString shown = u"␛]0;owned␇␛[2J"_s;
    QCOMPARE(cli({u"list"_s}).out.section(u'\n', 3, 3), u"4\towned"_s + shown + u"\tx@x"_s + shown + u"\td"_s);
    QCOMPARE(cli({u"search"_s, u"owned"_s}).out, u"4\towned"_s + shown + u"\tx@x"_s + shown + u"\td\n"_s);
    // Tab and line breaks in a body stay.
    QVERIFY(cli({u"show"_s, u"4"_s}).out.endsWith(u"\n\na\tb\nc"_s + shown + u"\n"_s));
}

void TestCli::decodeLeavesTheDataRootAlone()
{
    QFile mail(m_dir->filePath(u"m.eml"_s));
    QVERIFY(mail.open(QIODevice::WriteOnly));
    mail.write("Subject: s\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
               "--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n--b\r\nContent-Type: application/octet-stream\r\n"
               "Content-Disposition: attachment; filename=a.bin\r\n\r\nxyz\r\n--b--\r\n");
    mail.close();
    // Without --attach-dir the attachment goes to a scratch folder, removed again.
    Run r = cli({u"decode"_s, mail.fileName()});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(u"\"attachments\":[\"a.bin\"]"_s), qPrintable(r.out));
    QCOMPARE(QDir(m_root.attachmentFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    const QString chosen = m_dir->filePath(u"out"_s);
    QVERIFY(QDir().mkpath(chosen));
    QCOMPARE(cli({u"decode"_s, u"--attach-dir"_s, chosen, mail.fileName()}).exitCode, 0);
    QVERIFY(QFileInfo(chosen + u"/a.bin"_s).isFile());
}

void TestCli::failuresChangeNothing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("record beyond count") << QStringList{u"delete"_s, u"4"_s} << 1 << u"4 番はありません（全 3 件）。"_s;
    QTest::newRow("record zero") << QStringList{u"delete"_s, u"0"_s} << 1 << u"0 番はありません"_s;
    QTest::newRow("not a number") << QStringList{u"show"_s, u"abc"_s} << 2 << u"番号「abc」が正しくありません"_s;
    QTest::newRow("negative") << QStringList{u"delete"_s, u"-1"_s} << 2 << u"番号「-1」"_s;
    QTest::newRow("huge") << QStringList{u"delete"_s, u"99999999999"_s} << 1 << u"99999999999 番はありません"_s;
    QTest::newRow("no number") << QStringList{u"delete"_s} << 1 << u"番号を一つ指定"_s;
    QTest::newRow("empty held file") << QStringList{u"show"_s, u"1"_s, u"--held"_s} << 1 << u"全 0 件"_s;
    QTest::newRow("address beyond count") << QStringList{u"addr"_s, u"delete"_s, u"1"_s} << 1 << u"1 番はありません"_s;
    QTest::newRow("unknown command") << QStringList{u"frobnicate"_s} << 2 << u"「frobnicate」というコマンドはありません"_s;
    QTest::newRow("bad addr use") << QStringList{u"addr"_s, u"add"_s, u"only-name"_s} << 2 << u"使い方"_s;
    QTest::newRow("extra argument") << QStringList{u"count"_s, u"5"_s} << 2 << u"余分な引数"_s;
}

void TestCli::failuresChangeNothing()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    MailRecordFile(m_root.heldMailFile(), m_root.heldMailTemp()).count();
    AddressBookFile(m_root.addressBookFile(), m_root.addressBookTemp()).count();
    const QByteArray before = treeDigest();
    const Run r = cli(args);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QVERIFY(r.out.isEmpty());
    QCOMPARE(treeDigest(), before);
}

// Temporary files holding more records than their data files, as an
// interrupted copy-then-rewrite (or one long ago) leaves them.
void TestCli::leaveStaleCopies() const
{
    auto write = [](const QString &path, const QByteArray &bytes) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), bytes.size());
    };
    QByteArray mails, entries;
    for (int i = 1; i <= 5; ++i) {
        mails += MailRecordFile::encode({u"old %1"_s.arg(i), u"d"_s, u"a@x"_s, u"b"_s});
        entries += AddressBookFile::encode({u"old %1"_s.arg(i), u"a@x"_s});
    }
    write(m_root.receivedMailTemp(), mails);
    write(m_root.heldMailTemp(), mails);
    write(m_root.addressBookTemp(), entries);
    MailRecordFile(m_root.heldMailFile(), m_root.heldMailTemp()).count();
    AddressBookFile(m_root.addressBookFile(), m_root.addressBookTemp()).count();
}

void TestCli::readersLeaveAStaleCopyAlone_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("output");
    const QString exported = QDir::temp().filePath(u"hollin-tst-cli-%1.mbox"_s.arg(QCoreApplication::applicationPid()));
    QTest::newRow("count") << QStringList{u"count"_s} << u"3\n"_s;
    QTest::newRow("count held") << QStringList{u"count"_s, u"--held"_s} << u"0\n"_s;
    QTest::newRow("list") << QStringList{u"list"_s} << u"3\tthird\tc@x\tWed\n"_s;
    QTest::newRow("show") << QStringList{u"show"_s, u"3"_s} << u"件名: third\n"_s;
    QTest::newRow("search") << QStringList{u"search"_s, u"third"_s} << u"3\tthird"_s;
    QTest::newRow("search held") << QStringList{u"search"_s, u"old"_s, u"--held"_s} << QString();
    QTest::newRow("export") << QStringList{u"export-mbox"_s, exported} << u"3 件のメールを書き出しました"_s;
    QTest::newRow("address list") << QStringList{u"addr"_s, u"list"_s} << QString();
}

void TestCli::readersLeaveAStaleCopyAlone()
{
    QFETCH(QStringList, args);
    QFETCH(QString, output);
    leaveStaleCopies();
    const QByteArray before = treeDigest();
    const Run r = cli(args);
    const bool searchFoundNothing = args.first() == u"search" && output.isEmpty();
    QCOMPARE(r.exitCode, searchFoundNothing ? 1 : 0); // as grep
    QVERIFY2(output.isEmpty() ? r.out.isEmpty() : r.out.contains(output), qPrintable(r.out));
    QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    QCOMPARE(treeDigest(), before);
    if (args.first() == u"export-mbox")
        QVERIFY(QFile::remove(args.last()));
}

void TestCli::writerKeepsTheDataFileBeforeRestoring()
{
    leaveStaleCopies();
    QFile data(m_root.receivedMailFile());
    QVERIFY(data.open(QIODevice::ReadOnly));
    const QByteArray before = data.readAll();
    // The numbers shown were those of the data file: after the restore they
    // name other mails, so nothing is deleted until the list is read again.
    const Run r = cli({u"delete"_s, u"1"_s});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(u"番号が変わりました"_s), qPrintable(r.err));
    const QStringList kept = QDir(m_root.dataFolder()).entryList({u"hlmdata2.data.before-restore-*"_s});
    QCOMPARE(kept.size(), 1);
    QCOMPARE(r.err.count(kept.first()), 1);
    QFile keptFile(QDir(m_root.dataFolder()).filePath(kept.first()));
    QVERIFY(keptFile.open(QIODevice::ReadOnly));
    QCOMPARE(keptFile.readAll(), before);
    // The copy's 5 mails, then the 3 the data file held that the copy lacks.
    QCOMPARE(cli({u"count"_s}).out, u"8\n"_s);
    QCOMPARE(cli({u"delete"_s, u"1"_s}).exitCode, 0);
    QCOMPARE(cli({u"list"_s}).out.section(u'\t', 1, 1), u"old 2"_s);
}

void TestCli::rootOption()
{
    const QString fresh = m_dir->filePath(u"fresh"_s);
    QProcess p;
    p.start(QStringLiteral(HOLLIN_CLI), {u"frobnicate"_s, u"--root="_s + fresh});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(!QFileInfo::exists(fresh));

    // Readers create nothing, so they work where the user may not write.
    for (const QStringList &reader : {QStringList{u"count"_s}, {u"list"_s, u"--held"_s}, {u"search"_s, u"x"_s},
                                      {u"addr"_s, u"list"_s}}) {
        p.start(QStringLiteral(HOLLIN_CLI), QStringList{u"--root="_s + fresh} + reader);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), reader.first() == u"search" ? 1 : 0); // nothing found
        QVERIFY2(!QFileInfo::exists(fresh), qPrintable(reader.join(u' ')));
    }
    QCOMPARE(p.readAllStandardOutput(), QByteArray());

    // A writer makes the tree, and nothing in it is for other users' eyes.
    p.start(QStringLiteral(HOLLIN_CLI), {u"--root="_s + fresh, u"addr"_s, u"add"_s, u"太郎"_s, u"taro@example.jp"_s});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    QDirIterator it(fresh, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList entries{fresh};
    while (it.hasNext())
        entries << it.next();
    QVERIFY(entries.contains(DataRoot(fresh).addressBookFile()));
    for (const QString &entry : std::as_const(entries)) {
        const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
            | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
        QVERIFY2(!(QFileInfo(entry).permissions() & others), qPrintable(entry));
    }
}

void TestCli::passwordFileReadableByOthersIsNamed()
{
    QFile idPass(m_root.idPassIniFile());
    QVERIFY(idPass.open(QIODevice::WriteOnly));
    idPass.write("[EXEINI]\r\nNAME=taro\r\nNAME2=pw\r\n");
    idPass.close();
    QVERIFY(idPass.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    const Run r = cli({u"receive"_s});
    QVERIFY2(r.err.contains(u"ほかのユーザーも読める"_s) && r.err.contains(m_root.idPassIniFile()), qPrintable(r.err));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
