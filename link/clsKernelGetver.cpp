#include "link/clsKernelGetver.h"

#include "app/Prompter.h"
#include "app/StatusSink.h"
#include "link/KernelVersion.h"
#include "link/LinkDispatcher.h"

namespace {
// Reported when the answer stays shorter than its four bytes, one box per missing byte.
constexpr int kShortAnswerCode = 9;

QString missingByteText(int index)
{
    return QStringLiteral("%1: The kernel's answer is too short: byte %2 is missing")
        .arg(kShortAnswerCode)
        .arg(index);
}
} // namespace

clsKernelGetver::clsKernelGetver(LinkDispatcher &link, Prompter &prompter, KernelVersion &version)
    : m_link(link), m_prompter(prompter), m_version(version)
{
}

void clsKernelGetver::Send()
{
    setIgnoreReceive(false);
    setPacketsReceived(0);
    m_link.requestTimer().setEnabled(true);
    m_link.status().AppendStatus(QStringLiteral("Getting Kernel Version..."), true);
    m_link.send(QByteArray(1, kRequest));
}

void clsKernelGetver::Receive(const QByteArray &Packet)
{
    StatusSink &status = m_link.status();
    if (Packet.at(0) != kRequest) {
        setIgnoreReceive(true);
        status.AppendStatus(QStringLiteral("ERROR: Commands do not match"), true);
        m_link.requestTimer().setEnabled(false);
        // Nothing more will be accepted, so the exchange is over: release the wait.
        setPacketsReceived(PacketsToReceive());
        return;
    }

    if (Packet.size() >= 4) {
        status.AppendStatus(QStringLiteral("Kernel version %1.%2.%3")
                                .arg(quint8(Packet.at(1)))
                                .arg(quint8(Packet.at(2)))
                                .arg(quint8(Packet.at(3))),
                            true);
    } else {
        m_prompter.message(missingByteText(Packet.size()));
    }
    status.AppendStatus(QStringLiteral("Corvade is compiled for Kernel version ")
                            + BuiltForKernelVersion().toString(),
                        true);
    for (int i = 0; i < 3; ++i) {
        if (i + 1 < Packet.size())
            m_version.set(i, quint8(Packet.at(i + 1)));
        else
            m_prompter.message(missingByteText(i + 1));
    }
    setPacketsReceived(1);
    if (!VersionMatch(m_version)) {
        status.AppendStatus(QStringLiteral("WARNING: Version conflict! This version of Corvade is compiled for "
                                           "use with another 8051 kernel. Some functions may not work."),
                            true);
        status.AppendStatus(QStringLiteral("INFORMATION: Check out the Readme file or look at the Corvade website (")
                                + QLatin1String(kKernelWebPage)
                                + QStringLiteral("), for combatibility information."),
                            true);
    }
    m_link.requestTimer().setEnabled(false);
}
