#include "transport/AttachmentExtractor.h"
#include "transport/MailDecoder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

QByteArray readMail(const QString &name)
{
    QFile file(QStringLiteral(HOLLIN_TEST_DATA "/mail/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test mail %s", qPrintable(name));
    return file.readAll();
}

} // namespace

class TestMailDecoder : public QObject {
    Q_OBJECT

private slots:
    void regressionMails_data();
    void regressionMails();
    void regressionAttachments_data();
    void regressionAttachments();
    void bodyChoice_data();
    void bodyChoice();
    void headerBlock();
    void headerOnly();
};

void TestMailDecoder::regressionMails_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("body");

    QTest::newRow("NEC and IBM characters in ISO-2022-JP")
        << u"iso2022jp-nec-ibm-characters.eml"_s << u"①㈱Ⅰ髙橋"_s << u"高橋 <takahashi@example.jp>"_s
        << u"①㈱Ⅰ髙橋\r\n"_s;
    QTest::newRow("character split between encoded words")
        << u"encoded-word-split-inside-character.eml"_s << u"テスト"_s << u"日本 <split@example.jp>"_s
        << u"split words\r\n"_s;
    QTest::newRow("raw Shift_JIS header") << u"raw-shift-jis-header.eml"_s << u"見積書①～③の件"_s
                                          << u"髙橋 一郎 <ichiro@example.jp>"_s << u"よろしくお願いします～\r\n"_s;
    QTest::newRow("label contradicted by bytes") << u"charset-label-contradicted-by-bytes.eml"_s
                                                 << u"■緊急のお知らせ■"_s << u"wrong@example.jp"_s
                                                 << u"本文はシフトJISです。"_s;
    QTest::newRow("half-width katakana in ISO-2022-JP") << u"iso2022jp-halfwidth-katakana.eml"_s
                                                        << u"ｶﾅ"_s << u"kana@example.jp"_s << u"ｶﾅ ｱかな\r\n"_s;
    // A label the bytes almost all fit holds: only the cut character is lost.
    QTest::newRow("utf-8 label, last character cut")
        << u"utf8-label-last-character-cut.eml"_s << u"会議の時間について"_s << u"佐藤 <sato@example.jp>"_s
        << u"お世話になっております。\r\n会議は十時からです。\uFFFD"_s;
    QTest::newRow("0x5C trail byte in quotes") << u"shift-jis-backslash-byte-in-quotes.eml"_s << u"予定表の件"_s
                                               << u"能登データ機構 <info@noto.example.jp>"_s << u"来月の予定表です。"_s;
    QTest::newRow("JIS pair CP932 lacks") << u"iso2022jp-pair-without-cp932-character.eml"_s << u"テスト\uFFFD"_s
                                          << u"jis@example.jp"_s << u"あ\uFFFDい\r\n"_s;
    QTest::newRow("ISO-2022-JP-2 designations") << u"iso2022jp-2-designations-and-single-shift.eml"_s
                                                << u"Café 日本"_s << u"multi@example.jp"_s
                                                << u"Café au lait 日本語 中文 한국\r\n"_s;
    QTest::newRow("unlabelled half-width katakana") << u"unlabelled-halfwidth-katakana.eml"_s << u"ｱﾝｹｰﾄﾉ ｺﾞｱﾝﾅｲ"_s
                                                    << u"kana@example.jp"_s << u"ｱﾝｹｰﾄﾉ ｺﾞｱﾝﾅｲ ｺﾁﾗｶﾗﾄﾞｳｿﾞ\r\n"_s;
    QTest::newRow("format=flowed, delsp=yes")
        << u"format-flowed-delsp-yes.eml"_s << u"お知らせ"_s << u"apple@example.jp"_s
        << u"いつもお世話になっております。来週の打ち合わせは予定どおり十四時から第二会議室で行います。\r\n\r\n"
           u"> 前回の議事録を添付します。\r\n"_s;
    QTest::newRow("format=flowed") << u"format-flowed-without-delsp.eml"_s << u"flowed"_s << u"flowed@example.jp"_s
                                   << u"Thunderbird wraps long lines at spaces; 日本語も 続きます。\r\n"
                                      u">not a quote\r\n-- \r\nsig\r\n"_s;
    QTest::newRow("html: latin-1 label, shift_jis meta")
        << u"html-latin1-label-shift-jis-meta.eml"_s << u"ご注文ありがとうございます"_s << u"shop@example.jp"_s
        << u"ご注文ありがとうございます。\r\n発送は明日です。"_s;
    QTest::newRow("decomposed kana") << u"decomposed-kana-from-mac.eml"_s << u"パンフレットとガイドブック"_s
                                     << u"ブルーパーク <mac@example.jp>"_s << u"パンフレットを送ります。"_s;
    QTest::newRow("ESC ( J yen sign") << u"iso2022jp-roman-yen-sign.eml"_s << u"価格 ¥980"_s << u"ec@example.jp"_s
                                      << u"価格：¥1,980 (C:\\path)\r\n"_s;
    QTest::newRow("astral and rare characters") << u"subject-characters-cp932-lacks.eml"_s << u"𠮷野家で打ち上げ🍺"_s
                                                << u"森鷗外 <ogai@example.jp>"_s << u"金曜日の十九時からです。\r\n"_s;
    // The text after a NUL is kept.
    QTest::newRow("NUL in body") << u"nul-byte-in-body.eml"_s << u"NUL"_s << u"nul@example.jp"_s
                                 << u"前半です。\uFFFD後半も残ります。\r\n"_s;
    // RFC 2781 reads UTF-16 without a byte-order mark as big-endian; Windows
    // writes it little-endian: the zero bytes of the ASCII characters decide.
    QTest::newRow("utf-16 without BOM") << u"utf16le-body-without-bom.eml"_s << u"UTF-16"_s << u"utf16@example.jp"_s
                                        << u"Hello 世界\r\n2行目\r\n"_s;
    // Broken mail that other readers recover.
    QTest::newRow("Q word ending in a dangling =")
        << u"q-word-dangling-equals.eml"_s << u"日本語"_s << u"山田 <yamada@example.jp>, 佐藤 <sato@example.jp>"_s
        << u"dangling\r\n"_s;
    QTest::newRow("Q escape split between words") << u"q-escape-split-between-words.eml"_s << u"日本"_s
                                                  << u"£ Shop <shop@example.jp>"_s << u"split\r\n"_s;
    QTest::newRow("UTF-7 labels, comma for slash")
        << u"utf7-labels-and-comma-for-slash.eml"_s << u"日本語"_s << u"アイテ <utf7@example.jp>"_s
        << u"データを送ります\r\n"_s;
    QTest::newRow("delivery report only") << u"delivery-status-only.eml"_s << u"Returned mail"_s
                                          << u"MAILER-DAEMON@example.jp"_s
                                          << u"Reporting-MTA: dns; mx.example.jp\r\n\r\nFinal-Recipient: rfc822; "
                                             u"nobody@example.jp\r\nAction: failed\r\nStatus: 5.1.1\r\n"
                                             u"Diagnostic-Code: smtp; 550 配送できませんでした\r\n"_s;
    // One broken byte keeps U+FFFD; it is no reason to read "(\xC3)" as Shift_JIS "(ﾃ)".
    QTest::newRow("UTF-8 word, one invalid byte") << u"utf8-word-one-invalid-byte.eml"_s << u"(\uFFFD)"_s
                                                  << u"(\uFFFD) <broken@example.jp>"_s << u"broken\r\n"_s;
    // Kana and kanji hold no zero byte: the plausible reading picks the byte order.
    QTest::newRow("UTF-16 Japanese only, no BOM")
        << u"utf16-without-bom-japanese-only.eml"_s << u"日本語のお知らせ"_s << u"utf16ja@example.jp"_s
        << u"お世話になっております。\r\n資料をお送りします。\r\n"_s;
}

void TestMailDecoder::regressionMails()
{
    QFETCH(QString, file);
    const DecodedMail mail = MailDecoder::decode(readMail(file));
    QTEST(mail.subject, "subject");
    QTEST(mail.from, "from");
    QTEST(mail.body, "body");
    QCOMPARE(mail.date, u"Mon, 07 Dec 2026 09:00:00 +0900"_s);
}

void TestMailDecoder::regressionAttachments_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("raw Shift_JIS filename") << u"raw-shift-jis-filename.eml"_s << QStringList{u"申込書.xls"_s};
    QTest::newRow("0x5C trail byte in quotes") << u"shift-jis-backslash-byte-in-quotes.eml"_s
                                               << QStringList{u"予定表_機構"_s};
    QTest::newRow("slash inside the name") << u"filename-with-slash.eml"_s
                                           << QStringList{u"経費精算_2024／03分.csv"_s, u"書類＼備考＼メモ.txt"_s};
    QTest::newRow("decomposed kana") << u"decomposed-kana-from-mac.eml"_s << QStringList{u"パンフレット.pdf"_s};
    QTest::newRow("broken name parameters")
        << u"filename-parameters-broken.eml"_s
        << QStringList{u"見積書.pdf"_s, u"請求書.xlsx"_s, u"売上;月別.csv"_s};
}

void TestMailDecoder::regressionAttachments()
{
    QFETCH(QString, file);
    QTemporaryDir dir;
    QStringList written;
    QCOMPARE(AttachmentExtractor::extract(readMail(file), dir.path(), &written), 1);
    QTEST(written, "names");
}

void TestMailDecoder::bodyChoice_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("body");

    const QByteArray head = "From: a@example.jp\nSubject: s\nMIME-Version: 1.0\n"_ba;
    QTest::newRow("plain text before html")
        << head + "Content-Type: multipart/alternative; boundary=x\n\n--x\nContent-Type: text/html\n\n"
                  "<p>html</p>\n--x\nContent-Type: text/plain\n\nplain\n--x--\n"_ba
        << u"plain"_s;
    QTest::newRow("html only, through the parser")
        << head + "Content-Type: text/html; charset=utf-8\n\n<html><head><title>t</title><style>p{}</style>"
                  "</head><body><p>a&amp;b &lt;c&gt;</p><p>line<br>two</p><script>x()</script>"
                  "<ul><li>one</li><li>two&nbsp;&nbsp;</li></ul><pre>  a\n  b</pre></body></html>\n"_ba
        << u"a&b <c>\r\nline\r\ntwo\r\none\r\ntwo  \r\n  a\r\n  b"_s;
    QTest::newRow("html in shift_jis")
        << head + "Content-Type: text/html; charset=Shift_JIS\nContent-Transfer-Encoding: 8bit\n\n"_ba
               + "<div>\x82\xA0\x87\x40</div>"_ba
        << u"あ①"_s;
    QTest::newRow("attached text is not the body")
        << head + "Content-Type: multipart/mixed; boundary=x\n\n--x\nContent-Type: text/plain\n"
                  "Content-Disposition: attachment; filename=a.txt\n\nfile\n--x\nContent-Type: text/plain\n\n"
                  "real body\n--x--\n"_ba
        << u"real body"_s;
    QTest::newRow("quoted-printable iso-2022-jp")
        << head + "Content-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: quoted-printable\n\n"
                  "=1B$B$\"=1B(B\n"_ba
        << u"あ\r\n"_s;
    QTest::newRow("NUL inside html") << head + "Content-Type: text/html; charset=utf-8\n\n<p>a\0b</p>\n"_ba
                                     << u"a\uFFFDb"_s;
    QTest::newRow("no text part") << head + "Content-Type: image/gif\n\nGIF89a"_ba << QString();
}

void TestMailDecoder::bodyChoice()
{
    QFETCH(QByteArray, raw);
    QTEST(MailDecoder::decode(raw).body, "body");
}

void TestMailDecoder::headerBlock()
{
    const QByteArray raw = "Subject: =?UTF-8?B?44GC?=\nX-Raw: \x82\xA0\n\tfolded\n\nbody\n"_ba;
    const DecodedMail mail = MailDecoder::decode(raw);
    // The header keeps its words as sent, turns raw bytes into text and ends lines with CR LF.
    QCOMPARE(mail.header, u"Subject: =?UTF-8?B?44GC?=\r\nX-Raw: あ\r\n\tfolded"_s);
    QCOMPARE(mail.subject, u"あ"_s);
    QCOMPARE(mail.body, u"body\r\n"_s);
}

void TestMailDecoder::headerOnly()
{
    const DecodedMail mail = MailDecoder::decodeHeader(
        "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <y@example.jp>\r\nDate: Tue, 1 Dec 2026 10:00:00 +0900\r\n"
        "Subject: =?ISO-2022-JP?B?GyRCLSEbKEI=?="_ba);
    QCOMPARE(mail.subject, u"①"_s);
    QCOMPARE(mail.from, u"山田 <y@example.jp>"_s);
    QCOMPARE(mail.date, u"Tue, 1 Dec 2026 10:00:00 +0900"_s);
    QVERIFY(mail.body.isEmpty());
}

QTEST_APPLESS_MAIN(TestMailDecoder)
#include "tst_mail_decoder.moc"
