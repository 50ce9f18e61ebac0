#include "transport/AttachmentExtractor.h"
#include "transport/Charset.h"
#include "transport/MailComposer.h"
#include "transport/MailDecoder.h"
#include "transport/RecipientList.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

// What CPython's email package (policy default) reads from a message.
const char kPythonReader[] = R"(
import sys, json, base64, email
from email import policy
msg = email.message_from_bytes(sys.stdin.buffer.read(), policy=policy.default)
body = msg.get_body(preferencelist=('plain',))
files = [[p.get_filename(), base64.b64encode(p.get_payload(decode=True)).decode()]
         for p in msg.iter_attachments()]
addresses = lambda field: [[a.display_name, a.addr_spec] for a in msg[field].addresses] if msg[field] else []
print(json.dumps({'subject': str(msg['subject']), 'to': str(msg['to']),
                  'fromList': addresses('from'), 'toList': addresses('to'), 'ccList': addresses('cc'),
                  'hasBcc': 'bcc' in msg,
                  'body': body.get_content() if body else None, 'files': files,
                  'defects': len(msg.defects)}))
)";

// The text as it travels: CR LF line ends, the last line ended too.
QString crlf(QString text)
{
    text.replace(u"\r\n"_s, u"\n"_s);
    if (!text.endsWith(u'\n'))
        text += u'\n';
    return text.replace(u'\n', u"\r\n"_s);
}

// What Python's email package reads from raw.
QJsonObject readByPython(const QByteArray &raw)
{
    QProcess python;
    python.start(u"/usr/bin/python3"_s, {u"-c"_s, QString::fromLatin1(kPythonReader)});
    python.waitForStarted();
    python.write(raw);
    python.closeWriteChannel();
    if (!python.waitForFinished(30000) || python.exitCode() != 0)
        qWarning("python: %s", python.readAllStandardError().constData());
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

} // namespace

class TestComposer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void wireFormat();
    void headerLines_data();
    void headerLines();
    void refusals_data();
    void refusals();
    void envelopeAddress_data();
    void envelopeAddress();
    void recipientList_data();
    void recipientList();
    void severalRecipientsInHeaders();
    void nulInBodyIsReplaced();
    void textAttachmentCharset_data();
    void textAttachmentCharset();
    void threadHeaders_data();
    void threadHeaders();

private:
    QTemporaryDir dir_;
    QStringList files_;
    QList<QByteArray> fileBytes_;
};

void TestComposer::initTestCase()
{
    QVERIFY(dir_.isValid());
    const QList<QPair<QString, QByteArray>> files = {
        {u"見積書①.pdf"_s, QByteArray("%PDF-1.4\n\x00\x01\x02\xFF binary", 22)},
        {u"a very long attachment name for the folding of parameters, 日本語の名前.txt"_s, "text\r\nlines\n"_ba},
    };
    for (const auto &[name, bytes] : files) {
        QFile f(dir_.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        files_.append(f.fileName());
        fileBytes_.append(bytes);
    }
    QVERIFY(::mkfifo(QFile::encodeName(dir_.filePath(u"fifo"_s)).constData(), 0600) == 0);
    QFile large(dir_.filePath(u"large"_s)); // 11 MB, sparse
    QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(11 << 20));
}

void TestComposer::roundTrip_data()
{
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("attach");
    QTest::addColumn<QByteArray>("charset");
    QTest::addColumn<QString>("toName"); // the display name readers show
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("fromName");

    QTest::newRow("jis") << u"taro@example.jp"_s << u"会議の件"_s << u"明日１０時～です。\nよろしく"_s << false
                         << "ISO-2022-JP"_ba << QString()
        << u"me@example.jp"_s << QString();
    QTest::newRow("jis, card recipient, files") << u"山田 太郎<yamada@example.jp>"_s
                                                << QString(u"長い件名のテストです。"_s).repeated(6)
                                                << u"添付します。\r\n"_s << true << "ISO-2022-JP"_ba << u"山田 太郎"_s
        << u"山田 花子 <me@example.jp>"_s << u"山田 花子"_s;
    QTest::newRow("NEC chars need utf-8") << u"①さん<x@example.jp>"_s << u"㈱髙橋の件"_s << u"①②\n"_s << true
                                          << "UTF-8"_ba << u"①さん"_s
        << u"髙橋 <me@example.jp>"_s << u"髙橋"_s;
    QTest::newRow("emoji and kana") << u"x@example.jp"_s << u"絵文字😀ｶﾅ"_s << u"😀\n"_s << false << "UTF-8"_ba
                                    << QString()
        << u"me@example.jp"_s << QString();
    QTest::newRow("one long jis line") << u"x@example.jp"_s << u"長文"_s << QString(u"改行のない長い段落です。"_s).repeated(60)
                                       << false << "ISO-2022-JP"_ba << QString()
        << u"me@example.jp"_s << QString();
    // A name typed in quotes is sent quoted once, not with its quote marks.
    QTest::newRow("ascii, quoted name") << u"\"Doe, John\" <j@example.jp>"_s << u"Hello"_s
                                        << u"plain ascii\n.\nend"_s << false << "ISO-2022-JP"_ba << u"Doe, John"_s
        << u"\"Doe, Jane\" <me@example.jp>"_s << u"Doe, Jane"_s;
    // What was typed comes back: ¥ travels as ESC ( J 0x5C, ￥ as JIS 0x216F.
    QTest::newRow("yen signs") << u"x@example.jp"_s << u"¥100 ￥200 \\300"_s << u"¥1,000と￥2,000\n"_s << false
                               << "ISO-2022-JP"_ba << QString()
        << u"me@example.jp"_s << QString();
}

void TestComposer::roundTrip()
{
    QFETCH(QString, to);
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(bool, attach);
    QFETCH(QByteArray, charset);

    QFETCH(QString, from);
    OutgoingMail mail{from, to, subject, body, attach ? files_ : QStringList()};
    Error err;
    const QByteArray raw = MailComposer::build(mail, &err);
    QVERIFY2(!err.isSet(), qPrintable(err.text()));
    QVERIFY(raw.contains("charset=" + charset));
    for (const QByteArray &line : raw.split('\n'))
        QVERIFY2(line.size() <= 999, "a line over 998 octets"); // 998 and its CR

    // Through Hollin's own decoder and extractor.
    const DecodedMail decoded = MailDecoder::decode(raw);
    QCOMPARE(decoded.subject, subject);
    QCOMPARE(decoded.body, crlf(body));
    QCOMPARE(MailComposer::envelopeAddress(decoded.from), u"me@example.jp"_s);
    QTemporaryDir out;
    QStringList written;
    QCOMPARE(AttachmentExtractor::extract(raw, out.path(), &written), attach ? 1 : 0);
    for (qsizetype i = 0; i < written.size(); ++i) {
        QCOMPARE(written[i], QFileInfo(files_[i]).fileName());
        QFile f(out.filePath(written[i]));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), fileBytes_[i]);
    }

    // Through Python's email package.
    const QJsonObject seen = readByPython(raw);
    QCOMPARE(seen.value(u"subject"_s).toString(), subject);
    // Python reads ISO-2022-JP by the JIS table: a typed ～ arrives as 〜, as every JIS mailer shows it.
    const QString pythonBody = charset == "ISO-2022-JP" ? Charset::toJisForms(body) : body;
    QCOMPARE(seen.value(u"body"_s).toString().replace(u"\r\n"_s, u"\n"_s),
             crlf(pythonBody).replace(u"\r\n"_s, u"\n"_s));
    QCOMPARE(seen.value(u"defects"_s).toInt(), 0);
    const QString recipient = MailComposer::envelopeAddress(to);
    const QString seenTo = seen.value(u"to"_s).toString();
    QVERIFY2(seenTo == recipient || seenTo.endsWith(u'<' + recipient + u'>'), qPrintable(seenTo));
    QTEST(seen.value(u"toList"_s).toArray()[0].toArray()[0].toString(), "toName");
    const QJsonArray seenFrom = seen.value(u"fromList"_s).toArray()[0].toArray();
    QTEST(seenFrom[0].toString(), "fromName");
    QCOMPARE(seenFrom[1].toString(), u"me@example.jp"_s);
    const QJsonArray seenFiles = seen.value(u"files"_s).toArray();
    QCOMPARE(seenFiles.size(), attach ? files_.size() : 0);
    for (qsizetype i = 0; i < seenFiles.size(); ++i) {
        QCOMPARE(seenFiles[i].toArray()[0].toString(), QFileInfo(files_[i]).fileName());
        QCOMPARE(QByteArray::fromBase64(seenFiles[i].toArray()[1].toString().toLatin1()), fileBytes_[i]);
    }
}

void TestComposer::wireFormat()
{
    OutgoingMail mail{u"me@example.jp"_s, u"名前<to@example.jp>"_s, u"一行目\r\nBcc: evil@example.jp"_s,
                      u"本文\n\n.\n"_s, files_};
    const QByteArray raw = MailComposer::build(mail);
    // CR LF everywhere, never a bare CR or LF.
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\n')
            QVERIFY2(i > 0 && raw[i - 1] == '\r', raw.mid(i - 20, 40).constData());
        if (raw[i] == '\r')
            QVERIFY(i + 1 < raw.size() && raw[i + 1] == '\n');
    }
    // A line break in the subject cannot start another header field.
    QVERIFY(!raw.contains("\r\nBcc:"));
    // Every line of 7-bit parts is ASCII; encoded words are at most 75 characters.
    const QByteArray header = raw.left(raw.indexOf("\r\n\r\n"));
    for (const QByteArray &line : header.split('\n')) {
        for (const QByteArray &word : line.trimmed().split(' '))
            if (word.startsWith("=?"))
                QVERIFY2(word.size() <= 75, word.constData());
    }
    for (const char *field : {"\r\nDate: ", "\r\nMessage-ID: <", "\r\nMIME-Version: 1.0\r\n"})
        QVERIFY2(raw.contains(field), field);
    for (char c : raw)
        QVERIFY(uchar(c) < 0x80);
    // Attachments are named both ways: RFC 2231 and RFC 2047.
    QVERIFY(raw.contains("filename*"));
    QVERIFY(raw.contains("name=\"=?"));
    QVERIFY(raw.contains("Content-Type: application/pdf"));
}

void TestComposer::threadHeaders_data()
{
    QTest::addColumn<QString>("inReplyTo");
    QTest::addColumn<QString>("references");
    QTest::addColumn<QByteArray>("expected"); // the header lines after Message-ID, before MIME-Version
    QTest::newRow("no reply") << QString() << QString() << QByteArray();
    QTest::newRow("first reply") << u"<a@x.jp>"_s << QString()
                                 << QByteArray("In-Reply-To: <a@x.jp>\r\nReferences: <a@x.jp>\r\n");
    QTest::newRow("a thread, folded, the answered id last and once")
        << u"<c@x.jp>"_s << u"<a@x.jp>\r\n\t<b@x.jp> <c@x.jp>"_s
        << QByteArray("In-Reply-To: <c@x.jp>\r\nReferences: <a@x.jp>\r\n <b@x.jp>\r\n <c@x.jp>\r\n");
    QTest::newRow("text around ids, a broken id, a line break smuggled in")
        << u"Bob's mail <c@x.jp> (sent)"_s << u"<a b@x.jp> <ok@x.jp>\r\nBcc: evil@x.jp"_s
        << QByteArray("In-Reply-To: <c@x.jp>\r\nReferences: <ok@x.jp>\r\n <c@x.jp>\r\n");
    QTest::newRow("no usable id") << u"c@x.jp"_s << u"<>"_s << QByteArray();
}

void TestComposer::threadHeaders()
{
    QFETCH(QString, inReplyTo);
    QFETCH(QString, references);
    QFETCH(QByteArray, expected);
    OutgoingMail mail{u"me@example.jp"_s, u"x@example.jp"_s, u"件名"_s, u"本文"_s, {}};
    mail.inReplyTo = inReplyTo;
    mail.references = references;
    const QByteArray raw = MailComposer::build(mail);
    const qsizetype from = raw.indexOf('\n', raw.indexOf("\r\nMessage-ID: ") + 2) + 1;
    QCOMPARE(raw.mid(from, raw.indexOf("MIME-Version: ") - from), expected);
}

void TestComposer::headerLines_data()
{
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("subject");
    QTest::newRow("long jis subject") << u"x@example.jp"_s << QString(u"打ち合わせ日程のご連絡"_s).repeated(5);
    QTest::newRow("long utf-8 subject") << u"x@example.jp"_s << QString(u"絵文字😀テスト"_s).repeated(8);
    QTest::newRow("1,100 ascii characters") << u"x@example.jp"_s << QString(u"Meeting notes "_s).repeated(79).trimmed();
    QTest::newRow("ascii run longer than a line") << u"x@example.jp"_s << u"see "_s + QString(100, u'x');
    QTest::newRow("long recipient name") << QString(u"株式会社テスト"_s).repeated(5) + u"<to@example.jp>"_s << u"件名"_s;
}

void TestComposer::headerLines()
{
    QFETCH(QString, to);
    QFETCH(QString, subject);
    const QByteArray raw = MailComposer::build({u"me@example.jp"_s, to, subject, u"本文"_s, files_});
    // Every header line (the parts' too) within 76 characters, the field name counted.
    for (const QByteArray &line : raw.split('\n'))
        if (line.contains("=?") || line.startsWith("Subject:") || line.startsWith(' '))
            QVERIFY2(line.size() <= 77, line.constData()); // 76 and the CR
    QCOMPARE(MailDecoder::decode(raw).subject, subject);
    QTemporaryDir out;
    QStringList written;
    AttachmentExtractor::extract(raw, out.path(), &written);
    QCOMPARE(written.last(), QFileInfo(files_.last()).fileName());
}

void TestComposer::refusals_data()
{
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QStringList>("attachments");
    QTest::addColumn<QString>("message");

    QTest::newRow("empty recipient") << QString() << u"me@example.jp"_s << QStringList()
                                     << u"宛先のメールアドレスが正しくありません"_s;
    QTest::newRow("name without address") << u"山田<>"_s << u"me@example.jp"_s << QStringList()
                                          << u"宛先のメールアドレスが正しくありません"_s;
    QTest::newRow("injected recipient") << u"a@example.jp\r\nBcc: b@example.jp"_s << u"me@example.jp"_s
                                        << QStringList() << u"宛先のメールアドレスが正しくありません"_s;
    QTest::newRow("no sender") << u"a@example.jp"_s << QString() << QStringList()
                               << u"差出人のメールアドレスが正しくありません"_s;
    QTest::newRow("missing attachment") << u"a@example.jp"_s << u"me@example.jp"_s
                                        << QStringList{u"/nonexistent/資料.pdf"_s} << u"添付ファイルが見つかりません"_s;
    // Read whole, these never end or exhaust memory.
    QTest::newRow("device") << u"a@example.jp"_s << u"me@example.jp"_s << QStringList{u"/dev/zero"_s}
                            << u"「/dev/zero」は普通のファイルではないため添付できません"_s;
    QTest::newRow("fifo") << u"a@example.jp"_s << u"me@example.jp"_s << QStringList{dir_.filePath(u"fifo"_s)}
                          << u"「%1」は普通のファイルではないため添付できません"_s.arg(dir_.filePath(u"fifo"_s));
    QTest::newRow("too large together") << u"a@example.jp"_s << u"me@example.jp"_s
                                        << QStringList{dir_.filePath(u"large"_s), dir_.filePath(u"large"_s)}
                                        << u"添付ファイルは合わせて 20 MB までです"_s;
}

void TestComposer::refusals()
{
    QFETCH(QString, to);
    QFETCH(QString, from);
    QFETCH(QStringList, attachments);
    Error err;
    QVERIFY(MailComposer::build({from, to, u"s"_s, u"b"_s, attachments}, &err).isEmpty());
    QTEST(err.message, "message");
}

void TestComposer::envelopeAddress_data()
{
    QTest::addColumn<QString>("recipient");
    QTest::addColumn<QString>("address");

    QTest::newRow("bare") << u" a@example.jp "_s << u"a@example.jp"_s;
    QTest::newRow("card") << u"山田太郎<yamada@example.jp>"_s << u"yamada@example.jp"_s;
    QTest::newRow("card with spaces") << u"山田 太郎 < yamada@example.jp >"_s << u"yamada@example.jp"_s;
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("name only") << u"山田太郎"_s << QString();
    QTest::newRow("unclosed") << u"山田<yamada@example.jp"_s << QString();
    QTest::newRow("two addresses") << u"a@example.jp, b@example.jp"_s << QString();
    QTest::newRow("no domain") << u"yamada@"_s << QString();
    // A line break hides what follows from the one-line recipient box.
    QTest::newRow("line break before a card address") << u"a@example.jp\n<b@example.jp>"_s << QString();
    QTest::newRow("trailing CR LF") << u"a@example.jp\r\n"_s << QString();
    QTest::newRow("quoted local part") << u"\"bob\"@example.jp"_s << u"\"bob\"@example.jp"_s;
    QTest::newRow("quoted local part with blank, card")
        << u"ボブ<\"bob smith\"@example.jp>"_s << u"\"bob smith\"@example.jp"_s;
    QTest::newRow("quoted local part with LF") << u"\"bo\nb\"@example.jp"_s << QString();
}

void TestComposer::envelopeAddress()
{
    QFETCH(QString, recipient);
    QTEST(MailComposer::envelopeAddress(recipient), "address");
}

void TestComposer::recipientList_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("addresses"); // empty: refused
    QTest::addColumn<QString>("named");         // what the refusal quotes

    QTest::newRow("three separators, card form")
        << u"山田<a@example.jp>、b@example.jp; 佐藤 花子 < c@example.jp >,d@example.jp"_s
        << QStringList{u"a@example.jp"_s, u"b@example.jp"_s, u"c@example.jp"_s, u"d@example.jp"_s} << QString();
    QTest::newRow("separator inside a card name")
        << u"山田、太郎<a@example.jp>, Smith, John <b@example.jp>"_s
        << QStringList{u"a@example.jp"_s, u"b@example.jp"_s} << QString();
    QTest::newRow("comma in a quoted local part") << u"\"a,b\"@example.jp, c@example.jp"_s
                                                  << QStringList{u"\"a,b\"@example.jp"_s, u"c@example.jp"_s} << QString();
    QTest::newRow("empty items skipped") << u" a@example.jp ,, 、b@example.jp ;"_s
                                         << QStringList{u"a@example.jp"_s, u"b@example.jp"_s} << QString();
    QTest::newRow("malformed item named") << u"a@example.jp, 山田<yamada@>, c@example.jp"_s << QStringList()
                                          << u"「山田<yamada@>」"_s;
    QTest::newRow("only separators") << u" 、, "_s << QStringList() << u"宛先が指定されていません"_s;
    QTest::newRow("line break") << u"a@example.jp\nb@example.jp"_s << QStringList() << u"改行"_s;
}

void TestComposer::recipientList()
{
    QFETCH(QString, text);
    QFETCH(QStringList, addresses);
    QFETCH(QString, named);
    QList<Recipient> list;
    Error err;
    QCOMPARE(RecipientList::parse(text, u"宛先"_s, &list, &err), !addresses.isEmpty());
    QStringList got;
    for (const Recipient &r : list)
        got.append(r.address);
    QCOMPARE(got, addresses);
    QVERIFY2(err.message.contains(named), qPrintable(err.message));
    if (!addresses.isEmpty()) // what is left to send keeps the item as typed
        QCOMPARE(RecipientList::only(text, {addresses.last().toUpper()}), list.last().text);
}

void TestComposer::severalRecipientsInHeaders()
{
    OutgoingMail mail{u"me@example.jp"_s,
                      u"株式会社テスト営業部 山田太郎様<yamada@example.jp>、Smith, John <john@example.com>; b@example.jp"_s,
                      u"件名"_s, u"本文"_s, {}, u"経理<keiri@example.jp>"_s};
    const QByteArray raw = MailComposer::build(mail);
    const QByteArray head = raw.left(raw.indexOf("\r\n\r\n"));
    for (const QByteArray &line : head.split('\n'))
        QVERIFY2(line.size() <= 77, line.constData()); // 76 and the CR
    // Python's header registry puts a blank between adjacent encoded words: names compare without blanks.
    const QJsonObject seen = QJsonDocument::fromJson(
        QJsonDocument(readByPython(raw)).toJson().replace(' ', "")).object();
    QCOMPARE(seen.value(u"toList"_s).toArray(),
             QJsonArray({QJsonArray{u"株式会社テスト営業部山田太郎様"_s, u"yamada@example.jp"_s},
                         QJsonArray{u"Smith,John"_s, u"john@example.com"_s}, QJsonArray{u""_s, u"b@example.jp"_s}}));
    QCOMPARE(seen.value(u"ccList"_s).toArray(), QJsonArray({QJsonArray{u"経理"_s, u"keiri@example.jp"_s}}));
    QCOMPARE(seen.value(u"defects"_s).toInt(), 0);
}

void TestComposer::nulInBodyIsReplaced()
{
    const QByteArray raw = MailComposer::build({u"me@example.jp"_s, u"a@example.jp"_s, u"s"_s,
                                                u"前"_s + QChar(0) + u"後"_s, {}});
    QVERIFY(!raw.isEmpty());
    QVERIFY(!raw.contains('\0'));
    QCOMPARE(MailDecoder::decode(raw).body, u"前\uFFFD後\r\n"_s);
}

void TestComposer::textAttachmentCharset_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("contentType");
    QTest::newRow("UTF-8") << u"議事録～\n"_s.toUtf8() << "text/plain; charset=UTF-8"_ba;
    QTest::newRow("Shift_JIS") << "\x8B\x63\x8E\x96\x98\x5E\x81\x60\n"_ba << "text/plain; charset=Shift_JIS"_ba;
    QTest::newRow("neither") << "\xFF\xFE\xFD text\n"_ba << "application/octet-stream"_ba;
    QTest::newRow("NUL inside") << QByteArray("a\0b\n", 4) << "application/octet-stream"_ba;
}

void TestComposer::textAttachmentCharset()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, contentType);
    QFile f(dir_.filePath(u"memo.txt"_s));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    const QByteArray raw = MailComposer::build({u"me@example.jp"_s, u"a@example.jp"_s, u"s"_s, u"b"_s, {f.fileName()}});
    QVERIFY2(raw.contains("Content-Type: " + contentType), raw.constData());
}

QTEST_GUILESS_MAIN(TestComposer)
#include "tst_composer.moc"
