#pragma once
#include <chrono>

// How long a request may wait for its answer before "ERROR: Request time out".
inline constexpr std::chrono::milliseconds kRequestTimeout{5000};

// Deliveries of one multi-byte answer that arrive within this gap of each other are
// joined, so a reply split by the line or an adapter reads as one answer. At 19200 baud a
// byte takes about 0.5 ms; USB adapters may hold bytes back for up to 16 ms.
inline constexpr std::chrono::milliseconds kJoinGap{60};

// Test-only: the environment variable CORVADE_TEST_REQUEST_TIMEOUT_MS, when it holds a
// positive number, replaces kRequestTimeout so tests of the whole program need not wait
// five seconds. Nothing else reads it.
std::chrono::milliseconds requestTimeoutInterval();
