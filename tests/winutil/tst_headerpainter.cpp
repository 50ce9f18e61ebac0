#include "winutil/HeaderPainter.h"

#include <QApplication>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QTreeView>

using namespace Qt::StringLiterals;
using namespace hollin;

namespace {

const QRgb fill = qRgb(58, 119, 165);

bool isWhitish(QRgb p)
{
    return qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200;
}

struct Section {
    int left;
    int width;
};

Section sectionOf(const QHeaderView *header, int logical)
{
    return {header->sectionViewportPosition(logical), header->sectionSize(logical)};
}

// White pixels strictly inside the section's edge.
QList<QPoint> whiteInside(const QImage &img, Section s)
{
    QList<QPoint> found;
    for (int y = 1; y < img.height() - 1; ++y)
        for (int x = s.left + 1; x < s.left + s.width - 2; ++x)
            if (isWhitish(img.pixel(x, y)))
                found << QPoint(x, y);
    return found;
}

} // namespace

class TestHeaderPainter : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_model = new QStandardItemModel(3, 2, this);
        m_model->setHorizontalHeaderLabels({QString(), u"件名"_s});
        m_view = new QTreeView;
        m_view->setModel(m_model);
        m_view->header()->setSectionsClickable(true);
        m_view->header()->resizeSection(0, 120);
        m_view->header()->resizeSection(1, 160);
        m_view->resize(400, 200);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view));
    }

    void cleanup()
    {
        delete m_view;
        delete m_model;
    }

    void emptyItemIsPlainRaisedBlueBox()
    {
        installHeaderPainter(m_view);
        QHeaderView *header = m_view->header();
        const QImage img = header->grab().toImage();
        const Section s = sectionOf(header, 0);
        const int mid = img.height() / 2;

        QCOMPARE(img.pixel(s.left + s.width / 2, mid), fill);
        QCOMPARE(img.pixel(s.left + 2, mid), fill);
        // Raised: light on the top and left, dark on the bottom and right
        // (one pixel short of the section's right end).
        QVERIFY(isWhitish(img.pixel(s.left, mid)));
        QVERIFY(isWhitish(img.pixel(s.left + s.width / 2, 0)));
        const QRgb right = img.pixel(s.left + s.width - 2, mid);
        const QRgb bottom = img.pixel(s.left + s.width / 2, img.height() - 1);
        QVERIFY(qGray(right) < qGray(fill));
        QVERIFY(qGray(bottom) < qGray(fill));
        QVERIFY(whiteInside(img, s).isEmpty());
    }

    void textIsWhiteIndentedAndCentred()
    {
        installHeaderPainter(m_view);
        QHeaderView *header = m_view->header();
        const QImage img = header->grab().toImage();
        const Section s = sectionOf(header, 1);

        const QList<QPoint> white = whiteInside(img, s);
        QVERIFY(white.size() > 10);
        int minX = img.width(), top = img.height(), bottom = 0;
        for (const QPoint &p : white) {
            minX = std::min(minX, p.x());
            top = std::min(top, p.y());
            bottom = std::max(bottom, p.y());
        }
        QVERIFY2(minX >= s.left + 5, qPrintable(u"text starts at %1"_s.arg(minX - s.left)));
        QVERIFY(minX <= s.left + 8);
        // Vertically centred: the ink's middle is within two pixels of the header's.
        QVERIFY(std::abs((top + bottom) / 2 - img.height() / 2) <= 2);
        // The room between the text's ink and the edges is the header fill.
        QCOMPARE(img.pixel(s.left + 3, img.height() / 2), fill);
    }

    void pressedSectionHasFlatEdge()
    {
        installHeaderPainter(m_view);
        QHeaderView *header = m_view->header();
        const Section s = sectionOf(header, 0);
        const QPoint inside(s.left + s.width / 2, header->height() / 2);

        QTest::mousePress(header->viewport(), Qt::LeftButton, {}, inside);
        const QImage pressed = header->grab().toImage();
        QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, inside);
        const QImage released = header->grab().toImage();

        const int mid = pressed.height() / 2;
        QVERIFY(isWhitish(released.pixel(s.left, mid)));
        QVERIFY(!isWhitish(pressed.pixel(s.left, mid)));
        QVERIFY(pressed.pixel(s.left, mid) != fill);
        QCOMPARE(pressed.pixel(s.left + s.width / 2, mid), fill);
    }

    void removeGivesBackTheOwnLook()
    {
        QHeaderView *header = m_view->header();
        const QStyle *own = header->style();
        installHeaderPainter(m_view);
        installHeaderPainter(m_view); // a second install changes nothing
        QVERIFY(hasHeaderPainter(header));
        removeHeaderPainter(m_view);
        QVERIFY(!hasHeaderPainter(header));
        QCOMPARE(header->style(), own);
        const QImage img = header->grab().toImage();
        const Section s = sectionOf(header, 0);
        QVERIFY(img.pixel(s.left + s.width / 2, img.height() / 2) != fill);
        removeHeaderPainter(m_view); // nothing to remove: no effect
        QCOMPARE(header->style(), own);
    }

    void tableViewPaintsItsColumnHeader()
    {
        QTableView table;
        table.setModel(m_model);
        installHeaderPainter(&table);
        QVERIFY(hasHeaderPainter(table.horizontalHeader()));
        QVERIFY(!hasHeaderPainter(table.verticalHeader()));
        removeHeaderPainter(&table);
        QVERIFY(!hasHeaderPainter(table.horizontalHeader()));
    }

private:
    QStandardItemModel *m_model = nullptr;
    QTreeView *m_view = nullptr;
};

QTEST_MAIN(TestHeaderPainter)
#include "tst_headerpainter.moc"
