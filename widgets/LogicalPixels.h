#pragma once
#include <QtGlobal>

// Layout sizes are given in pixels at 96 dpi and grow with the screen's logical resolution.
inline int logicalPixels(int pixelsAt96Dpi, int dpi)
{
    return qRound(pixelsAt96Dpi * double(dpi > 0 ? dpi : 96) / 96.0);
}
