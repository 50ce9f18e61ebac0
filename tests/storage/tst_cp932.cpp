#include "storage/Cp932.h"
#include "storage/TextUtil.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestCp932 : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void encodeOnly_data();
    void encodeOnly();
    void decodeInvalid_data();
    void decodeInvalid();
    void field_data();
    void field();
    void storable();
    void textHelpers_data();
    void textHelpers();
};

void TestCp932::roundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << u"Re: hello"_s << QByteArray("Re: hello");
    QTest::newRow("hiragana") << u"あ"_s << QByteArray("\x82\xA0");
    QTest::newRow("fullwidth tilde") << u"\uFF5E"_s << QByteArray("\x81\x60");
    QTest::newRow("fullwidth minus") << u"\uFF0D"_s << QByteArray("\x81\x7C");
    QTest::newRow("parallel") << u"\u2225"_s << QByteArray("\x81\x61");
    QTest::newRow("circled one (NEC)") << u"①"_s << QByteArray("\x87\x40");
    QTest::newRow("kabushiki (NEC)") << u"㈱"_s << QByteArray("\x87\x8A");
    QTest::newRow("roman one (NEC)") << u"Ⅰ"_s << QByteArray("\x87\x54");
    QTest::newRow("taka (IBM)") << u"髙"_s << QByteArray("\xFB\xFC");
    QTest::newRow("half-width katakana") << u"ｱｲｳ"_s << QByteArray("\xB1\xB2\xB3");
    QTest::newRow("ideographic space") << u"\u3000"_s << QByteArray("\x81\x40");
    QTest::newRow("NUL kept") << u"a\0b"_s << QByteArray("a\0b", 3);
    QTest::newRow("mixed") << u"件名：テスト①"_s << QByteArray("\x8C\x8F\x96\xBC\x81\x46\x83\x65\x83\x58\x83\x67\x87\x40");
}

void TestCp932::roundTrip()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    bool replaced = true;
    QCOMPARE(Cp932::encode(text, &replaced), bytes);
    QVERIFY(!replaced);
    QCOMPARE(Cp932::decode(bytes), text);
    QVERIFY(Cp932::canEncode(text));
}

void TestCp932::encodeOnly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("replaced");
    QTest::newRow("wave dash U+301C") << u"\u301C"_s << QByteArray("\x81\x60") << false;
    QTest::newRow("emoji") << u"a\U0001F600b"_s << QByteArray("a?b") << true;
    QTest::newRow("e acute") << u"caf\u00E9"_s << QByteArray("caf?") << true;
    QTest::newRow("two unknown") << u"\U0001F600\U0001F601あ"_s << QByteArray("??\x82\xA0") << true;
    QTest::newRow("question mark itself") << u"?"_s << QByteArray("?") << false;
    // 0x5C and 0x7E read back as backslash and tilde: the full-width forms are stored.
    QTest::newRow("yen sign") << u"¥100"_s << QByteArray("\x81\x8F" "100") << false;
    QTest::newRow("overline") << u"\u203E"_s << QByteArray("\x81\x50") << false;
}

void TestCp932::encodeOnly()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, replaced);
    bool wasReplaced = !replaced;
    QCOMPARE(Cp932::encode(text, &wasReplaced), bytes);
    QCOMPARE(wasReplaced, replaced);
    QCOMPARE(Cp932::canEncode(text), !replaced);
}

void TestCp932::decodeInvalid_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("lone lead at end") << QByteArray("ab\x82") << u"ab\uFFFD"_s;
    QTest::newRow("lead before ascii") << QByteArray("\x82" "A") << u"\uFFFDA"_s;
    QTest::newRow("invalid byte") << QByteArray("\xA0x") << u"\uFFFDx"_s;
}

void TestCp932::decodeInvalid()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(Cp932::decode(bytes), text);
}

void TestCp932::field_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("cut");
    QTest::newRow("padded") << u"ab"_s << 5 << QByteArray("ab   ") << false;
    QTest::newRow("exact") << u"abcde"_s << 5 << QByteArray("abcde") << false;
    QTest::newRow("cut single") << u"abcdef"_s << 5 << QByteArray("abcde") << true;
    QTest::newRow("double fits") << u"あい"_s << 4 << QByteArray("\x82\xA0\x82\xA2") << false;
    QTest::newRow("double not split") << u"aあい"_s << 4 << QByteArray("a\x82\xA0 ") << true;
    QTest::newRow("half-width kana is one byte") << u"ｱｲｳｴ"_s << 3 << QByteArray("\xB1\xB2\xB3") << true;
    QTest::newRow("empty") << QString() << 3 << QByteArray("   ") << false;
}

void TestCp932::field()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, cut);
    bool wasCut = !cut;
    QCOMPARE(Cp932::encodeField(text, width, nullptr, &wasCut), bytes);
    QCOMPARE(wasCut, cut);
}

void TestCp932::storable()
{
    bool lost = false;
    // Geta marks a lost character, told apart from a real question mark.
    QCOMPARE(Cp932::storable(u"森鷗外?😀"_s, &lost), u"森〓外?〓"_s);
    QVERIFY(lost);
    // U+FFFD already marks a lost byte: nothing more is lost by storing it.
    QCOMPARE(Cp932::storable(u"a\uFFFDb"_s, &lost), u"a〓b"_s);
    QVERIFY(!lost);
    QCOMPARE(Cp932::storable(u"¥①"_s, &lost), u"¥①"_s);
    QVERIFY(!lost);
}

void TestCp932::textHelpers_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::newRow("cut: none") << u"cut"_s << u"abc  "_s << u"abc  "_s;
    QTest::newRow("cut: middle") << u"cut"_s << u"ab\0cd"_s << u"ab"_s;
    QTest::newRow("cut: first") << u"cut"_s << u"\0abc"_s << QString();
    QTest::newRow("trim: both") << u"trim"_s << u"  a b  "_s << u"a b"_s;
    QTest::newRow("trim: ideographic stays") << u"trim"_s << u"\u3000a\u3000 "_s << u"\u3000a\u3000"_s;
    QTest::newRow("trim: tab stays") << u"trim"_s << u"\ta\t"_s << u"\ta\t"_s;
    QTest::newRow("trim: all spaces") << u"trim"_s << u"   "_s << QString();
    QTest::newRow("trailing") << u"trailing"_s << u"  a  "_s << u"  a"_s;
    QTest::newRow("file: backslash") << u"file"_s << u"C:\\mail\\a.txt"_s << u"a.txt"_s;
    QTest::newRow("file: slash") << u"file"_s << u"/home/u/a.txt"_s << u"a.txt"_s;
    QTest::newRow("file: mixed") << u"file"_s << u"C:\\x/y\\z.txt"_s << u"z.txt"_s;
    QTest::newRow("file: bare") << u"file"_s << u"a.txt"_s << u"a.txt"_s;
    QTest::newRow("folder: backslash") << u"folder"_s << u"C:\\mail\\a.txt"_s << u"C:\\mail\\"_s;
    QTest::newRow("folder: slash") << u"folder"_s << u"/home/u/a.txt"_s << u"/home/u/"_s;
    QTest::newRow("folder: bare") << u"folder"_s << u"a.txt"_s << u"a.txt"_s;
}

void TestCp932::textHelpers()
{
    QFETCH(QString, function);
    QFETCH(QString, input);
    QFETCH(QString, output);
    QString result;
    if (function == u"cut")
        result = cutAtNul(input);
    else if (function == u"trim")
        result = trimSpaces(input);
    else if (function == u"trailing")
        result = trimTrailingSpaces(input);
    else if (function == u"file")
        result = fileNameOf(input);
    else
        result = folderOf(input);
    QCOMPARE(result, output);
}

QTEST_GUILESS_MAIN(TestCp932)
#include "tst_cp932.moc"
