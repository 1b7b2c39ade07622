#pragma once
#include "link/LinkHandler.h"

class KernelVersion;
class LinkDispatcher;
class Prompter;

// The version exchange: request 0x01, answer 0x01 followed by the three version parts.
// A fresh object serves one query.
class VersionQuery : public LinkHandler {
public:
    static constexpr char kRequest = 0x01;

    VersionQuery(LinkDispatcher &link, Prompter &prompter, KernelVersion &version);

    void send();
    void receive(const QByteArray &bytes) override;
    int packetsToReceive() const override { return 1; }
    int answerLength() const override { return 4; }

private:
    LinkDispatcher &m_link;
    Prompter &m_prompter;
    KernelVersion &m_version;
};
