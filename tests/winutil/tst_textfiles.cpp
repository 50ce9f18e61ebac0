#include "storage/Cp932.h"
#include "winutil/TextFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestTextFiles : public QObject {
    Q_OBJECT

private slots:
    void splitLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty") << QString() << QStringList();
        QTest::newRow("no line end") << u"あ"_s << QStringList{u"あ"_s};
        QTest::newRow("crlf") << u"a\r\nb\r\n"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("last line open") << u"a\r\nb"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("lone cr ends a line") << u"a\rb"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("lone lf stays inside") << u"a\nb\r\n"_s << QStringList{u"a\nb"_s};
        QTest::newRow("empty lines kept") << u"\r\n\r\nx\r\n"_s
                                          << QStringList{QString(), QString(), u"x"_s};
        QTest::newRow("cr cr lf") << u"a\r\r\n"_s << QStringList{u"a"_s, QString()};
    }

    void splitLines()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        QCOMPARE(splitTextLines(text), lines);
    }

    void readGivesEveryLineWithCrLf()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"本文.txt"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(Cp932::encode(u"件名：テスト\r\n～表①\rlast"_s));
        file.close();

        QString text;
        Error err;
        QVERIFY(readTextFileLines(path, &text, &err));
        QCOMPARE(text, u"件名：テスト\r\n～表①\r\nlast\r\n"_s);
    }

    void charactersWithoutCp932Once()
    {
        QCOMPARE(charactersWithoutCp932(u"顔😀と𠮷と😀①"_s), u"😀𠮷"_s);
        QCOMPARE(charactersWithoutCp932(u"～①㈱"_s), QString());
    }

    void readRefusesWithTheReason_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << u"missing.txt"_s << QByteArray() << u"ファイルを開けません。"_s;
        QTest::newRow("binary") << u"a.png"_s << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
                                << u"テキストファイルではないため開けません。"_s;
        QTest::newRow("too large") << u"big.txt"_s << QByteArray(MaxTextFileBytes + 1, 'a')
                                   << u"ファイルが大きすぎるため開けません（1 MB まで）。"_s;
        QTest::newRow("not a file") << u"/dev/zero"_s << QByteArray() << u"普通のファイルではないため開けません。"_s;
    }
    void readRefusesWithTheReason()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = name.startsWith(u'/') ? name : dir.filePath(name);
        if (!bytes.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        }
        QString text = u"unchanged"_s;
        Error err;
        QVERIFY(!readTextFileLines(path, &text, &err));
        QCOMPARE(err.message, message);
        QVERIFY(err.detail.contains(name));
        QCOMPARE(text, u"unchanged"_s);
    }

    void writeBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QString() << QByteArray("\r\n");
        QTest::newRow("lf lines") << u"a\nb"_s << QByteArray("a\r\nb\r\n");
        QTest::newRow("crlf stays single") << u"a\r\nb"_s << QByteArray("a\r\nb\r\n");
        QTest::newRow("paragraph separator") << u"a\u2029b"_s << QByteArray("a\r\nb\r\n");
        QTest::newRow("japanese") << u"あ\n"_s << QByteArray("\x82\xa0\r\n\r\n");
        QTest::newRow("no cp932 form") << u"x😀"_s << QByteArray("x?\r\n");
    }

    void writeBytes()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.txt"_s);
        Error err;
        QVERIFY(writeTextFileCrLf(path, text, &err));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), bytes);
    }

    void writeRoundTripsThroughRead()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"rt.txt"_s);
        QVERIFY(writeTextFileCrLf(path, u"一行目\n二行目"_s, nullptr));
        QString text;
        QVERIFY(readTextFileLines(path, &text, nullptr));
        QCOMPARE(text, u"一行目\r\n二行目\r\n"_s);
    }

    void failedWriteSaysWhy()
    {
        QTemporaryDir dir;
        Error err;
        QVERIFY(!writeTextFileCrLf(dir.filePath(u"no/such/folder/x.txt"_s), u"a"_s, &err));
        QCOMPARE(err.message, u"ファイルを保存できません。"_s);
        QVERIFY(!err.detail.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTextFiles)
#include "tst_textfiles.moc"
