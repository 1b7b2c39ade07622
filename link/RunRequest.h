#pragma once
#include "link/LinkHandler.h"

class LinkDispatcher;

// The run request: 0x03 tells the kernel to start the downloaded program. Nothing waits for
// the kernel's echo of it; from then on the line belongs to that program. A fresh object
// serves one run.
class RunRequest : public LinkHandler {
public:
    static constexpr char kRequest = 0x03;

    explicit RunRequest(LinkDispatcher &link);

    // Writes the request. False when it could not be written; the reason is in the log.
    bool send();
    void receive(const QByteArray &bytes) override;
    int packetsToReceive() const override { return 1; }

private:
    LinkDispatcher &m_link;
};
