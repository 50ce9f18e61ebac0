// The start-up's platform choice and Qt's own texts in Japanese.
#include "Platform.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestPlatform : public QObject {
    Q_OBJECT

private slots:
    void platformChoice_data()
    {
        QTest::addColumn<QByteArray>("wayland");
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("chosen");
        QTest::addColumn<QByteArray>("platform");
        QTest::newRow("Wayland with XWayland") << QByteArray("wayland-0") << QByteArray(":0") << QByteArray() << QByteArray("xcb");
        QTest::newRow("the user's choice stays") << QByteArray("wayland-0") << QByteArray(":0") << QByteArray("wayland") << QByteArray();
        QTest::newRow("Wayland without X11") << QByteArray("wayland-0") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("X11 session") << QByteArray() << QByteArray(":0") << QByteArray() << QByteArray();
    }
    void platformChoice()
    {
        QFETCH(QByteArray, wayland);
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, chosen);
        QFETCH(QByteArray, platform);
        QCOMPARE(preferredPlatform(wayland, display, chosen), platform);
    }

    void qtButtonsSpeakJapanese()
    {
        QVERIFY(installQtTranslation(*qApp));
        QMessageBox box(QMessageBox::Question, u"確認"_s, u"?"_s, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.button(QMessageBox::Yes)->text(), u"はい(&Y)"_s);
    }
};

QTEST_MAIN(TestPlatform)
#include "tst_platform.moc"
