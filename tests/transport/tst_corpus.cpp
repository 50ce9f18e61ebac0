// Public test messages (tests/data/corpus, see its README for sources and for
// what CPython's email package makes of each). Python is a peer, not an
// oracle: rows where Hollin differs on purpose say why.
#include "transport/AttachmentExtractor.h"
#include "transport/MailDecoder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

QByteArray corpusMessage(const QString &name)
{
    QFile file(QStringLiteral(HOLLIN_TEST_DATA "/corpus/messages/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing corpus message %s", qPrintable(name));
    return file.readAll();
}

const QString kTestUser = u"test user <test@example.com>"_s;
const QString kAlice = u"郵便アリス <alice.yuubin@example.com>, 郵便アリス <alice.yuubin@example.net>"_s;
const QStringList kLettersFiles = {
    u"inline-jpg-image-without-disposition.jpg"_s, u"inline-jpg-image-filename.jpg"_s,
    u"attached-pdf-filename.pdf"_s,                u"attached-pdf-without-disposition.pdf"_s,
    u"attached-json-filename.json"_s,              u"attached-text-plain-filename.txt"_s,
    u"attached-text-html-filename.html"_s};

} // namespace

class TestCorpus : public QObject {
    Q_OBJECT

private slots:
    void headers_data();
    void headers();
    void bodies_data();
    void bodies();
    void attachments_data();
    void attachments();
    void sizes();
};

void TestCorpus::headers_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("from");

    QTest::newRow("b word") << u"tm-subject-base64-iso-2022-jp.eml"_s << u"テスト"_s << kTestUser;
    QTest::newRow("folded b words") << u"tm-subject-folded-base64-iso-2022-jp.eml"_s << u"テストテスト"_s << kTestUser;
    QTest::newRow("word broken by fold") << u"tm-subject-folded-mime-incomplete.eml"_s << u"テストメール"_s << kTestUser;
    // Python leaves the escape sequences; they are ISO-2022-JP text.
    QTest::newRow("raw iso-2022-jp") << u"tm-subject-raw-iso-2022-jp.eml"_s << u"テスト"_s << kTestUser;
    QTest::newRow("raw folded iso-2022-jp") << u"tm-subject-folded-raw-iso-2022-jp.eml"_s << u"テスト テスト"_s << kTestUser;
    // Python gives U+FFFD for raw 8-bit headers; the bytes are CP932 / EUC-JP.
    QTest::newRow("raw cp932") << u"tm-subject-raw-cp932.eml"_s << u"①②③"_s << kTestUser;
    QTest::newRow("raw folded cp932") << u"tm-subject-folded-raw-cp932.eml"_s << u"①②③ ④⑤⑥"_s << kTestUser;
    QTest::newRow("raw euc-jp") << u"tm-subject-raw-euc-jp.eml"_s << u"テスト"_s << kTestUser;
    QTest::newRow("raw folded euc-jp") << u"tm-subject-folded-raw-euc-jp.eml"_s << u"テスト テスト"_s << kTestUser;
    // Python sees no header behind the byte-order mark.
    QTest::newRow("bom, raw utf-8") << u"tm-subject-raw-utf-8.eml"_s << u"テスト"_s << kTestUser;
    // Header texts end at their first NUL, as every text the mail library returns.
    QTest::newRow("nul inside") << u"tm-subject-include-null.eml"_s << u"te"_s << kTestUser;
    QTest::newRow("only nul") << u"tm-subject-only-null.eml"_s << QString() << kTestUser;
    QTest::newRow("two subjects") << u"tm-subject-2-subjects.eml"_s << u"test1"_s << kTestUser;
    QTest::newRow("no subject") << u"tm-subject-no-subject.eml"_s << QString() << kTestUser;
    // Python keeps the space of the fold; a field value has no leading space.
    QTest::newRow("fold after name") << u"tm-subject-fold-after-header-name.eml"_s << u"test"_s << kTestUser;
    QTest::newRow("docomo") << u"tm-decomail-docomo-iso-2022-jp.eml"_s << u"デコメール"_s << u"sender@example.ne.jp"_s;
    QTest::newRow("shift_jis b word") << u"tm-decomail-emobile-shift_jis.eml"_s << u"デコメ送信テスト"_s
                                      << u"from@example.com"_s;
    QTest::newRow("no from") << u"tm-html-windows10-mail.eml"_s << u"This is test"_s << QString();
    QTest::newRow("long utf-8 subject") << u"mailgem-japanese-attachment-rfc2231-continuation.eml"_s
                                        << QString(u"まみむめも"_s).repeated(10)
                                        << u"Mikel Lindsaar <mikel@test.lindsaar.net>"_s;
    // Python keeps a TAB from the white-space-only fold line.
    QTest::newRow("white-space fold line") << u"mailgem-rfc2822-iso-2022-jp-folded-subject.eml"_s
                                           << u"Re: TEST テストテスト"_s << u"Atsushi Yoshida <atsushi@example.com>"_s;
    QTest::newRow("unknown charset NONE") << u"mailgem-bad-encoded-subject.eml"_s << u"TEST"_s << QString();
    QTest::newRow("emoji and jis words") << u"letters-ja-mixed-iso-2022-jp-base64.eml"_s << u"📧 Test いろは歌"_s << kAlice;
    QTest::newRow("euc-jp words") << u"letters-ja-plain-euc-jp-base64.eml"_s << u"📧 Test いろは歌"_s << kAlice;
    QTest::newRow("thunderbird") << u"mimekit-japanese-thunderbird.eml"_s << u"日本語メールテスト (testing Japanese emails)"_s
                                 << u"Atsushi Eno <x@x.com>"_s;
    QTest::newRow("bare cr lines") << u"sisimai-cr-only-raw-utf8-subject.eml"_s << u"メールエラー通知"_s
                                   << u"no-reply@x0000000000000.dion.ne.jp"_s;
    QTest::newRow("mbox from line") << u"mailparser-large-text.eml"_s
                                    << u"[Bug 381598] Re: ubiquity crashes in ubuntu 9.04 installation"_s
                                    << u"Brian Murray <brian@ubuntu.com>"_s;
}

void TestCorpus::headers()
{
    QFETCH(QString, file);
    const DecodedMail mail = MailDecoder::decode(corpusMessage(file));
    QTEST(mail.subject, "subject");
    QTEST(mail.from, "from");
    QVERIFY(!mail.header.contains(u'\n') || mail.header.contains(u"\r\n"_s));
}

void TestCorpus::bodies_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("bodyStart");

    QTest::newRow("jis 7bit") << u"mailgem-japanese-iso-2022-jp.eml"_s << u"すみません。"_s;
    QTest::newRow("utf-8 base64") << u"mailgem-japanese-utf8-base64.eml"_s << u"かきくえこ"_s;
    QTest::newRow("shift_jis 8bit") << u"mailgem-japanese-shift-jis-8bit.eml"_s << u"あいうえお\r\n\r\nこのメール"_s;
    QTest::newRow("NEC ⑩ in shift_jis") << u"tm-machdep-docomo-shift-jis-extra-8bit.eml"_s << u"丸数字⑩\r\n"_s;
    QTest::newRow("NEC ① in iso-2022-jp") << u"tm-machdep-au-iso-2022-jp-extra-7bit.eml"_s << u"丸数字①\r\n"_s;
    QTest::newRow("astral emoji") << u"tm-emoji-unicode.eml"_s << u"😠\r\n"_s;
    // CP932's vendor rows map into the Private Use Area.
    QTest::newRow("docomo emoji to private use") << u"tm-emoji-docomo.eml"_s << QString(QChar(0xE70C));
    QTest::newRow("plain beside html") << u"tm-decomail-docomo-iso-2022-jp.eml"_s << u"\r\n　\r\n謹賀新年"_s;
    QTest::newRow("html only") << u"tm-html-windows10-mail.eml"_s << u"This is test."_s;
    QTest::newRow("euc-jp quoted-printable") << u"letters-ja-plain-euc-jp-qp.eml"_s << u"\r\n色は匂えど\r\n散りぬるを"_s;
    QTest::newRow("euc-jp in mixed") << u"letters-ja-mixed-euc-jp-qp.eml"_s << u"色は匂えど\r\n"_s;
    QTest::newRow("jis in thunderbird") << u"mimekit-japanese-thunderbird.eml"_s
                                        << u"Let's see if both subject and body works fine...\r\n\r\n日本語が"_s;
    QTest::newRow("no charset, utf-8 binary") << u"stalwart-raw-utf8-param-binary-body.eml"_s << u"人権の無視及"_s;
    // The part says iso-2022-jp; its 8-bit bytes are EUC-JP (README note).
    QTest::newRow("euc-jp labelled jis") << u"sisimai-euc-jp-bytes-labelled-iso-2022-jp.eml"_s
                                         << u"次のあて先へのメッセージはエラーのため送信できませんでした。"_s;
    QTest::newRow("utf-8 labelled jis, bare cr") << u"sisimai-cr-only-raw-utf8-subject.eml"_s
                                                 << u"送信先のメールボックスが一杯のため"_s;
    QTest::newRow("missing final boundary") << u"flanker-missing-final-boundary.eml"_s << u"Some body"_s;
    QTest::newRow("reused boundary") << u"cpython-msg_15-reused-boundary.eml"_s << u"Some removed test."_s;
}

void TestCorpus::bodies()
{
    QFETCH(QString, file);
    QFETCH(QString, bodyStart);
    const QString body = MailDecoder::decode(corpusMessage(file)).body;
    QVERIFY2(body.startsWith(bodyStart), qPrintable(body.left(80)));
}

void TestCorpus::attachments_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("none") << u"tm-subject-base64-iso-2022-jp.eml"_s << 0 << QStringList();
    QTest::newRow("inline gifs") << u"tm-decomail-au-iso-2022-jp.eml"_s << 1
                                 << QStringList{u"face-angel.gif"_s, u"face-crying.gif"_s, u"face-devilish.gif"_s};
    QTest::newRow("rfc2231 jis continuation") << u"tm-attach-rfc2231-filename-without-lang.eml"_s << 1
                                              << QStringList{u"アイテム.csv"_s};
    QTest::newRow("rfc2047 quoted name") << u"mailgem-japanese-attachment-rfc2047-name.eml"_s << 1
                                         << QStringList{u"てすと.txt"_s};
    QTest::newRow("rfc2231 utf-8 continuation") << u"mailgem-japanese-attachment-rfc2231-continuation.eml"_s << 1
                                                << QStringList{QString(u"かきくけこ"_s).repeated(5) + u".txt"_s};
    // Python finds no name; the unquoted word is common in practice.
    QTest::newRow("unquoted rfc2047 name") << u"mailgem-attachment-unquoted-rfc2047-name.eml"_s << 1
                                           << QStringList{u"This is a test.pdf"_s};
    QTest::newRow("raw latin-1 name") << u"mailgem-attachment-raw-8bit-latin1-filename.eml"_s << 1
                                      << QStringList{u"ciële.txt"_s};
    QTest::newRow("raw utf-8 name") << u"enmime-raw-utf8-filename.eml"_s << 1 << QStringList{u"管理.doc"_s};
    // Python counts the file inside; the attached message is kept whole.
    QTest::newRow("message/rfc822") << u"mailgem-attachment-message-rfc822.eml"_s << 1
                                    << QStringList{u"ForwardedMessage.eml"_s};
    QTest::newRow("digest") << u"cpython-msg_02-digest.eml"_s << 1
                            << QStringList{u"[Ppp] testing #1.eml"_s, u"添付ファイル.eml"_s, u"[Ppp] testing #3.eml"_s,
                                           u"[Ppp] testing #4.eml"_s, u"[Ppp] testing #5.eml"_s};
    QTest::newRow("duplicate names") << u"cpython-msg_44-duplicate-attachment-names.eml"_s << 1
                                     << QStringList{u"msg.txt"_s, u"msg (2).txt"_s};
    // Python loses the GIF because the inner boundary repeats the outer one.
    QTest::newRow("reused boundary") << u"cpython-msg_15-reused-boundary.eml"_s << 1 << QStringList{u"xx.gif"_s};
    QTest::newRow("malformed base64") << u"enmime-malformed-base64-attachment.eml"_s << 1 << QStringList{u"some.doc"_s};
    QTest::newRow("html related") << u"enmime-html-inline-related.eml"_s << 1 << QStringList{u"favicon.png"_s};
    QTest::newRow("letters jis") << u"letters-ja-mixed-iso-2022-jp-base64.eml"_s << 1 << kLettersFiles;
    QTest::newRow("letters utf-8") << u"letters-ja-mixed-utf-8-qp.eml"_s << 1 << kLettersFiles;
    // Python "extracts" a truncated picture from a fragment; nothing may be written before reassembly.
    QTest::newRow("fragment 1 of 3") << u"mimekit-partial-photo-1of3.eml"_s << -6 << QStringList();
    QTest::newRow("fragment 1 of 2") << u"mimekit-partial-rfc2046-1of2-incomplete.eml"_s << -6 << QStringList();
    QTest::newRow("fragment in multipart") << u"stalwart-partial-inside-multipart.eml"_s << -6 << QStringList();
    QTest::newRow("reassembled reference") << u"mimekit-partial-photo-reassembled.eml"_s << 1
                                           << QStringList{u"earrings.jpg"_s};
}

void TestCorpus::attachments()
{
    QFETCH(QString, file);
    QTemporaryDir dir;
    QStringList written;
    QTEST(AttachmentExtractor::extract(corpusMessage(file), dir.path(), &written), "result");
    QTEST(written, "names");
}

void TestCorpus::sizes()
{
    // 205 KB of folded Q words, and a 1.1 MB body.
    QCOMPARE(MailDecoder::decode(corpusMessage(u"flanker-long-header.eml"_s)).subject.size(), 130429);
    QVERIFY(MailDecoder::decode(corpusMessage(u"mailparser-large-text.eml"_s)).body.size() > 1000000);
}

QTEST_APPLESS_MAIN(TestCorpus)
#include "tst_corpus.moc"
