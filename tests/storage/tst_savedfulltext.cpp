#include "storage/SavedFullText.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestSavedFullText : public QObject {
    Q_OBJECT

private slots:
    void bodyToShow_data();
    void bodyToShow();
};

void TestSavedFullText::bodyToShow_data()
{
    QTest::addColumn<QString>("recordBody");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("fileBytes"); // empty: no file
    QTest::addColumn<QString>("shown");

    const QString saved = u"Subject: 笑顔😀\r\nFrom: a@example.jp\r\nDate: Mon, 7 Dec 2026\r\n\r\n"_s;
    const QString full = u"笑顔😀です\r\n♪♪♪　添付ファイル"_s;
    const QString lost = u"笑顔〓です\r\n♪♪♪　添付ファイル\r\n"_s;
    const QString name = u"本文_20261207-090000.txt"_s;

    QTest::newRow("nothing lost") << u"本文"_s << QString() << QByteArray() << u"本文"_s;
    QTest::newRow("lost characters, saved text") << lost + SavedFullText::note(name) + u"   "_s << name
                                                 << (saved + full).toUtf8() << full;
    QTest::newRow("saved text removed") << lost + SavedFullText::note(name) << QString() << QByteArray()
                                        << lost + SavedFullText::note(name);
    QTest::newRow("note not on the last line") << SavedFullText::note(name) + u"\r\nあとがき"_s << name
                                               << (saved + full).toUtf8() << SavedFullText::note(name) + u"\r\nあとがき"_s;
    QTest::newRow("note naming a path") << lost + SavedFullText::note(u"../"_s + name) << u"../"_s + name
                                        << (saved + full).toUtf8() << lost + SavedFullText::note(u"../"_s + name);
    QTest::newRow("file of another form") << lost + SavedFullText::note(name) << name << full.toUtf8()
                                          << lost + SavedFullText::note(name);
}

void TestSavedFullText::bodyToShow()
{
    QFETCH(QString, recordBody);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, fileBytes);
    QTemporaryDir root;
    const QString folder = root.filePath(u"添付"_s);
    QVERIFY(QDir().mkpath(folder));
    if (!fileName.isEmpty()) {
        QFile file(folder + u'/' + fileName);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(fileBytes);
    }
    QTEST(SavedFullText::bodyToShow({u"s"_s, u"d"_s, u"a"_s, recordBody}, folder), "shown");
}

QTEST_APPLESS_MAIN(TestSavedFullText)
#include "tst_savedfulltext.moc"
