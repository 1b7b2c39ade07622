#pragma once
#include "link/ByteLink.h"
#include "link/LinkHandler.h"
#include "link/RequestTimer.h"

#include <QObject>
#include <functional>
#include <memory>

class StatusSink;

// The link context: owns currentHandler, hands received bytes to it, runs the request
// time-out, writes for the handlers and lets commands wait for their exchange.
// Everything happens on one thread; handlers and commands meet only through the
// handler's own members.
class LinkDispatcher : public QObject {
    Q_OBJECT
public:
    // `joinTimer` measures the gap for joining a split answer (see LinkHandler::answerLength).
    LinkDispatcher(ByteLink &link, RequestTimer &requestTimer, RequestTimer &joinTimer,
                   StatusSink &status, QObject *parent = nullptr);
    ~LinkDispatcher() override;

    ByteLink &link() { return m_link; }
    RequestTimer &requestTimer() { return m_requestTimer; }
    StatusSink &status() { return m_status; }

    const std::shared_ptr<LinkHandler> &currentHandler() const { return m_current; }
    // The latest assignment wins; pending partial input of the previous handler is dropped.
    void setCurrentHandler(std::shared_ptr<LinkHandler> handler);
    // Empties currentHandler only while `handler` is still the current one, so ending an
    // exchange never throws away a handler that another command installed meanwhile.
    void releaseHandler(const LinkHandler *handler);

    // Writes for the current exchange. When the write fails (closed port, lost device) the
    // reason goes to the log as "ERROR: ..." and the exchange ends as failed.
    // `progressLineOpen`: the caller's status line has no line end yet; it is ended first.
    bool send(const QByteArray &bytes, bool progressLineOpen = false);

    // Ends the current exchange as failed: timer off, the wait released, late answers
    // dropped, and the handler told.
    void abortExchange();

    // Sleeps in a nested event loop until `handler`'s exchange has ended or `handler` is no
    // longer current. Returns at once when that is already so.
    void waitFor(const std::shared_ptr<LinkHandler> &handler);
    // The same sleep for a condition of the caller's own; `done` is checked after every event.
    // It may act on what happened, as the download does: it sends each next record from it and
    // waits once for the whole transfer.
    void waitUntil(const std::function<bool()> &done);
    bool isWaiting() const { return m_waitDepth > 0; }

    // Commands that wait for the kernel call this first: while another such exchange is
    // waiting, it writes a status line and answers false, and the command must not start.
    bool beginExchange();
    static QString busyText();

    // Delivery and time-out entry points; connected to the link and the timers, public so
    // a test can drive them step by step.
    void onBytesArrived();
    void onRequestTimeout();
    void onJoinGapPassed();

signals:
    // A delivery reached the current handler, or the exchange changed state; waits recheck.
    void exchangeChanged();

private:
    void deliver(const QByteArray &bytes);
    void onLinkLost();

    ByteLink &m_link;
    RequestTimer &m_requestTimer;
    RequestTimer &m_joinTimer;
    StatusSink &m_status;
    std::shared_ptr<LinkHandler> m_current;
    QByteArray m_joined;
    int m_waitDepth = 0;
};
