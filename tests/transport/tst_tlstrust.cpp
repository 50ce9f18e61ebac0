#include "transport/TlsTrust.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace hollin;

// What a failed certificate check tells the user to do.
class TestTlsTrust : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv("HOLLIN_EXTRA_CA_FILE"); }

    void certificateHint_data()
    {
        QTest::addColumn<QString>("caFile"); // "-": unset, else a name in a temporary folder
        QTest::addColumn<bool>("mismatch");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("notSaid");
        QTest::newRow("wrong name") << u"-"_s << true << u"証明書に書かれた名前（mail.example.jp）"_s
                                    << u"HOLLIN_EXTRA_CA_FILE"_s;
        QTest::newRow("unknown issuer") << u"-"_s << false << u"HOLLIN_EXTRA_CA_FILE に設定してください"_s << QString();
        QTest::newRow("CA file missing") << u"missing.pem"_s << false << u"missing.pem」がありません"_s
                                         << u"設定してください"_s;
        QTest::newRow("CA file without certificate") << u"empty.pem"_s << false << u"PEM 形式の証明書がありません"_s
                                                     << u"設定してください"_s;
    }
    void certificateHint()
    {
        QFETCH(QString, caFile);
        QFETCH(bool, mismatch);
        QFETCH(QString, said);
        QFETCH(QString, notSaid);
        QTemporaryDir dir;
        if (caFile != u"-"_s) {
            QFile empty(dir.filePath(u"empty.pem"_s));
            QVERIFY(empty.open(QIODevice::WriteOnly));
            qputenv("HOLLIN_EXTRA_CA_FILE", QFile::encodeName(dir.filePath(caFile)));
        }
        const QString hint = hollin::certificateHint(u"mail"_s, mismatch, !mismatch, {u"mail.example.jp"_s});
        QVERIFY2(hint.contains(said), qPrintable(hint));
        QVERIFY2(notSaid.isEmpty() || !hint.contains(notSaid), qPrintable(hint));
        QCOMPARE(extraCaFileProblem().isEmpty(), caFile == u"-"_s);
    }
};

QTEST_GUILESS_MAIN(TestTlsTrust)
#include "tst_tlstrust.moc"
