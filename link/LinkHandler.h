#pragma once
#include <QByteArray>

// The contract of every exchange on the serial line (version query, download, run,
// terminal). At most one handler is current at a time and receives the incoming bytes.
// Each class adds its own Send, whose form differs from class to class.
class LinkHandler {
public:
    virtual ~LinkHandler() = default;

    // While true the dispatcher drops received bytes instead of passing them on.
    bool ignoreReceive() const { return m_ignoreReceive; }
    void setIgnoreReceive(bool ignore) { m_ignoreReceive = ignore; }

    // One delivery of received bytes (never empty). Exceptions thrown here are swallowed
    // by the dispatcher, which then drops the delivery.
    virtual void receive(const QByteArray &bytes) = 0;

    // How many answers complete the exchange; a wait ends when packetsReceived reaches it.
    virtual int packetsToReceive() const = 0;
    int packetsReceived() const { return m_packetsReceived; }
    void setPacketsReceived(int count) { m_packetsReceived = count; }

    // Bytes that make one complete answer. When larger than 1, deliveries that follow each
    // other closely are joined until this many bytes are there (or the gap passes).
    // 0 hands every delivery over as it comes.
    virtual int answerLength() const { return 0; }

    // The exchange was given up (time-out, failed write, lost line) after the common
    // bookkeeping was done; a handler with state of its own marks the failure here.
    virtual void onRequestAborted() {}

    // The answer is complete or the exchange failed: waits for it may end.
    bool exchangeEnded() const { return m_packetsReceived >= packetsToReceive(); }

private:
    bool m_ignoreReceive = false;
    int m_packetsReceived = 0;
};
