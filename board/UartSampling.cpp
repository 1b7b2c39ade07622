#include "board/UartSampling.h"

#include <cmath>

std::optional<quint8> sampleFrame(quint8 byte, double sentBaud, double readBaud)
{
    if (!(sentBaud > 0.0) || !(readBaud > 0.0))
        return std::nullopt;
    // Line level at the middle of the receiver's bit `k`, counted from the start edge.
    const auto levelAt = [&](int k) {
        const double sentBit = std::floor((k + 0.5) * sentBaud / readBaud);
        if (sentBit < 1.0)
            return 0; // start bit
        if (sentBit <= 8.0)
            return (byte >> (int(sentBit) - 1)) & 1;
        return 1; // stop bit, then idle
    };
    if (levelAt(0) != 0)
        return std::nullopt;
    quint8 value = 0;
    for (int k = 1; k <= 8; ++k)
        value |= quint8(levelAt(k) << (k - 1));
    return value;
}
