#pragma once
#include <QByteArray>

// The code memory of the board as the downloads left it: 64 KiB, erased to 0xFF.
struct BoardMemory {
    BoardMemory() : code(0x10000, char(0xFF)) {}
    QByteArray code;
};

// Where a running program's output goes (the line to the host).
class BoardOutput {
public:
    virtual ~BoardOutput() = default;
    virtual void send(const QByteArray &bytes) = 0;
};

// The program the kernel starts on a run request. The simulator's own greeter stands in
// for it; an emulated 8051 executing the downloaded code can take its place.
class BoardProgram {
public:
    virtual ~BoardProgram() = default;
    // Called once, right after the run request was acknowledged.
    virtual void start(const BoardMemory &memory, BoardOutput &out) = 0;
    // Bytes from the host while the program runs.
    virtual void receive(const QByteArray &bytes, BoardOutput &out) = 0;
    // Called on every pass of the board's loop while the program runs, so a program that
    // needs time of its own (an emulated CPU) can advance. Returns the longest time in ms
    // the loop may sleep before the next call; negative means "until input arrives".
    virtual int tick(BoardOutput &) { return -1; }
};

// Greets, then echoes every byte it is sent.
class EchoProgram : public BoardProgram {
public:
    static QByteArray greeting() { return QByteArrayLiteral("Hello from corvade-board\r\n"); }
    void start(const BoardMemory &, BoardOutput &out) override { out.send(greeting()); }
    void receive(const QByteArray &bytes, BoardOutput &out) override { out.send(bytes); }
};
