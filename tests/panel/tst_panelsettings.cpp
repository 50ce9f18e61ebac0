#include "panel/PanelPictures.h"
#include "panel/PanelSettings.h"
#include "storage/Cp932.h"
#include "storage/MailRecordFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace Qt::StringLiterals;
using namespace hollin;

class TestPanelSettings : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    DataRoot m_root;

    QByteArray fileBytes(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_root = DataRoot(m_dir->path());
        QVERIFY(m_root.ensureTree());
    }

    void recordCount_data()
    {
        QTest::addColumn<qint64>("length");
        QTest::addColumn<qint64>("count");
        const qint64 r = MailRecordFile::RecordSize;
        QTest::newRow("empty") << qint64(0) << qint64(0);
        QTest::newRow("three records") << 3 * r << qint64(3);
        QTest::newRow("just under a half") << r / 2 - 1 << qint64(0);
        QTest::newRow("a half rounds to even 0") << r / 2 << qint64(0);
        QTest::newRow("a half rounds to even 2") << r + r / 2 << qint64(2);
        QTest::newRow("just over a half") << r / 2 + 1 << qint64(1);
        QTest::newRow("beyond 16 bits") << 40000 * r << qint64(40000);
    }
    void recordCount()
    {
        QFETCH(qint64, length);
        QFETCH(qint64, count);
        QCOMPARE(PanelSettings::recordsForLength(length), count);
    }

    void colourFromText_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("red (BGR 0x0000FF)") << u"255"_s << true << QColor(255, 0, 0);
        QTest::newRow("blue") << QString::number(0xFF0000) << true << QColor(0, 0, 255);
        QTest::newRow("mixed") << QString::number(0x332211) << true << QColor(0x11, 0x22, 0x33);
        QTest::newRow("black") << u"0"_s << true << QColor(0, 0, 0);
        QTest::newRow("spaces around") << u" 255 "_s << true << QColor(255, 0, 0);
        QTest::newRow("cancelled") << u"-1"_s << false << QColor();
        QTest::newRow("missing") << QString() << false << QColor();
        QTest::newRow("legacy default text") << u"GetPPSErr"_s << false << QColor();
        QTest::newRow("trailing garbage") << u"12x"_s << false << QColor();
        QTest::newRow("system colour") << QString::number(0x8000000FLL) << false << QColor();
        QTest::newRow("too large") << QString::number(0x1000000) << false << QColor();
    }
    void colourFromText()
    {
        QFETCH(QString, stored);
        QFETCH(bool, valid);
        QFETCH(QColor, colour);
        const auto got = PanelSettings::colourFromText(stored);
        QCOMPARE(got.has_value(), valid);
        if (valid) {
            QCOMPARE(*got, colour);
            QCOMPARE(QString::number(PanelSettings::toBgr(*got)), stored.trimmed());
        }
    }

    // The key names are the file format: Form1 is F9, Form2 F4, Form3 F8, Form4 F5, Form5 F7.
    void positionsUseTheFileKeys()
    {
        WindowPositions p;
        p.panel = QPoint(150, -300);
        for (int i = 0; i < 5; ++i)
            p.floating[i] = QPoint(1000 * (i + 1), 10 * (i + 1));
        PanelSettings settings(m_root);
        QVERIFY(settings.writePositions(p));
        const QByteArray bytes = fileBytes(m_root.formIniFile());
        for (const char *line : {"NUMBERW=150", "NUMBERH=-300", "NUMBERF9L=1000", "NUMBERF9T=10",
                                 "NUMBERF4L=2000", "NUMBERF4T=20", "NUMBERF8L=3000", "NUMBERF8T=30",
                                 "NUMBERF5L=4000", "NUMBERF5T=40", "NUMBERF7L=5000", "NUMBERF7T=50"})
            QVERIFY2(bytes.contains(line), line);
        const WindowPositions back = settings.positions();
        QCOMPARE(back.panel, p.panel);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(back.floating[i], p.floating[i]);
    }

    void positionWithFractionReadsWhole()
    {
        writeFile(m_root.formIniFile(), "[EXEINI]\r\nNUMBERW=1234.5\r\nNUMBERF7T=60.9\r\n");
        const WindowPositions p = PanelSettings(m_root).positions();
        QCOMPARE(p.panel, QPoint(1234, 0));
        QCOMPARE(p.floating[4], QPoint(0, 60));
    }

    void storedValues_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("pictureSet");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("savedExplanations"); // -1 = leave the box alone
        QTest::newRow("nothing stored") << QByteArray() << 0 << 0 << -1;
        QTest::newRow("set 5, large, ticked") << QByteArray("NUMBER6=5\r\nNUMBER7=2\r\nNUMBER8=1\r\n") << 5 << 2 << 1;
        QTest::newRow("out of range") << QByteArray("NUMBER6=6\r\nNUMBER7=3\r\nNUMBER8=2\r\n") << 0 << 0 << -1;
        QTest::newRow("small, cleared") << QByteArray("NUMBER6=1\r\nNUMBER7=1\r\nNUMBER8=0\r\n") << 1 << 1 << 0;
    }
    void storedValues()
    {
        QFETCH(QByteArray, ini);
        QFETCH(int, pictureSet);
        QFETCH(int, size);
        QFETCH(int, savedExplanations);
        writeFile(m_root.iniFile(), "[EXEINI]\r\n" + ini);
        const PanelSettings settings(m_root);
        QCOMPARE(settings.pictureSet(), pictureSet);
        QCOMPARE(int(settings.panelSize()), size);
        const auto saved = settings.savedExplanations();
        QCOMPARE(saved.has_value() ? int(*saved) : -1, savedExplanations);
    }

    void cancelledColourIsWrittenAsMinusOne()
    {
        QVERIFY(PanelSettings(m_root).writeColour(-1));
        QVERIFY(fileBytes(m_root.iniFile()).contains("NAME=-1"));
        QVERIFY(!PanelSettings(m_root).backgroundColour());
    }

    void shippedPicturesFillOnlyTheGaps()
    {
        PanelPictures pictures(m_root);
        writeFile(pictures.path(3), "mine");
        QVERIFY(pictures.copyMissing());
        for (int n = 1; n <= PanelPictures::Count; ++n)
            QVERIFY(QFile::exists(pictures.path(n)));
        QCOMPARE(fileBytes(pictures.path(3)), QByteArray("mine"));
        QVERIFY(!pictures.load(1).isNull());
        QVERIFY(QFile::permissions(pictures.path(1)) & QFile::WriteOwner);

        Error err;
        QVERIFY(pictures.load(3, &err).isNull());
        QVERIFY(err.isSet());
    }
};

QTEST_GUILESS_MAIN(TestPanelSettings)
#include "tst_panelsettings.moc"
