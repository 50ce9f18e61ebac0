#include "FakeWindows.h"
#include "TestMailServers.h"

#include "compose/WriteForm.h"
#include "compose/logic/SendJob.h"
#include "storage/AddressBookFile.h"
#include "storage/AppState.h"
#include "storage/ProfileFile.h"
#include "storage/ServerSettings.h"
#include "transport/MailLib.h"
#include "winutil/Prompt.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

// What Python's email package (policy default) makes of a message.
const char *const ParseScript = R"(
import sys, json, base64, email
from email import policy
msg = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=policy.default)
body = msg.get_body(preferencelist=('plain',))
files = [{'name': p.get_filename(), 'data': base64.b64encode(p.get_payload(decode=True)).decode()}
         for p in msg.iter_attachments()]
print(json.dumps({'subject': str(msg['subject']), 'to': str(msg['to']),
                  'body': body.get_content() if body is not None else None, 'files': files}))
)";

QString normalised(QString text)
{
    text.replace(u"\r\n"_s, u"\n"_s);
    while (text.endsWith(u'\n'))
        text.chop(1);
    return text;
}

} // namespace

class TestComposeSend : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void normalSendArrivesWhole();
    void wholeAddressBookOverOneConnection();
    void failedPassKeepsTheWindow_data();
    void failedPassKeepsTheWindow();
    void refusedOneOfThreeStaysInTheBox();
    void closingStopsBeforeTheNextPass();
    void cliSend();

private:
    WriteForm *open();
    template <typename T> T *find(const QString &name) const { return m_form->findChild<T *>(name); }
    void send();
    QJsonObject parse(const QByteArray &raw);
    QString writeFile(const QString &name, const QByteArray &bytes);
    void addAddress(const QString &name, const QString &address);

    TestMailServers m_servers;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<FakeWindows> m_windows;
    std::unique_ptr<WriteForm> m_form;
};

void TestComposeSend::initTestCase()
{
    TestMailServers::Options options;
    options.refusedRecipients = {u"refused@example.jp"_s, u"refused2@example.jp"_s};
    QString error;
    QVERIFY2(m_servers.start(options, &error), qPrintable(error));
}

void TestComposeSend::init()
{
    // Each test starts with an empty mailbox.
    MailLib lib;
    const int h = lib.pop3Connect(m_servers.pop3Server());
    QVERIFY(h >= 0);
    const int count = lib.pop3Authenticate(h, m_servers.user(), m_servers.password(), 0);
    QVERIFY(count >= 0);
    for (int n = 1; n <= count; ++n)
        lib.pop3DeleteMail(h, n);
    lib.pop3Close(h);

    m_dir = std::make_unique<QTemporaryDir>();
    m_state = std::make_unique<AppState>();
    m_state->root = DataRoot(m_dir->path());
    QVERIFY(m_state->root.ensureTree());
    m_state->smtpServer = m_servers.smtpServer();
    m_state->mailAddress = m_servers.address();
    m_state->accountId = m_servers.user();
    m_state->accountPassword = m_servers.password();
    m_windows = std::make_unique<FakeWindows>();
    Prompt::beginScript();
    Prompt::clearShown();
}

void TestComposeSend::cleanup()
{
    m_form.reset();
    // A closed window asks its owner to unload it once control is back in the event loop.
    QCoreApplication::sendPostedEvents();
    Prompt::endScript();
}

WriteForm *TestComposeSend::open()
{
    m_form = std::make_unique<WriteForm>(AppContext{*m_state, *m_windows});
    m_form->show();
    return m_form.get();
}

void TestComposeSend::send()
{
    QSignalSpy finished(m_form.get(), &WriteForm::sendFinished);
    QTest::mouseClick(find<QPushButton>(u"Command1"_s), Qt::LeftButton);
    QVERIFY(m_form->isSending());
    QVERIFY(finished.wait(60000));
    QVERIFY(!m_form->isSending());
}

QJsonObject TestComposeSend::parse(const QByteArray &raw)
{
    const QString path = writeFile(u"parsed.eml"_s, raw);
    QProcess python;
    python.start(u"/usr/bin/python3"_s, {u"-c"_s, QString::fromUtf8(ParseScript), path});
    if (!python.waitForFinished(30000) || python.exitCode() != 0)
        qWarning("python: %s", python.readAllStandardError().constData());
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

QString TestComposeSend::writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestComposeSend::addAddress(const QString &name, const QString &address)
{
    AddressBookFile book(m_state->root.addressBookFile(), m_state->root.addressBookTemp());
    QVERIFY(book.append({name, address}) > 0);
}

void TestComposeSend::normalSendArrivesWhole()
{
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary.append(char(i * 7 % 256));
    const QByteArray text = QByteArrayLiteral("first line\r\nsecond line\r\n");
    const QString first = writeFile(u"見積書.bin"_s, binary);
    const QString second = writeFile(u"memo.txt"_s, text);

    open();
    const QString subject = u"日本語の件名です（送信テスト）"_s;
    const QString body = u"山田様\n\nいつもお世話になっております。\n添付を二つお送りします。"_s;
    find<QLineEdit>(u"ToText"_s)->setText(m_servers.address());
    find<QLineEdit>(u"SubjectText"_s)->setText(subject);
    find<QTextEdit>(u"rtfEd"_s)->setHtml(u"<b>山田様</b><br><br>いつもお世話になっております。<br>添付を二つお送りします。"_s);
    Prompt::queueFileName(first);
    Prompt::queueFileName(second);
    QTest::mouseClick(find<QPushButton>(u"AttachCommand"_s), Qt::LeftButton);
    QTest::mouseClick(find<QPushButton>(u"Command9"_s), Qt::LeftButton);
    QCOMPARE(find<QLineEdit>(u"AttachText"_s)->text(), first + u',' + second);
    Prompt::clearShown();

    send();
    QCOMPARE(Prompt::shownTexts(), QStringList());
    QCOMPARE(find<QLabel>(u"Label7"_s)->text(), u"送信完了です。"_s);
    QCOMPARE(find<QLineEdit>(u"SubjectText"_s)->text(), QString());
    QCOMPARE(find<QLineEdit>(u"AttachText"_s)->text(), QString());
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_windows->shown, 1);
    QTRY_COMPARE(m_windows->unloaded, QByteArrayList{"WriteForm"});

    // Received back over POP3 through the library.
    MailLib lib;
    const int h = lib.pop3Connect(m_servers.pop3Server());
    QCOMPARE(lib.pop3Authenticate(h, m_servers.user(), m_servers.password(), 0), 1);
    QString gotSubject, date, from, header, gotBody;
    QCOMPARE(lib.pop3GetMail(h, 1, &gotSubject, &date, &from, &header, &gotBody), 0);
    QCOMPARE(gotSubject, subject);
    QCOMPARE(normalised(gotBody), body);
    QVERIFY(from.contains(m_servers.address()));
    const QString folder = m_dir->filePath(u"extracted"_s);
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(lib.attachmentFileFirst(gotSubject, date, from, header, gotBody, folder,
                                     m_dir->filePath(u"0.txt"_s), QString()), 1);
    lib.attachmentFileClose();
    QStringList names;
    for (const QString &f : lib.lastAttachmentFiles())
        names.append(QFileInfo(f).fileName());
    QCOMPARE(names, (QStringList{u"見積書.bin"_s, u"memo.txt"_s}));
    QFile extracted(QDir(folder).filePath(u"見積書.bin"_s));
    QVERIFY(extracted.open(QIODevice::ReadOnly));
    QCOMPARE(extracted.readAll(), binary);
    lib.pop3Abort(h);

    // And as Python's email package reads it.
    const QList<QByteArray> messages = m_servers.mailboxMessages();
    QCOMPARE(messages.size(), 1);
    const QJsonObject parsed = parse(messages.first());
    QCOMPARE(parsed.value(u"subject"_s).toString(), subject);
    QCOMPARE(normalised(parsed.value(u"body"_s).toString()), body);
    const QJsonArray files = parsed.value(u"files"_s).toArray();
    QCOMPARE(files.size(), 2);
    QCOMPARE(files.at(0)[u"name"_s].toString(), u"見積書.bin"_s);
    QCOMPARE(QByteArray::fromBase64(files.at(0)[u"data"_s].toString().toLatin1()), binary);
    QCOMPARE(files.at(1)[u"name"_s].toString(), u"memo.txt"_s);
    QCOMPARE(QByteArray::fromBase64(files.at(1)[u"data"_s].toString().toLatin1()), text);
}

void TestComposeSend::wholeAddressBookOverOneConnection()
{
    addAddress(u"一郎"_s, u"ichiro@example.jp"_s);
    addAddress(u"二郎"_s, u"jiro@example.jp"_s);
    addAddress(u"花子"_s, AddressBookFile::businessCardForm(u"山田花子"_s, u"hanako@example.jp"_s));
    open();
    Prompt::queueAnswer(Prompt::Answer::Yes);
    QTest::mouseClick(find<QRadioButton>(u"Option2"_s), Qt::LeftButton);
    QVERIFY(find<QRadioButton>(u"Option2"_s)->isChecked());
    find<QLineEdit>(u"SubjectText"_s)->setText(u"皆様へのお知らせ"_s);
    find<QTextEdit>(u"rtfEd"_s)->setPlainText(u"一斉送信の本文です。"_s);
    find<QCheckBox>(u"Check1"_s)->setChecked(true);
    Prompt::clearShown();

    const QStringList logBefore = m_servers.smtpLog();
    const int connectionsBefore = m_servers.smtpConnectionCount();
    send();
    QCOMPARE(Prompt::shownTexts(), QStringList());
    QCOMPARE(find<QLabel>(u"Label7"_s)->text(), u"送信完了です。"_s);
    QVERIFY(!find<QRadioButton>(u"Option2"_s)->isChecked());
    QVERIFY(!find<QCheckBox>(u"Check1"_s)->isChecked());

    QStringList rcpts;
    for (const QString &line : m_servers.smtpLog().mid(logBefore.size()))
        if (line.startsWith(u"RCPT "_s))
            rcpts.append(line.section(u' ', 2));
    QCOMPARE(rcpts, (QStringList{u"ichiro@example.jp"_s, u"jiro@example.jp"_s, u"hanako@example.jp"_s}));
    QCOMPARE(m_servers.smtpConnectionCount() - connectionsBefore, 1);

    const QList<QByteArray> messages = m_servers.mailboxMessages();
    QCOMPARE(messages.size(), 3);
    const QJsonObject third = parse(messages.at(2));
    QVERIFY2(third.value(u"to"_s).toString().contains(u"山田花子"_s), qPrintable(third.value(u"to"_s).toString()));
    for (const QByteArray &raw : messages) {
        const QJsonObject parsed = parse(raw);
        QCOMPARE(parsed.value(u"subject"_s).toString(), u"皆様へのお知らせ"_s);
        // The fortune follows the body after a blank line.
        const QString got = normalised(parsed.value(u"body"_s).toString());
        QVERIFY2(got.startsWith(u"一斉送信の本文です。\n\n今日の運勢："_s), qPrintable(got));
    }
}

void TestComposeSend::failedPassKeepsTheWindow_data()
{
    QTest::addColumn<QString>("recipient");  // normal mode; empty with addresses
    QTest::addColumn<QStringList>("addresses"); // whole-address-book mode when not empty
    QTest::addColumn<int>("delivered");
    QTest::addColumn<QString>("status");
    QTest::newRow("empty recipient") << QString() << QStringList() << 0
                                     << u"1 件中 1 件の送信に失敗しました。"_s;
    QTest::newRow("refused recipient") << u"refused@example.jp"_s << QStringList() << 0
                                       << u"1 件中 1 件の送信に失敗しました。"_s;
    QTest::newRow("every one of a list refused") << u"refused@example.jp、refused2@example.jp"_s << QStringList() << 0
                                                 << u"1 件中 1 件の送信に失敗しました。"_s;
    QTest::newRow("one refused of two") << QString()
                                        << QStringList{u"refused@example.jp"_s, u"ok@example.jp"_s} << 1
                                        << u"2 件中 1 件の送信に失敗しました。"_s;
}

void TestComposeSend::failedPassKeepsTheWindow()
{
    QFETCH(QString, recipient);
    QFETCH(QStringList, addresses);
    QFETCH(int, delivered);
    QFETCH(QString, status);
    for (const QString &a : addresses)
        addAddress(a.section(u'@', 0, 0), a);
    const QString attachment = writeFile(u"a.txt"_s, "x");
    open();
    if (!addresses.isEmpty()) {
        Prompt::queueAnswer(Prompt::Answer::Yes);
        QTest::mouseClick(find<QRadioButton>(u"Option2"_s), Qt::LeftButton);
    } else {
        find<QLineEdit>(u"ToText"_s)->setText(recipient);
    }
    find<QLineEdit>(u"SubjectText"_s)->setText(u"届かない件名"_s);
    find<QTextEdit>(u"rtfEd"_s)->setPlainText(u"届かない本文"_s);
    find<QLineEdit>(u"AttachText"_s)->setText(attachment);
    Prompt::clearShown();

    send();
    const QList<Prompt::Shown> shown = Prompt::shown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().title, u"送信エラー"_s);
    QVERIFY(!shown.first().text.isEmpty());
    if (!recipient.isEmpty() || !addresses.isEmpty())
        QVERIFY2(shown.first().text.contains(u"550"_s), qPrintable(shown.first().text));
    QCOMPARE(find<QLabel>(u"Label7"_s)->text(), status);

    // Nothing is lost: the window stays with everything in place.
    QVERIFY(m_form->isVisible());
    QCOMPARE(find<QLineEdit>(u"ToText"_s)->text(), recipient);
    QCOMPARE(find<QLineEdit>(u"SubjectText"_s)->text(), u"届かない件名"_s);
    QCOMPARE(find<QTextEdit>(u"rtfEd"_s)->toPlainText(), u"届かない本文"_s);
    QCOMPARE(find<QLineEdit>(u"AttachText"_s)->text(), attachment);
    QCOMPARE(find<QRadioButton>(u"Option2"_s)->isChecked(), !addresses.isEmpty());
    QVERIFY(find<QPushButton>(u"Command1"_s)->isEnabled());
    QCOMPARE(m_windows->shown, 0);
    QTest::qWait(10);
    QVERIFY(m_windows->unloaded.isEmpty());
    QCOMPARE(m_servers.mailboxMessages().size(), delivered);
    // The Japanese sentence first, the library's words after it.
    QVERIFY2(shown.first().text.startsWith(u"メールを送信できませんでした。"_s), qPrintable(shown.first().text));

    if (addresses.size() < 2)
        return;
    // Sending again offers the ones that did not get it, and only those.
    Prompt::clearShown();
    Prompt::queueAnswer(Prompt::Answer::Yes);
    send();
    QCOMPARE(Prompt::shown().first().text, SendResult::resendQuestion({SendRecipient{{}, u"refused@example.jp"_s}}));
    QCOMPARE(m_servers.mailboxMessages().size(), delivered); // ok@example.jp got it once
    QCOMPARE(find<QLabel>(u"Label7"_s)->text(), u"1 件中 1 件の送信に失敗しました。"_s);
}

void TestComposeSend::refusedOneOfThreeStaysInTheBox()
{
    open();
    find<QLineEdit>(u"ToText"_s)->setText(u"山田<ok1@example.jp>、拒否<refused@example.jp>; ok2@example.jp"_s);
    find<QLineEdit>(u"SubjectText"_s)->setText(u"三人へ"_s);
    find<QTextEdit>(u"rtfEd"_s)->setPlainText(u"本文"_s);
    const qsizetype logged = m_servers.smtpLog().size();
    send();

    // One transaction to all three; the mail went to the two the server took.
    QStringList rcpts = m_servers.smtpLog().mid(logged).filter(u"RCPT"_s);
    QCOMPARE(rcpts.size(), 3);
    const QList<QByteArray> messages = m_servers.mailboxMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages.first().contains("<ok1@example.jp>,") && messages.first().contains("<ok2@example.jp>"));
    // The box names the refused one; only it stays in 宛先, with the rest of the mail.
    const QList<Prompt::Shown> shown = Prompt::shown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().title, u"送信エラー"_s);
    QVERIFY2(shown.first().text.contains(u"refused@example.jp（550"_s) && !shown.first().text.contains(u"ok1"_s),
             qPrintable(shown.first().text));
    QCOMPARE(find<QLabel>(u"Label7"_s)->text(), u"送信しましたが、受け付けられなかった宛先があります（1 件）。"_s);
    QCOMPARE(find<QLineEdit>(u"ToText"_s)->text(), u"拒否<refused@example.jp>"_s);
    QCOMPARE(find<QLineEdit>(u"SubjectText"_s)->text(), u"三人へ"_s);
    QVERIFY(m_form->isVisible());
}

void TestComposeSend::closingStopsBeforeTheNextPass()
{
    for (int i = 1; i <= 20; ++i)
        addAddress(u"宛先%1"_s.arg(i), u"user%1@example.jp"_s.arg(i));
    open();
    Prompt::queueAnswer(Prompt::Answer::Yes);
    QTest::mouseClick(find<QRadioButton>(u"Option2"_s), Qt::LeftButton);
    find<QLineEdit>(u"SubjectText"_s)->setText(u"途中で止める"_s);
    find<QTextEdit>(u"rtfEd"_s)->setPlainText(u"本文"_s);

    QSignalSpy finished(m_form.get(), &WriteForm::sendFinished);
    QTest::mouseClick(find<QPushButton>(u"Command1"_s), Qt::LeftButton);
    QVERIFY(find<QPushButton>(u"Command3"_s)->isEnabled());
    QVERIFY(!find<QPushButton>(u"Command1"_s)->isEnabled());
    QTest::mouseClick(find<QPushButton>(u"Command3"_s), Qt::LeftButton);
    // The window cannot go while the send runs.
    QVERIFY(m_form->isVisible());
    QVERIFY(finished.wait(60000));

    QVERIFY2(find<QLabel>(u"Label7"_s)->text().startsWith(u"送信を中止しました。20 件中 "_s),
             qPrintable(find<QLabel>(u"Label7"_s)->text()));
    QVERIFY(m_servers.mailboxMessages().size() < 20);
    QVERIFY(m_form->isVisible());
    QCOMPARE(find<QLineEdit>(u"SubjectText"_s)->text(), u"途中で止める"_s);
    QVERIFY(find<QPushButton>(u"Command1"_s)->isEnabled());
    QVERIFY(find<QRadioButton>(u"Option2"_s)->isChecked());
    QCOMPARE(m_windows->shown, 0);
}

void TestComposeSend::cliSend()
{
    ServerSettings settings;
    settings.smtpServer = m_servers.smtpServer();
    settings.mailAddress = m_servers.address();
    QVERIFY(settings.write(m_state->root.serverSettingsFile()));
    const QString bodyFile = writeFile(u"body.txt"_s, u"コマンドからの本文\n"_s.toUtf8());
    const QString attachment = writeFile(u"添付.txt"_s, "attached");

    auto run = [&](const QStringList &args, QString *out, QString *err, const QString &input = {}) {
        QProcess cli;
        if (!input.isEmpty())
            cli.setStandardInputFile(input);
        cli.start(QStringLiteral(HOLLIN_CLI), QStringList{u"--root"_s, m_dir->path(), u"send"_s} + args);
        if (!cli.waitForFinished(60000))
            return -1;
        *out = QString::fromUtf8(cli.readAllStandardOutput());
        *err = QString::fromUtf8(cli.readAllStandardError());
        return cli.exitCode();
    };
    QString out, err;
    QCOMPARE(run({u"--to"_s, m_servers.address(), u"--subject"_s, u"コマンド送信"_s, u"--body-file"_s, u"-"_s,
                  u"--attach"_s, attachment}, &out, &err, bodyFile), 0);
    QCOMPARE(out.trimmed(), u"送信完了です。"_s);
    const QList<QByteArray> messages = m_servers.mailboxMessages();
    QCOMPARE(messages.size(), 1);
    const QJsonObject parsed = parse(messages.first());
    QCOMPARE(parsed.value(u"subject"_s).toString(), u"コマンド送信"_s);
    QCOMPARE(normalised(parsed.value(u"body"_s).toString()), u"コマンドからの本文"_s);
    QCOMPARE(parsed.value(u"files"_s).toArray().at(0)[u"name"_s].toString(), u"添付.txt"_s);

    QCOMPARE(run({u"--to"_s, u"refused@example.jp"_s, u"--subject"_s, u"s"_s, u"--body"_s, u"b"_s}, &out, &err), 1);
    QVERIFY2(err.contains(u"送信エラー"_s) && err.contains(u"550"_s), qPrintable(err));
    // A list with copies: one refused is exit 1, named; the blind copy stays out of the header.
    const qsizetype logged = m_servers.smtpLog().size();
    QCOMPARE(run({u"--to"_s, u"ok@example.jp, refused@example.jp"_s, u"--cc"_s, u"経理<cc@example.jp>"_s,
                  u"--bcc"_s, u"hidden@example.jp"_s, u"--subject"_s, u"s"_s, u"--body"_s, u"b"_s}, &out, &err), 1);
    QVERIFY2(err.contains(u"refused@example.jp（550"_s) && !err.contains(u"ok@"_s), qPrintable(err));
    QCOMPARE(m_servers.smtpLog().mid(logged).filter(u"RCPT"_s).size(), 4);
    const QByteArray copied = m_servers.mailboxMessages().last();
    QVERIFY(copied.contains("\nCc: ") && copied.contains("<cc@example.jp>") && !copied.contains("hidden"));
    // An empty address book sends nothing, which is not a success.
    QCOMPARE(run({u"--all"_s, u"--subject"_s, u"s"_s, u"--body"_s, u"b"_s}, &out, &err), 1);
    QCOMPARE(run({u"--all"_s, u"--cc"_s, u"a@example.jp"_s, u"--subject"_s, u"s"_s, u"--body"_s, u"b"_s}, &out, &err), 2);
    QCOMPARE(run({u"--to"_s, u"a@example.jp"_s, u"--all"_s, u"--subject"_s, u"s"_s, u"--body"_s, u"b"_s}, &out, &err), 2);
    QCOMPARE(m_servers.mailboxMessages().size(), 2);

    // What the server took is kept: the refused send is not, the half-refused one is.
    auto kept = [&](const QStringList &args) {
        QProcess cli;
        cli.start(QStringLiteral(HOLLIN_CLI), QStringList{u"--root"_s, m_dir->path()} + args);
        cli.waitForFinished(60000);
        return QString::fromUtf8(cli.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    };
    const QStringList listed = kept({u"list"_s, u"--sent"_s});
    QCOMPARE(listed.size(), 2);
    QVERIFY2(listed[0].startsWith(u"1\talice@example.jp\tコマンド送信\t"_s), qPrintable(listed[0]));
    QVERIFY2(listed[1].startsWith(u"2\tok@example.jp, refused@example.jp\ts\t"_s), qPrintable(listed[1]));
    const QStringList shown = kept({u"show"_s, u"--sent"_s, u"2"_s});
    QCOMPARE(shown.mid(0, 3), (QStringList{u"件名: s"_s, u"宛先: ok@example.jp, refused@example.jp"_s,
                                           u"Cc: 経理 <cc@example.jp>"_s}));
    QCOMPARE(shown.last(), u"b"_s);
}

QTEST_MAIN(TestComposeSend)
#include "tst_compose_send.moc"
