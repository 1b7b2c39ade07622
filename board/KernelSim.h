#pragma once
#include "board/BoardProgram.h"

#include <QByteArray>
#include <functional>
#include <memory>

// Ways the simulated kernel can misbehave; all off by default. Record numbers count the
// records of one download from 1; a resent record keeps its number.
struct KernelFaults {
    bool silent = false;       // answer nothing at all
    int firstByte = -1;        // 0..255: replies to requests start with this byte instead
    int refuseAt = 0;          // answer 0x06 to record N
    int resendAt = 0;          // ask once for record N again (0x04)
    int pullAt = 0;            // close the line when record N has arrived
};

// The kernel's side of the link as a byte-driven state machine, free of any I/O: bytes go
// in through receive(), replies come out through the callbacks.
class KernelSim {
public:
    enum class Mode { Command, Download, Running, Pulled };

    struct Callbacks {
        std::function<void(const QByteArray &)> reply;   // the kernel's own answers
        std::function<void(const QByteArray &)> output;  // what the running program sends
        std::function<void()> pull;                      // the line is to be closed now
    };

    KernelSim(quint8 major, quint8 minor, quint8 patch, KernelFaults faults, Callbacks callbacks,
              std::unique_ptr<BoardProgram> program = std::make_unique<EchoProgram>());

    void receive(const QByteArray &bytes);
    int tick();

    Mode mode() const { return m_mode; }
    const BoardMemory &memory() const { return m_memory; }
    int recordsAccepted() const { return m_record - 1; }
    int checksumErrors() const { return m_checksumErrors; }

private:
    class Output;
    void receiveByte(char byte);
    void command(char byte);
    void recordComplete();
    void answer(quint8 code, QByteArray rest = {});
    void refuse();

    quint8 m_version[3];
    KernelFaults m_faults;
    Callbacks m_cb;
    std::unique_ptr<BoardProgram> m_program;
    std::unique_ptr<Output> m_out;
    Mode m_mode = Mode::Command;
    BoardMemory m_memory;
    QByteArray m_recordText;
    int m_record = 1;
    bool m_resendDone = false;
    int m_checksumErrors = 0;

public:
    ~KernelSim();
};
