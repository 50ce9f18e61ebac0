#include "transport/Charset.h"
#include "transport/MimeHeader.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestCharset : public QObject {
    Q_OBJECT

private slots:
    void decodeByLabel_data();
    void decodeByLabel();
    void headerWords_data();
    void headerWords();
    void mailboxes_data();
    void mailboxes();
    void encodeWords_data();
    void encodeWords();
    void jisFormsEncode();
};

void TestCharset::decodeByLabel_data()
{
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    // ISO-2022-JP read as the CP932 superset.
    QTest::newRow("jis kana") << "ISO-2022-JP"_ba << "\x1B$B%F%9%H\x1B(B"_ba << u"テスト"_s;
    QTest::newRow("jis NEC row 13") << "iso-2022-jp"_ba << "\x1B$B-!-j-5\x1B(B"_ba << u"①㈱Ⅰ"_s;
    QTest::newRow("jis NEC-selected IBM 髙") << "ISO-2022-JP"_ba << "\x1B$B|b\x1B(B"_ba << u"髙"_s;
    QTest::newRow("jis wave dash is CP932's") << "ISO-2022-JP"_ba << "\x1B$B!A\x1B(B"_ba << u"～"_s;
    QTest::newRow("jis ESC $ @") << "ISO-2022-JP"_ba << "\x1B$@$+\x1B(Ba"_ba << u"かa"_s;
    QTest::newRow("jis roman") << "ISO-2022-JP"_ba << "\x1B(Jabc\x1B(B"_ba << u"abc"_s;
    QTest::newRow("jis half-width ESC ( I") << "ISO-2022-JP"_ba << "\x1B(I6E\x1B(B"_ba << u"ｶﾅ"_s;
    QTest::newRow("jis half-width SO/SI") << "ISO-2022-JP"_ba << "a\x0E\x31\x0F"_ba << u"aｱ"_s;
    QTest::newRow("jis-2 JIS X 0212") << "ISO-2022-JP-2"_ba << "\x1B$(D\x30\x21\x1B(B"_ba << u"丂"_s;
    QTest::newRow("jis-3 plane 1") << "ISO-2022-JP-3"_ba << "\x1B$(Q$\"\x1B(B"_ba << u"あ"_s;
    QTest::newRow("jis run stops at line end") << "ISO-2022-JP"_ba << "\x1B$B$\"\r\nAB"_ba << u"あ\r\nAB"_s;
    QTest::newRow("jis half a character") << "ISO-2022-JP"_ba << "\x1B$B$\""_ba.append('$') << u"あ\uFFFD"_s;

    // Shift_JIS labels read as CP932.
    QTest::newRow("sjis NEC") << "Shift_JIS"_ba << "\x87\x40\x87\x8A"_ba << u"①㈱"_s;
    QTest::newRow("x-sjis") << "x-sjis"_ba << "\x82\xA0"_ba << u"あ"_s;
    QTest::newRow("windows-31j") << "Windows-31J"_ba << "\x81\x60"_ba << u"～"_s;
    QTest::newRow("cp932 IBM 髙") << "CP932"_ba << "\xFB\xFC"_ba << u"髙"_s;
    QTest::newRow("quoted label") << "\"shift_jis\""_ba << "\x82\xA0"_ba << u"あ"_s;

    // EUC-JP as EUC-JP-MS, UTF-8, single-byte sets through iconv.
    QTest::newRow("euc-jp") << "EUC-JP"_ba << "\xA4\xA2\xAD\xA1"_ba << u"あ①"_s;
    QTest::newRow("utf-8 bom dropped") << "UTF-8"_ba << "\xEF\xBB\xBF\xE3\x81\x82"_ba << u"あ"_s;
    QTest::newRow("latin1") << "ISO-8859-1"_ba << "ci\xEBle"_ba << u"ciële"_s;
    QTest::newRow("windows-1252") << "windows-1252"_ba << "\x93q\x94"_ba << u"\u201Cq\u201D"_s;

    // Wrong, unknown or missing labels: a guess among the Japanese sets.
    QTest::newRow("iso-2022-jp label, sjis bytes") << "ISO-2022-JP"_ba << "\x82\xA0\x82\xA2\x8A\xBF"_ba << u"あい漢"_s;
    QTest::newRow("iso-2022-jp label, euc bytes") << "ISO-2022-JP"_ba << "\xA4\xA2\xA4\xA4\xB4\xC1"_ba << u"あい漢"_s;
    QTest::newRow("iso-2022-jp label, utf-8") << "ISO-2022-JP"_ba << "\xE3\x81\x82"_ba << u"あ"_s;
    QTest::newRow("unknown label, jis") << "x-unknown"_ba << "\x1B$B$\"\x1B(B"_ba << u"あ"_s;
    QTest::newRow("no label, utf-8") << QByteArray() << "\xE6\x97\xA5"_ba << u"日"_s;
    QTest::newRow("us-ascii label, sjis") << "us-ascii"_ba << "\x83\x65\x83\x58\x83\x67"_ba << u"テスト"_s;
    QTest::newRow("utf-8 label, sjis") << "utf-8"_ba << "\x83\x65\x83\x58\x83\x67"_ba << u"テスト"_s;
    QTest::newRow("shift_jis label, euc") << "shift_jis"_ba << "\xA5\xC6\xA5\xB9\xA5\xC8\xFE"_ba
                                          << u"テスト\uFFFD"_s;
    QTest::newRow("plain ascii") << "NONE"_ba << "TEST"_ba << u"TEST"_s;

    // A label the bytes almost all fit holds; only the bad bytes are lost.
    QTest::newRow("utf-8 label, cut at the end") << "UTF-8"_ba << "\xE3\x83\x86\xE3\x82\xB9\xE3\x83"_ba
                                                 << u"テス\uFFFD"_s;
    QTest::newRow("jis label, one stray byte") << "ISO-2022-JP"_ba << "\x1B$B$\"$$\x1B(B\xA0"_ba << u"あい\uFFFD"_s;
    QTest::newRow("shift_jis label, utf-8 bytes") << "Shift_JIS"_ba << "\xE3\x81\x82\xE3\x81\x84"_ba << u"あい"_s;
    QTest::newRow("latin-1 label, utf-8") << "iso-8859-1"_ba << "caf\xC3\xA9"_ba << u"café"_s;
    QTest::newRow("latin-1 label, shift_jis") << "ISO-8859-1"_ba << "\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD"_ba
                                              << u"こんにちは"_s;
    QTest::newRow("utf-8 label, raw latin-1") << "utf-8"_ba << "caf\xE9 cr\xE8me"_ba << u"café crème"_s;
    QTest::newRow("no label, raw latin-1") << QByteArray() << "caf\xE9 cr\xE8me"_ba << u"café crème"_s;
    // UTF-16: the byte-order mark, else the zero bytes decide (not RFC 2781's big-endian).
    QTest::newRow("utf-16, no BOM, little-endian") << "UTF-16"_ba << "a\0\x42\x30"_ba << u"aあ"_s;
    QTest::newRow("utf-16, no BOM, big-endian") << "utf-16"_ba << "\0a\x30\x42"_ba << u"aあ"_s;
    QTest::newRow("no label, utf-16le") << QByteArray() << "\xFF\xFEh\0i\0"_ba << u"hi"_s;
    // ISO-2022-JP edge forms.
    QTest::newRow("jis roman overline") << "ISO-2022-JP"_ba << "\x1B(J~\\\x1B(B~\\"_ba << u"\u203E¥~\\"_s;
    QTest::newRow("jis unknown escape swallowed") << "ISO-2022-JP"_ba << "a\x1B$(Zb\x1B.Bc"_ba << u"abc"_s;
    QTest::newRow("jis single shift without G2") << "ISO-2022-JP-2"_ba << "a\x1BNib"_ba << u"a\uFFFDb"_s;
    QTest::newRow("jis-2 greek") << "ISO-2022-JP-2"_ba << "\x1B.F\x1BNa"_ba << u"α"_s;
}

void TestCharset::decodeByLabel()
{
    QFETCH(QByteArray, label);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(Charset::decode(bytes, label), text);
}

void TestCharset::headerWords_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("text");

    QTest::newRow("b word") << "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?="_ba << u"テスト"_s;
    QTest::newRow("q word") << "=?utf-8?Q?caf=C3=A9_au_lait?="_ba << u"café au lait"_s;
    QTest::newRow("space between words dropped")
        << "=?ISO-2022-JP?B?GyRCJUYbKEI=?=\r\n =?ISO-2022-JP?B?GyRCJTklSBsoQg==?="_ba << u"テスト"_s;
    QTest::newRow("text around words kept") << "Re: =?UTF-8?B?44GC?= (2)"_ba << u"Re: あ (2)"_s;
    // ESC $ B %F % | 9 %H ESC ( B: the second character starts in one word and ends in the next.
    QTest::newRow("jis char split between words")
        << "=?ISO-2022-JP?B?GyRCJUYl?= =?ISO-2022-JP?B?OSVIGyhC?="_ba << u"テスト"_s;
    QTest::newRow("utf-8 char split between words") << "=?UTF-8?B?5pel5pw=?= =?utf-8?B?rA==?="_ba << u"日本"_s;
    QTest::newRow("different charsets not joined")
        << "=?UTF-8?B?44GC?= =?ISO-2022-JP?B?GyRCJCQbKEI=?="_ba << u"あい"_s;
    QTest::newRow("fold inside a word") << "=?ISO-2022-JP?B?GyRCJUYlOSVI\r\n JWEhPCVrGyhC?="_ba << u"テストメール"_s;
    QTest::newRow("language suffix") << "=?ISO-2022-JP*ja?B?GyRCJCIbKEI=?="_ba << u"あ"_s;
    QTest::newRow("sjis bytes labelled jis") << "=?ISO-2022-JP?B?gqCCog==?="_ba << u"あい"_s;
    QTest::newRow("raw cp932") << "\x87\x40\x87\x41 \x87\x42"_ba << u"①② ③"_s;
    QTest::newRow("raw euc") << "\xA5\xC6\xA5\xB9\xA5\xC8"_ba << u"テスト"_s;
    QTest::newRow("raw jis folded") << "\x1B$B%F\x1B(B\r\n \x1B$B%H\x1B(B"_ba << u"テ ト"_s;
    QTest::newRow("not a word") << "a =?bad b"_ba << u"a =?bad b"_s;
    QTest::newRow("unterminated word") << "=?UTF-8?B?44GC"_ba << u"=?UTF-8?B?44GC"_s;
    QTest::newRow("utf-8 word, last character cut") << "=?UTF-8?B?5Lya6K2w44E=?="_ba << u"会議\uFFFD"_s;
}

void TestCharset::headerWords()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, text);
    QCOMPARE(MimeHeader::decode(raw), text);
}

void TestCharset::mailboxes_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("text");

    QTest::newRow("address only") << " a@example.jp\r\n"_ba << u"a@example.jp"_s;
    QTest::newRow("angle only") << "<a@example.jp>"_ba << u"a@example.jp"_s;
    QTest::newRow("name") << "Taro Yamada <taro@example.jp>"_ba << u"Taro Yamada <taro@example.jp>"_s;
    QTest::newRow("encoded name") << "=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <y@example.jp>"_ba
                                  << u"山田 <y@example.jp>"_s;
    QTest::newRow("quoted encoded name") << "\"=?UTF-8?Q?Forma=C3=A7=C3=A3o?=\" <f@example.jp>"_ba
                                         << u"Formação <f@example.jp>"_s;
    QTest::newRow("quoted comma") << "\"Doe, John\" <j@example.jp>"_ba << u"Doe, John <j@example.jp>"_s;
    QTest::newRow("escaped quote") << "\"a \\\"b\\\"\" <q@example.jp>"_ba << u"a \"b\" <q@example.jp>"_s;
    QTest::newRow("comment name") << "j@example.jp (John)"_ba << u"John <j@example.jp>"_s;
    QTest::newRow("raw sjis name") << "\x8E\x52\x93\x63 <y@example.jp>"_ba << u"山田 <y@example.jp>"_s;
    QTest::newRow("two mailboxes") << "A <a@x.jp>, b@x.jp"_ba << u"A <a@x.jp>, b@x.jp"_s;
    QTest::newRow("raw jis quoted name") << "\"\x1B$B\"<\x1B(B\" <j@x.jp>"_ba << u"⊆ <j@x.jp>"_s;
}

void TestCharset::mailboxes()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, text);
    QCOMPARE(MimeHeader::decodeMailboxes(raw), text);
}

void TestCharset::encodeWords_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("prefix");

    QTest::newRow("ascii stays") << u"Hello, world"_s << QByteArray();
    QTest::newRow("jis") << u"会議の件"_s << "=?ISO-2022-JP?B?"_ba;
    QTest::newRow("jis with wave dash") << u"10時～12時"_s << "=?ISO-2022-JP?B?"_ba;
    QTest::newRow("long jis") << QString(u"長い件名のテスト"_s).repeated(8) << "=?ISO-2022-JP?B?"_ba;
    QTest::newRow("NEC char needs utf-8") << u"①の件"_s << "=?UTF-8?B?"_ba;
    QTest::newRow("half-width kana needs utf-8") << u"ｶﾅ"_s << "=?UTF-8?B?"_ba;
    QTest::newRow("long utf-8 with emoji") << QString(u"絵文字😀テスト"_s).repeated(10) << "=?UTF-8?B?"_ba;
    QTest::newRow("encoded-word lookalike") << u"=?x?"_s << "=?ISO-2022-JP?B?"_ba;
}

void TestCharset::encodeWords()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, prefix);
    const QByteArray encoded = MimeHeader::encode(text);
    if (prefix.isEmpty()) {
        QCOMPARE(encoded, text.toLatin1());
        return;
    }
    const QList<QByteArray> words = encoded.split('\n');
    for (QByteArray word : words) {
        word = word.trimmed();
        QVERIFY2(word.size() <= 75, word.constData());
        QVERIFY2(word.startsWith(prefix), word.constData());
    }
    QVERIFY(!encoded.contains("\n") || encoded.contains("\r\n "));
    QString expected = text;
    if (prefix.startsWith("=?ISO"))
        expected = Charset::toJisForms(text).replace(QChar(0x301C), QChar(0xFF5E)); // read back as CP932
    QCOMPARE(MimeHeader::decode(encoded), expected);
}

void TestCharset::jisFormsEncode()
{
    bool ok = false;
    // Typed Microsoft forms still fit ISO-2022-JP once mapped to JIS.
    const QByteArray bytes = Charset::encodeIso2022Jp(u"～∥－—￠￡￢"_s, &ok);
    QVERIFY(ok);
    QVERIFY(bytes.endsWith("\x1B(B"));
    QCOMPARE(Charset::decodeIso2022Jp(bytes), u"～∥－―￠￡￢"_s);
    Charset::encodeIso2022Jp(u"①"_s, &ok);
    QVERIFY(!ok);
    Charset::encodeIso2022Jp(u"é"_s, &ok);
    QVERIFY(!ok);
}

QTEST_APPLESS_MAIN(TestCharset)
#include "tst_mail_decoder_charset.moc"
