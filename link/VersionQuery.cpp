#include "link/VersionQuery.h"

#include "core/Prompter.h"
#include "core/StatusSink.h"
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

VersionQuery::VersionQuery(LinkDispatcher &link, Prompter &prompter, KernelVersion &version)
    : m_link(link), m_prompter(prompter), m_version(version)
{
}

void VersionQuery::send()
{
    setIgnoreReceive(false);
    setPacketsReceived(0);
    m_link.requestTimer().setEnabled(true);
    m_link.status().appendStatus(QStringLiteral("Getting Kernel Version..."), true);
    m_link.send(QByteArray(1, kRequest));
}

void VersionQuery::receive(const QByteArray &bytes)
{
    StatusSink &status = m_link.status();
    if (bytes.at(0) != kRequest) {
        setIgnoreReceive(true);
        status.appendStatus(QStringLiteral("ERROR: Commands do not match"), true);
        m_link.requestTimer().setEnabled(false);
        // Nothing more will be accepted, so the exchange is over: release the wait.
        setPacketsReceived(packetsToReceive());
        return;
    }

    if (bytes.size() >= 4) {
        status.appendStatus(QStringLiteral("Kernel version %1.%2.%3")
                                .arg(quint8(bytes.at(1)))
                                .arg(quint8(bytes.at(2)))
                                .arg(quint8(bytes.at(3))),
                            true);
    } else {
        m_prompter.message(missingByteText(bytes.size()));
    }
    status.appendStatus(QStringLiteral("Corvade is compiled for Kernel version ")
                            + builtForKernelVersion().toString(),
                        true);
    for (int i = 0; i < 3; ++i) {
        if (i + 1 < bytes.size())
            m_version.set(i, quint8(bytes.at(i + 1)));
        else
            m_prompter.message(missingByteText(i + 1));
    }
    setPacketsReceived(1);
    if (!versionMatches(m_version)) {
        status.appendStatus(QStringLiteral("WARNING: Version conflict! This version of Corvade is compiled for "
                                           "use with another 8051 kernel. Some functions may not work."),
                            true);
        status.appendStatus(QStringLiteral("INFORMATION: Check out the Readme file or look at the Corvade website (")
                                + QLatin1String(kKernelWebPage)
                                + QStringLiteral("), for combatibility information."),
                            true);
    }
    m_link.requestTimer().setEnabled(false);
}
