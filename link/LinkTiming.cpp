#include "link/LinkTiming.h"

#include <QtGlobal>

std::chrono::milliseconds requestTimeoutInterval()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("CORVADE_TEST_REQUEST_TIMEOUT_MS", &ok);
    if (ok && ms > 0)
        return std::chrono::milliseconds(ms);
    return kRequestTimeout;
}
