#pragma once
#include <QtGlobal>

// Colours travel through the program as the settings store holds them: 0x00BBGGRR,
// red in the lowest byte. Qt wants 0xAARRGGBB, so the two outer bytes swap.
using ColorRef = quint32;

constexpr quint32 colorRefToArgb(ColorRef c)
{
    return 0xFF000000u | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

constexpr int colorRefRed(ColorRef c) { return int(c & 0xFFu); }
constexpr int colorRefGreen(ColorRef c) { return int((c >> 8) & 0xFFu); }
constexpr int colorRefBlue(ColorRef c) { return int((c >> 16) & 0xFFu); }
