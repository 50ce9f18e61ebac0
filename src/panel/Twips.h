#pragma once

#include <QtMath>

namespace hollin {

// Positions and sizes are kept in twips (1/1440 inch) in the settings files and
// the designed layouts; the screen works in pixels. At 96 dots per inch one
// pixel is 15 twips.
namespace twips {

inline int toPixels(int twips, qreal dotsPerInch)
{
    return qRound(twips * dotsPerInch / 1440.0);
}

inline int fromPixels(int pixels, qreal dotsPerInch)
{
    return qRound(pixels * 1440.0 / dotsPerInch);
}

} // namespace twips
} // namespace hollin
