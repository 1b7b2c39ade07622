#pragma once
#include "core/Readiness.h"
#include "link/SerialLink.h"
#include "support/TestDoubles.h"

// The program's serial link on a real device (corvade-board's pseudo-terminal), opened as
// port 2, with the status log and boxes recorded.
struct LiveLink {
    explicit LiveLink(QString path) : device(std::move(path)) {}

    QString device;
    RecordingStatus status;
    ScriptedPrompter prompter;
    Readiness state;
    int aborts = 0;
    SerialLink serial{status, prompter, state,
                      {[] { return 2; }, [this](int) { return device; }, [this] { ++aborts; }}};
};
