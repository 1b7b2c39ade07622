#include "link/RunRequest.h"

#include "core/StatusSink.h"
#include "link/LinkDispatcher.h"

RunRequest::RunRequest(LinkDispatcher &link) : m_link(link) {}

bool RunRequest::send()
{
    setIgnoreReceive(false);
    setPacketsReceived(0);
    m_link.status().appendStatus(QStringLiteral("Running file on 8051..."), true);
    const bool sent = m_link.send(QByteArray(1, kRequest));
    // The kernel's echo is not waited for: whatever comes next is the started program's,
    // and belongs to the handler that follows this one.
    setIgnoreReceive(true);
    return sent;
}

void RunRequest::receive(const QByteArray &bytes)
{
    StatusSink &status = m_link.status();
    if (bytes.at(0) == kRequest) {
        status.appendStatus(QStringLiteral("Ok"), true);
        setPacketsReceived(1);
    } else {
        status.appendStatus(QStringLiteral("Abort"), true);
        status.appendStatus(QStringLiteral("ERROR: Commands do not match"), true);
    }
    m_link.requestTimer().setEnabled(false);
}
