#include "storage/Cp932.h"
#include "winutil/Prompt.h"
#include "winutil/TextFiles.h"
#include "winutil/WindowUtil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestWindowUtil : public QObject {
    Q_OBJECT

private slots:
    void init() { Prompt::beginScript(); }
    void cleanup() { Prompt::endScript(); }

    void colourChooser()
    {
        QWidget owner;
        QCOMPARE(pickColour(&owner), -1); // cancelled
        Prompt::queueColour(0x00A57734);
        QCOMPARE(pickColour(&owner), 0x00A57734);
        QCOMPARE(Prompt::shown().size(), 2);
        QCOMPARE(Prompt::shown().first().kind, Prompt::Kind::Colour);
    }

    // A frameless window's first place and size within the available area
    // (offscreen: 800 x 800 at 0,0).
    void fitToScreen_data()
    {
        QTest::addColumn<QRect>("first");
        QTest::addColumn<QRect>("fitted");
        QTest::newRow("inside") << QRect(10, 20, 300, 200) << QRect(10, 20, 300, 200);
        QTest::newRow("too large") << QRect(0, 0, 1600, 1200) << QRect(0, 0, 800, 800);
        QTest::newRow("out right and below") << QRect(700, 750, 300, 200) << QRect(500, 600, 300, 200);
        QTest::newRow("out left and above") << QRect(-50, -30, 300, 200) << QRect(0, 0, 300, 200);
    }
    void fitToScreen()
    {
        QFETCH(QRect, first);
        QFETCH(QRect, fitted);
        QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
        QCOMPARE(window.screen()->availableGeometry(), QRect(0, 0, 800, 800));
        window.setGeometry(first);
        hollin::fitToScreen(&window);
        QCOMPARE(window.geometry(), fitted);
    }

    void waitLastsLongerAndKeepsEventsRunning()
    {
        bool fired = false;
        QTimer::singleShot(50, [&fired] { fired = true; });
        QElapsedTimer clock;
        clock.start();
        waitMilliseconds(200);
        QVERIFY(clock.elapsed() > 200);
        QVERIFY(fired);
    }

    void openTextIntoBody_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("body");
        QTest::newRow("crlf") << Cp932::encode(u"件名\r\n本文\r\n"_s) << u"件名\n本文\n"_s;
        QTest::newRow("last line open") << Cp932::encode(u"①\r\n～"_s) << u"①\n～\n"_s;
        QTest::newRow("empty file") << QByteArray() << QString();
    }

    void openTextIntoBody()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, body);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"memo.txt"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();

        QTextEdit edit(u"before"_s);
        Prompt::queueFileName(path);
        hollin::openTextIntoBody(&edit, nullptr);
        QCOMPARE(edit.toPlainText(), body);
        QCOMPARE(Prompt::shown().size(), 1);
        QCOMPARE(Prompt::shown().first().kind, Prompt::Kind::OpenFile);
    }

    void openCancelledOrFailedLeavesBody()
    {
        QTextEdit edit(u"before"_s);
        hollin::openTextIntoBody(&edit, nullptr); // cancel: no file name queued
        QCOMPARE(edit.toPlainText(), u"before"_s);
        QCOMPARE(Prompt::shown().size(), 1); // the dialog only, no message

        QTemporaryDir dir;
        Prompt::queueFileName(dir.filePath(u"gone.txt"_s));
        hollin::openTextIntoBody(&edit, nullptr);
        QCOMPARE(edit.toPlainText(), u"before"_s);
        const QList<Prompt::Shown> shown = Prompt::shown();
        QCOMPARE(shown.size(), 3);
        QCOMPARE(shown.last().kind, Prompt::Kind::Message);
        QVERIFY(shown.last().text.startsWith(u"ファイルを開けません。"_s));
    }

    void saveBodyWritesCp932AndNamesTheWindow()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"保存.txt"_s);
        QWidget window;
        window.setWindowTitle(u"受信"_s);
        QTextEdit edit;
        edit.setPlainText(u"件名：あ\n本文"_s);
        Prompt::queueFileName(path);
        QVERIFY(saveBodyAsText(&edit, &window));
        QCOMPARE(window.windowTitle(), path);
        QCOMPARE(readAll(path), Cp932::encode(u"件名：あ\r\n本文\r\n"_s));
        QCOMPARE(Prompt::shown().size(), 1);
    }

    void saveCancelledIsSilent()
    {
        QWidget window;
        window.setWindowTitle(u"受信"_s);
        QTextEdit edit(u"x"_s);
        QVERIFY(!saveBodyAsText(&edit, &window));
        QCOMPARE(window.windowTitle(), u"受信"_s);
        QCOMPARE(Prompt::shown().size(), 1);
        QCOMPARE(Prompt::shown().first().kind, Prompt::Kind::SaveFile);
    }

    void saveFailureAndLostCharactersAreReported()
    {
        QTemporaryDir dir;
        QWidget window;
        QTextEdit edit(u"😀"_s);

        window.setWindowTitle(u"受信"_s);
        Prompt::queueFileName(dir.filePath(u"no/folder/x.txt"_s));
        QVERIFY(!saveBodyAsText(&edit, &window));
        QCOMPARE(Prompt::shown().size(), 3); // the file, the characters, the failure
        QVERIFY(Prompt::shown().last().text.startsWith(u"ファイルを保存できません。"_s));
        QCOMPARE(window.windowTitle(), u"受信"_s); // named only after a save

        // Characters CP932 lacks are asked about first, then written as 〓, as everywhere.
        const QString path = dir.filePath(u"x.txt"_s);
        for (const auto answer : {Prompt::Answer::No, Prompt::Answer::Yes}) {
            Prompt::clearShown();
            Prompt::queueFileName(path);
            Prompt::queueAnswer(answer);
            QCOMPARE(saveBodyAsText(&edit, &window), answer == Prompt::Answer::Yes);
            QCOMPARE(Prompt::shown().last().text, cp932LossQuestion(u"😀"_s));
            QCOMPARE(QFile::exists(path), answer == Prompt::Answer::Yes);
        }
        QCOMPARE(readAll(path), Cp932::encode(u"〓\r\n"_s));
    }

    void pickFileToOpenShowsFolderInTitle()
    {
        Prompt::queueFileName(u"/data/a.txt"_s);
        QCOMPARE(pickFileToOpen(nullptr, u"ファイルを開く"_s, u"/data/"_s, u"全て (*)"_s),
                 u"/data/a.txt"_s);
        QCOMPARE(Prompt::shown().last().title, u"ファイルを開く←/data/.."_s);
        QCOMPARE(pickFileToOpen(nullptr, u"ファイルを開く"_s, u"/data"_s, u"全て (*)"_s),
                 QString());
        QCOMPARE(Prompt::shown().last().title, u"ファイルを開く←/data/.."_s);
    }
};

QTEST_MAIN(TestWindowUtil)
#include "tst_windowutil.moc"
