// Draws the five panel pictures 1.jpg … 5.jpg that the program ships.
// Build and run the target hollin_make_panel_pictures, then commit the files:
//   cmake --build build --target hollin_make_panel_pictures
//   build/src/panel/hollin_make_panel_pictures src/panel/pictures

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QtMath>

namespace {

constexpr int Side = 173; // 2600 twips at 96 dots per inch

void sky(QPainter &p) // 1: morning sky with the sun and clouds
{
    QLinearGradient g(0, 0, 0, Side);
    g.setColorAt(0, QColor(0x4a, 0x90, 0xd9));
    g.setColorAt(1, QColor(0xd6, 0xec, 0xfa));
    p.fillRect(0, 0, Side, Side, g);
    QRadialGradient sun(120, 50, 40);
    sun.setColorAt(0, QColor(0xff, 0xf6, 0xc0));
    sun.setColorAt(0.5, QColor(0xff, 0xd8, 0x4a));
    sun.setColorAt(1, QColor(0xff, 0xd8, 0x4a, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(sun);
    p.drawEllipse(QPointF(120, 50), 40, 40);
    p.setBrush(QColor(255, 255, 255, 220));
    for (const QPointF c : {QPointF(40, 110), QPointF(60, 100), QPointF(80, 112), QPointF(120, 140),
                            QPointF(140, 132), QPointF(155, 142)})
        p.drawEllipse(c, 22, 14);
}

void sea(QPainter &p) // 2: waves
{
    QLinearGradient g(0, 0, 0, Side);
    g.setColorAt(0, QColor(0x9f, 0xd8, 0xef));
    g.setColorAt(0.45, QColor(0xe8, 0xf6, 0xfb));
    g.setColorAt(0.46, QColor(0x1e, 0x6f, 0xa8));
    g.setColorAt(1, QColor(0x0b, 0x34, 0x5c));
    p.fillRect(0, 0, Side, Side, g);
    p.setBrush(Qt::NoBrush);
    for (int row = 0; row < 6; ++row) {
        QPainterPath wave;
        const qreal y = 90 + row * 14;
        wave.moveTo(0, y);
        for (int x = 0; x <= Side; x += 4)
            wave.lineTo(x, y + 4 * qSin((x + row * 17) / 10.0));
        p.setPen(QPen(QColor(255, 255, 255, 160 - row * 20), 2));
        p.drawPath(wave);
    }
}

void sakura(QPainter &p) // 3: cherry blossoms
{
    QLinearGradient g(0, 0, Side, Side);
    g.setColorAt(0, QColor(0xff, 0xf0, 0xf5));
    g.setColorAt(1, QColor(0xf6, 0xc6, 0xd8));
    p.fillRect(0, 0, Side, Side, g);
    QRandomGenerator rng(3);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 14; ++i) {
        const QPointF c(rng.bounded(Side), rng.bounded(Side));
        const qreal r = 8 + rng.bounded(10);
        p.setBrush(QColor(0xf4, 0x8f, 0xb1, 200));
        for (int k = 0; k < 5; ++k) {
            const qreal a = k * 2 * M_PI / 5 + i;
            p.drawEllipse(QPointF(c.x() + r * 0.6 * qCos(a), c.y() + r * 0.6 * qSin(a)), r * 0.45, r * 0.45);
        }
        p.setBrush(QColor(0xff, 0xe0, 0x70));
        p.drawEllipse(c, r * 0.2, r * 0.2);
    }
}

void night(QPainter &p) // 4: moon and stars
{
    QLinearGradient g(0, 0, 0, Side);
    g.setColorAt(0, QColor(0x0a, 0x10, 0x30));
    g.setColorAt(1, QColor(0x30, 0x2a, 0x6a));
    p.fillRect(0, 0, Side, Side, g);
    QRandomGenerator rng(4);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 60; ++i) {
        p.setBrush(QColor(255, 255, 230, 120 + rng.bounded(135)));
        p.drawEllipse(QPointF(rng.bounded(Side), rng.bounded(Side)), 1.0, 1.0);
    }
    p.setBrush(QColor(0xff, 0xf4, 0xc4));
    p.drawEllipse(QPointF(110, 60), 30, 30);
    p.setBrush(QColor(0x14, 0x1a, 0x40));
    p.drawEllipse(QPointF(124, 50), 28, 28);
}

void hills(QPainter &p) // 5: green hills
{
    QLinearGradient g(0, 0, 0, Side);
    g.setColorAt(0, QColor(0xc8, 0xe8, 0xff));
    g.setColorAt(1, QColor(0xf0, 0xfa, 0xff));
    p.fillRect(0, 0, Side, Side, g);
    p.setPen(Qt::NoPen);
    const QColor greens[3] = {QColor(0x9c, 0xd0, 0x6a), QColor(0x6a, 0xb0, 0x4c), QColor(0x3c, 0x8a, 0x36)};
    for (int i = 0; i < 3; ++i) {
        QPainterPath hill;
        const qreal base = 95 + i * 25;
        hill.moveTo(0, Side);
        hill.lineTo(0, base);
        for (int x = 0; x <= Side; x += 4)
            hill.lineTo(x, base - 18 * qSin((x + i * 50) / 28.0));
        hill.lineTo(Side, Side);
        p.setBrush(greens[i]);
        p.drawPath(hill);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    void (*const painters[5])(QPainter &) = {sky, sea, sakura, night, hills};
    for (int n = 1; n <= 5; ++n) {
        QImage image(Side, Side, QImage::Format_RGB32);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        painters[n - 1](p);
        p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(0, 0, Side - 1, Side - 1);
        p.end();
        if (!image.save(out.filePath(QString::number(n) + QStringLiteral(".jpg")), "JPG", 90))
            return 1;
    }
    return 0;
}
