#include "link/LinkDispatcher.h"

#include "core/StatusSink.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>

LinkDispatcher::LinkDispatcher(ByteLink &link, RequestTimer &requestTimer, RequestTimer &joinTimer,
                               StatusSink &status, QObject *parent)
    : QObject(parent), m_link(link), m_requestTimer(requestTimer), m_joinTimer(joinTimer), m_status(status)
{
    m_requestTimer.setEnabled(false);
    m_requestTimer.setTimeoutCallback([this] { onRequestTimeout(); });
    m_joinTimer.setEnabled(false);
    m_joinTimer.setTimeoutCallback([this] { onJoinGapPassed(); });
    connect(&m_link, &ByteLink::bytesArrived, this, &LinkDispatcher::onBytesArrived);
    connect(&m_link, &ByteLink::linkLost, this, &LinkDispatcher::onLinkLost);
}

LinkDispatcher::~LinkDispatcher()
{
    m_requestTimer.setTimeoutCallback({});
    m_joinTimer.setTimeoutCallback({});
}

void LinkDispatcher::setCurrentHandler(std::shared_ptr<LinkHandler> handler)
{
    m_current = std::move(handler);
    m_joined.clear();
    m_joinTimer.setEnabled(false);
    emit exchangeChanged();
}

void LinkDispatcher::releaseHandler(const LinkHandler *handler)
{
    if (m_current.get() == handler)
        setCurrentHandler(nullptr);
}

bool LinkDispatcher::send(const QByteArray &bytes, bool progressLineOpen)
{
    const LinkResult result = m_link.write(bytes);
    if (result.ok())
        return true;
    if (progressLineOpen)
        m_status.appendStatus(QString(), true);
    m_status.appendStatus(QStringLiteral("ERROR: ") + result.reason, true);
    abortExchange();
    return false;
}

void LinkDispatcher::abortExchange()
{
    m_requestTimer.setEnabled(false);
    m_joined.clear();
    m_joinTimer.setEnabled(false);
    const std::shared_ptr<LinkHandler> handler = m_current;
    if (handler) {
        handler->setPacketsReceived(handler->packetsToReceive());
        handler->setIgnoreReceive(true);
        handler->onRequestAborted();
    }
    emit exchangeChanged();
}

void LinkDispatcher::waitFor(const std::shared_ptr<LinkHandler> &handler)
{
    if (!handler)
        return;
    waitUntil([this, &handler] { return m_current != handler || handler->exchangeEnded(); });
}

void LinkDispatcher::waitUntil(const std::function<bool()> &done)
{
    if (done())
        return;

    // The loop sleeps until an event comes. It is woken by our own notification whenever a
    // delivery, a time-out or a handler change happens, and rechecks before every sleep in
    // case a command run inside the wait changed the handler's members directly.
    QEventLoop loop;
    const auto check = [&loop, &done] {
        if (done())
            loop.quit();
    };
    connect(this, &LinkDispatcher::exchangeChanged, &loop, check);
    if (QAbstractEventDispatcher *events = QAbstractEventDispatcher::instance())
        connect(events, &QAbstractEventDispatcher::aboutToBlock, &loop, check);
    ++m_waitDepth;
    loop.exec();
    --m_waitDepth;
}

QString LinkDispatcher::busyText()
{
    return QStringLiteral("ERROR: Another kernel request is still running. Try again when it has ended");
}

bool LinkDispatcher::beginExchange()
{
    if (m_waitDepth == 0)
        return true;
    // A download's progress line may still be open: the refusal goes on a line of its own.
    if (m_status.lineOpen())
        m_status.appendStatus(QString(), true);
    m_status.appendStatus(busyText(), true);
    return false;
}

void LinkDispatcher::onBytesArrived()
{
    // Read first, whatever happens next: bytes nobody takes are consumed and dropped.
    QByteArray bytes = m_link.readAll();
    if (bytes.isEmpty())
        return;
    const std::shared_ptr<LinkHandler> handler = m_current;
    if (!handler || handler->ignoreReceive()) {
        m_joined.clear();
        m_joinTimer.setEnabled(false);
        return;
    }
    const int answerLength = handler->answerLength();
    if (answerLength > 1) {
        m_joined += bytes;
        if (m_joined.size() < answerLength) {
            // Restart the gap: the answer is judged once the line has been quiet for a while.
            m_joinTimer.setEnabled(false);
            m_joinTimer.setEnabled(true);
            return;
        }
        m_joinTimer.setEnabled(false);
        bytes.clear();
        bytes.swap(m_joined);
    }
    deliver(bytes);
}

void LinkDispatcher::onJoinGapPassed()
{
    m_joinTimer.setEnabled(false);
    QByteArray bytes;
    bytes.swap(m_joined);
    if (bytes.isEmpty() || !m_current || m_current->ignoreReceive())
        return;
    deliver(bytes);
}

void LinkDispatcher::deliver(const QByteArray &bytes)
{
    // Keep the handler alive even if its Receive replaces currentHandler.
    const std::shared_ptr<LinkHandler> handler = m_current;
    try {
        handler->receive(bytes);
    } catch (...) {
        // A failing handler loses this delivery only; the next one is handled normally.
    }
    emit exchangeChanged();
}

void LinkDispatcher::onRequestTimeout()
{
    m_requestTimer.setEnabled(false);
    const std::shared_ptr<LinkHandler> handler = m_current;
    if (!handler)
        return;
    m_status.appendStatus(QString(), true);
    m_status.appendStatus(QStringLiteral("ERROR: Request time out"), true);
    abortExchange();
}

void LinkDispatcher::onLinkLost()
{
    // Nothing will answer on a line that is gone; end the exchange now rather than after
    // the time-out. The port set-up writes the status line for the loss itself.
    // Only a pending request is ended: a terminal keeps its handler for after a reconnect.
    if (m_requestTimer.isEnabled())
        abortExchange();
}
