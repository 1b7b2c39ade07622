#include "link/SerialLink.h"

#include "link/LinkTiming.h"

SerialLink::SerialLink(StatusSink &status, Prompter &prompter, Readiness &state, SerialPortSetup::Hooks hooks)
    : m_requestTimer(requestTimeoutInterval()),
      m_joinTimer(kJoinGap),
      m_dispatcher(m_link, m_requestTimer, m_joinTimer, status),
      m_port(m_link, status, prompter, state, std::move(hooks)),
      m_kernel(m_dispatcher, prompter)
{
}
