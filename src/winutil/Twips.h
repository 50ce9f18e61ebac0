#pragma once

#include <QRect>
#include <QtMath>

namespace hollin {

// Positions and sizes are kept in twips (1/1440 inch) in the settings files and
// the designed layouts; the screen works in pixels. At 96 dots per inch one
// pixel is 15 twips.
namespace twips {

inline int toPixels(qreal twips, qreal dotsPerInch)
{
    return qRound(twips * dotsPerInch / 1440.0);
}

inline int fromPixels(int pixels, qreal dotsPerInch)
{
    return qRound(pixels * 1440.0 / dotsPerInch);
}

// The primary screen's logical dots per inch; 96 without a screen.
qreal screenDotsPerInch();

// The same on the primary screen.
inline int toPixels(qreal twips)
{
    return toPixels(twips, screenDotsPerInch());
}

inline qreal fromPixelsExact(int pixels)
{
    return pixels * 1440.0 / screenDotsPerInch();
}

// A designed rectangle (left, top, width, height in twips) in pixels.
inline QRect rect(int left, int top, int width, int height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

} // namespace twips
} // namespace hollin
