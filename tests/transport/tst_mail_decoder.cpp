#include "transport/MailDecoder.h"

#include <QFile>
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
