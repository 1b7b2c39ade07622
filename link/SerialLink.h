#pragma once
#include "link/KernelLink.h"
#include "link/LinkDispatcher.h"
#include "link/QtRequestTimer.h"
#include "link/SerialByteLink.h"
#include "link/SerialPortSetup.h"

// The whole serial link of the program, put together once: the port on QSerialPort, the
// request timer (kRequestTimeout, or the test-only override) and the join timer on QTimer,
// the dispatcher with currentHandler, the port set-up and the kernel commands. The main
// window keeps one of these and routes its menu items to it:
//   F4  -> port().initializeSerialPort()      F12 -> kernel().queryKernelVersion()
//   start-up: if (port().openPort()) kernel().queryKernelVersion();
class SerialLink {
public:
    SerialLink(StatusSink &status, Prompter &prompter, Readiness &state, SerialPortSetup::Hooks hooks);

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
