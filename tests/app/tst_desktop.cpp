// The programs as the desktop and a terminal meet them: command-line options and
// exit codes of both programs, mailto: links, and a second start handing its link
// to the running copy.

#include "FreshProgram.h"
#include "InstanceChannel.h"
#include "MailtoCompose.h"
#include "MailtoUrl.h"
#include "OtherWriterWatch.h"

#include "compose/WriteForm.h"
#include "compose/logic/UnsentMail.h"
#include "panel/MainForm.h"
#include "storage/DataRoot.h"
#include "storage/MailRecordFile.h"

#include <QDir>
#include <QLocalServer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QProcess>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTest>
#include <QTextEdit>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

struct Run {
    int exitCode = -1;
    QString out, err;
};

Run run(const QString &program, const QStringList &args, const QString &platform = u"offscreen"_s)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (platform.isEmpty()) { // no window system at all
        for (const QString &name : {u"QT_QPA_PLATFORM"_s, u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s})
            env.remove(name);
    } else {
        env.insert(u"QT_QPA_PLATFORM"_s, platform);
    }
    p.setProcessEnvironment(env);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private slots:
    void commandLine_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const QString gui = QStringLiteral(HOLLIN_GUI), cli = QStringLiteral(HOLLIN_CLI);
        QTest::newRow("help") << gui << QStringList{u"--help"_s} << 0 << u"使い方: hollin [オプション]"_s << QString();
        QTest::newRow("-h") << gui << QStringList{u"-h"_s} << 0 << u"--root <フォルダ>"_s << QString();
        QTest::newRow("version") << gui << QStringList{u"--version"_s} << 0 << u"hollin 1.0\n"_s << QString();
        QTest::newRow("unknown option") << gui << QStringList{u"--frob"_s} << 2 << QString() << u"「--frob」"_s;
        QTest::newRow("root without folder") << gui << QStringList{u"--root"_s} << 2 << QString() << u"--root の後に"_s;
        QTest::newRow("qt's own options") << gui << QStringList{u"-platform"_s, u"offscreen"_s, u"-style=fusion"_s, u"--version"_s}
                                          << 0 << u"hollin 1.0\n"_s << QString();
        QTest::newRow("not a link") << gui << QStringList{u"note.txt"_s} << 2 << QString() << u"mailto: のリンクではありません"_s;
        QTest::newRow("cli help") << cli << QStringList{u"--help"_s} << 0 << u"使い方: hollin-cli"_s << QString();
        QTest::newRow("cli version") << cli << QStringList{u"-v"_s} << 0 << u"hollin-cli 1.0\n"_s << QString();
        QTest::newRow("cli unknown option") << cli << QStringList{u"-x"_s, u"count"_s} << 2 << QString() << u"「-x」"_s;
        QTest::newRow("cli no command") << cli << QStringList() << 2 << QString() << u"使い方"_s;
    }
    // Help, version and usage errors end before any window system is needed:
    // the platform named here does not exist.
    void commandLine()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const Run r = run(program, args, u"no-such-platform"_s);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.out.contains(out), qPrintable(r.out));
        QVERIFY2(r.err.contains(err), qPrintable(r.err));
        QCOMPARE(r.out.isEmpty(), exitCode != 0);
    }

    // Without a window system the program says so, instead of aborting.
    void noDisplayIsSaidInJapanese()
    {
        QTemporaryDir root;
        const Run r = run(QStringLiteral(HOLLIN_GUI), {u"--root"_s, root.path()}, QString());
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(u"DISPLAY も WAYLAND_DISPLAY も設定されていません"_s), qPrintable(r.err));
    }

    void mailto_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QStringList>("to");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QStringList>("cc");
        QTest::addColumn<QStringList>("bcc");
        QTest::newRow("address") << u"mailto:taro@example.jp"_s << QStringList{u"taro@example.jp"_s} << QString() << QString()
                                 << QStringList() << QStringList();
        QTest::newRow("utf-8 fields") << u"MAILTO:a@example.jp?Subject=%E4%BC%9A%E8%AD%B0&body=1%E8%A1%8C%0D%0A2+3%26"_s
                                      << QStringList{u"a@example.jp"_s} << u"会議"_s << u"1行\n2+3&"_s
                                      << QStringList() << QStringList();
        QTest::newRow("several") << u"mailto:a@x.jp,%62@x.jp?to=c@x.jp&cc=d@x.jp"_s
                                 << QStringList{u"a@x.jp"_s, u"b@x.jp"_s, u"c@x.jp"_s} << QString() << QString()
                                 << QStringList{u"d@x.jp"_s} << QStringList();
        QTest::newRow("shift_jis fields, blind copy") << u"mailto:a@x.jp?subject=%82%A8%96%E2%82%A2%8D%87%82%ED%82%B9&bcc=e@x.jp,f@x.jp"_s
                                 << QStringList{u"a@x.jp"_s} << u"お問い合わせ"_s << QString()
                                 << QStringList() << QStringList{u"e@x.jp"_s, u"f@x.jp"_s};
        QTest::newRow("only fields") << u"mailto:?to=a@x.jp&subject=a%0D%0Ab&subject=second"_s
                                     << QStringList{u"a@x.jp"_s} << u"a b"_s << QString() << QStringList()
                                     << QStringList();
    }
    void mailto()
    {
        QFETCH(QString, link);
        const std::optional<MailtoUrl> url = MailtoUrl::parse(link);
        QVERIFY(url);
        QTEST(url->to, "to");
        QTEST(url->subject, "subject");
        QTEST(url->body, "body");
        QTEST(url->cc, "cc");
        QTEST(url->bcc, "bcc");
        QVERIFY(!MailtoUrl::parse(u"http://example.jp/"_s));
    }

    // The socket waits in a folder this user alone may enter: one planted open
    // to others, or owned by another user, is refused, never listened in.
    void channelFolderIsPrivate()
    {
        QTemporaryDir runtime;
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        const auto restore = qScopeGuard([saved] { qputenv("XDG_RUNTIME_DIR", saved); });
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        const DataRoot root(runtime.filePath(u"root"_s));
        QVERIFY(root.ensureTree());
        const QString folder = runtime.filePath(u"hollin-"_s + QString::number(::getuid()));
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0777) == 0);
        {
            InstanceChannel running(root);
            Error err;
            QCOMPARE(running.claim(&err), InstanceChannel::Role::First);
            QVERIFY2(err.message.contains(u"他の人も使える"_s), qPrintable(err.text()));
            QVERIFY(QDir(folder).isEmpty());
            QVERIFY(!running.send({u"mailto:a@example.jp"_s}, QString(), 0, &err));
        }
        if (::getuid() == 0) {
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0700) == 0);
            QVERIFY(::chown(QFile::encodeName(folder).constData(), 65534, 65534) == 0);
            InstanceChannel running(root);
            Error err;
            QCOMPARE(running.claim(&err), InstanceChannel::Role::First);
            QVERIFY2(err.isSet(), "a folder of another user was used");
        }
        QVERIFY(QDir(folder).removeRecursively());
        {
            InstanceChannel running(root);
            Error err;
            QCOMPARE(running.claim(&err), InstanceChannel::Role::First);
            QVERIFY2(!err.isSet(), qPrintable(err.text()));
            struct stat st;
            QVERIFY(::stat(QFile::encodeName(folder).constData(), &st) == 0);
            QCOMPARE(st.st_mode & 0777, 0700u);
            QCOMPARE(QDir(folder).entryList(QDir::System | QDir::NoDotAndDotDot).size(), 1);
        }
    }

    // The lock file is the owner's alone; a socket that a killed copy left
    // behind is removed by the next start, one that another copy listens on stays.
    void lockPrivateAndStaleSocketsRemoved()
    {
        QTemporaryDir runtime;
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        const auto restore = qScopeGuard([saved] { qputenv("XDG_RUNTIME_DIR", saved); });
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        const QString folder = runtime.filePath(u"hollin-"_s + QString::number(::getuid()));
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0700) == 0);
        const QByteArray stale = QFile::encodeName(folder + u"/hollin-stale"_s);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, stale.constData(), size_t(stale.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0);
        ::close(fd); // never listened: like a killed copy's
        QLocalServer live;
        QVERIFY(live.listen(folder + u"/hollin-live"_s));

        const DataRoot root(runtime.filePath(u"root"_s));
        QVERIFY(root.ensureTree());
        const mode_t oldMask = ::umask(0);
        InstanceChannel running(root);
        Error err;
        const InstanceChannel::Role role = running.claim(&err);
        ::umask(oldMask);
        QCOMPARE(role, InstanceChannel::Role::First);
        QCOMPARE(int(QFile::permissions(QDir(root.dataFolder()).filePath(u"hollin.lock"_s))) & 0x7077, 0x6000);
        QVERIFY(!QFile::exists(QFile::decodeName(stale)));
        QVERIFY(QFile::exists(live.fullServerName()));
    }

    // A second start on the same data root hands its link to the running copy,
    // which opens the compose window filled in; without a link it brings the
    // running copy's panel forward.
    void secondStartHandsTheLinkOver()
    {
        FreshProgram program;
        QVERIFY(program.isReady());
        InstanceChannel running(program.state().root);
        QCOMPARE(running.claim(), InstanceChannel::Role::First);
        answerLaterStarts(running, program.windows(), {});

        const QString root = program.dir().path();
        QProcess second;
        second.start(QStringLiteral(HOLLIN_GUI),
                     {u"--root"_s, root, u"mailto:hanako@example.jp?subject=%E3%81%8A%E7%A4%BC&body=a%0Ab"_s});
        QTRY_VERIFY_WITH_TIMEOUT(program.windows().loaded("WriteForm"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 30000); // answered on this event loop
        QCOMPARE(second.exitCode(), 0);
        auto *form = static_cast<WriteForm *>(program.windows().loaded("WriteForm"));
        QVERIFY(form->isVisible());
        QCOMPARE(controlOf<QLineEdit>(form, "ToText")->text(), u"hanako@example.jp"_s);
        QCOMPARE(controlOf<QLineEdit>(form, "SubjectText")->text(), u"お礼"_s);
        QCOMPARE(form->rtfEd()->toPlainText(), u"a\nb"_s);

        // A mail being written is replaced only when the user agrees.
        Prompt::queueAnswer(Prompt::Answer::No);
        second.start(QStringLiteral(HOLLIN_GUI), {u"--root"_s, root, u"mailto:jiro@example.jp"_s});
        // The link is answered on this process's event loop, which waitForFinished() does not run.
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(Prompt::shown().size(), 1, 10000);
        QCOMPARE(Prompt::shown().first().text, UnsentMail::question()); // the windows' one question
        QCOMPARE(controlOf<QLineEdit>(form, "ToText")->text(), u"hanako@example.jp"_s);

        program.windows().mainForm()->hide(); // behind other windows, or hidden
        const Run plain = run(QStringLiteral(HOLLIN_GUI), {u"--root"_s, root});
        QCOMPARE(plain.exitCode, 0);
        QCOMPARE(plain.out, QString());
        QTRY_VERIFY_WITH_TIMEOUT(program.windows().mainForm()->isVisible(), 10000);
        QCOMPARE(Prompt::shown().size(), 1);
    }

    // Mail another process stored shows on the panel and is told, once.
    void otherWritersMailIsCounted()
    {
        FreshProgram program;
        QVERIFY(program.isReady());
        MainForm *panel = program.windows().mainForm();
        panel->show();
        const OtherWriterWatch watch(program.state(), program.windows());
        MailRecordFile inbox(program.state().root.receivedMailFile(), program.state().root.receivedMailTemp());
        QCOMPARE(inbox.append({u"一通目"_s, u"d"_s, u"a@x.jp"_s, u"b"_s}), 1);
        QCOMPARE(inbox.append({u"二通目"_s, u"d"_s, u"a@x.jp"_s, u"b"_s}), 2);
        QTRY_COMPARE_WITH_TIMEOUT(controlOf<QLineEdit>(panel, "Text4")->text(), u"2"_s, 10000);
        QCOMPARE(controlOf<QLineEdit>(panel, "Text6")->text(), u"2"_s);
        QVERIFY(inbox.deleteRecord(1));
        QTRY_COMPARE_WITH_TIMEOUT(controlOf<QLineEdit>(panel, "Text4")->text(), u"1"_s, 10000);
        QCOMPARE(controlOf<QLineEdit>(panel, "Text6")->text(), u"2"_s);
    }

    // A link is meant for its own address: a window sending to the whole
    // address book goes back to normal mode before the link fills it.
    void linkLeavesWholeAddressBookMode()
    {
        FreshProgram program;
        QVERIFY(program.isReady());
        auto *form = static_cast<WriteForm *>(program.windows().writeForm());
        Prompt::queueAnswer(Prompt::Answer::Yes);
        controlOf<QRadioButton>(form, "Option2")->click();
        QVERIFY(controlOf<QRadioButton>(form, "Option2")->isChecked());
        composeMailto(program.windows(), *MailtoUrl::parse(u"mailto:hanako@example.jp?subject=s&cc=c@x.jp&bcc=b@x.jp"_s));
        QVERIFY(!controlOf<QRadioButton>(form, "Option2")->isChecked());
        QVERIFY(controlOf<QLineEdit>(form, "ToText")->isEnabled());
        QCOMPARE(controlOf<QLineEdit>(form, "ToText")->text(), u"hanako@example.jp"_s);
        // The copies are kept and shown, not dropped.
        QCOMPARE(controlOf<QLineEdit>(form, "CcText")->text(), u"c@x.jp"_s);
        QCOMPARE(controlOf<QLineEdit>(form, "BccText")->text(), u"b@x.jp"_s);
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
