#pragma once
#include "link/KernelVersion.h"

class LinkDispatcher;
class Prompter;

// The kernel commands the main window calls, one method per menu item.
class KernelLink {
public:
    KernelLink(LinkDispatcher &link, Prompter &prompter);

    // "&Kernel Version" (F12), also run once at start-up when the port opened: asks the
    // kernel, waits for the answer or the time-out, then leaves no handler current.
    void queryKernelVersion();

    const KernelVersion &version() const { return m_version; }

private:
    LinkDispatcher &m_link;
    Prompter &m_prompter;
    KernelVersion m_version;
};
