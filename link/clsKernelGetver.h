#pragma once
#include "link/LinkHandler.h"

class KernelVersion;
class LinkDispatcher;
class Prompter;

// The version exchange: request 0x01, answer 0x01 followed by the three version parts.
// A fresh object serves one query.
class clsKernelGetver : public LinkHandler {
public:
    static constexpr char kRequest = 0x01;

    clsKernelGetver(LinkDispatcher &link, Prompter &prompter, KernelVersion &version);

    void Send();
    void Receive(const QByteArray &Packet) override;
    int PacketsToReceive() const override { return 1; }
    int AnswerLength() const override { return 4; }

private:
    LinkDispatcher &m_link;
    Prompter &m_prompter;
    KernelVersion &m_version;
};
