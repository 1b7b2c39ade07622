#pragma once
#include "link/KernelLink.h"
#include "link/LinkDispatcher.h"
#include "link/QtRequestTimer.h"
#include "link/SerialByteLink.h"
#include "link/SerialPortSetup.h"

// The whole serial link of the program, put together once: the port on QSerialPort, the
// request timer (kRequestTimeout, or the test-only override) and the join timer on QTimer,
// the dispatcher with CurrentHandler, the port set-up and the kernel commands. The main
// window keeps one of these and routes its menu items to it:
//   F4  -> port().mnuFileInitSeriel_Click()      F12 -> kernel().mnuKernelKrnlVersion_Click()
//   start-up: if (port().InitSerialPort()) kernel().mnuKernelKrnlVersion_Click();
class SerialLink {
public:
    SerialLink(StatusSink &status, Prompter &prompter, ClsGlobalState &state, SerialPortSetup::Hooks hooks);

    SerialByteLink &link() { return m_link; }
    LinkDispatcher &dispatcher() { return m_dispatcher; }
    SerialPortSetup &port() { return m_port; }
    KernelLink &kernel() { return m_kernel; }

private:
    SerialByteLink m_link;
    QtRequestTimer m_requestTimer;
    QtRequestTimer m_joinTimer;
    LinkDispatcher m_dispatcher;
    SerialPortSetup m_port;
    KernelLink m_kernel;
};
