#include "link/clsRun.h"

#include "app/StatusSink.h"
#include "link/LinkDispatcher.h"

clsRun::clsRun(LinkDispatcher &link) : m_link(link) {}

bool clsRun::Send()
{
    setIgnoreReceive(false);
    setPacketsReceived(0);
    m_link.status().AppendStatus(QStringLiteral("Running file on 8051..."), true);
    const bool sent = m_link.send(QByteArray(1, kRequest));
    // The kernel's echo is not waited for: whatever comes next is the started program's,
    // and belongs to the handler that follows this one.
    setIgnoreReceive(true);
    return sent;
}

void clsRun::Receive(const QByteArray &Packet)
{
    StatusSink &status = m_link.status();
    if (Packet.at(0) == kRequest) {
        status.AppendStatus(QStringLiteral("Ok"), true);
        setPacketsReceived(1);
    } else {
        status.AppendStatus(QStringLiteral("Abort"), true);
        status.AppendStatus(QStringLiteral("ERROR: Commands do not match"), true);
    }
    m_link.requestTimer().setEnabled(false);
}
