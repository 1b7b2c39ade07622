#pragma once
#include <QtGlobal>

#include <optional>

// What a UART reading at `readBaud` makes of one frame (start bit, 8 data bits LSB first,
// stop bit) sent at `sentBaud`. The receiver starts its clock at the falling edge of the
// start bit and samples the middle of each of its own bit times, so the two rates may
// differ by about 5 % before a sample lands in the wrong bit; beyond that the byte arrives
// garbled, as on a real line. Returns nothing when the frame is lost: the start bit is not
// low at its middle (the receiver takes it for a glitch), or either side has no bit clock.
// Each frame is judged on its own, with the line idle (high) after its stop bit.
std::optional<quint8> sampleFrame(quint8 byte, double sentBaud, double readBaud);
