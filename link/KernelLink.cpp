#include "link/KernelLink.h"

#include "link/LinkDispatcher.h"
#include "link/VersionQuery.h"

#include <memory>

KernelLink::KernelLink(LinkDispatcher &link, Prompter &prompter) : m_link(link), m_prompter(prompter) {}

void KernelLink::queryKernelVersion()
{
    // Two waits on one line would read each other's answers.
    if (!m_link.beginExchange())
        return;
    auto handler = std::make_shared<VersionQuery>(m_link, m_prompter, m_version);
    m_link.setCurrentHandler(handler);
    handler->send();
    m_link.waitFor(handler);
    m_link.releaseHandler(handler.get());
}
