#pragma once
#include <QByteArray>
#include <QFile>

#include <memory>
#include <optional>

// The code memory of the board as the downloads left it: 64 KiB, erased to 0xFF.
struct BoardMemory {
    BoardMemory() : code(0x10000, char(0xFF)) {}
    QByteArray code;
    // Where the last download said its program starts (a start address record); the
    // program then starts there instead of at the reset vector 0x0000.
    std::optional<quint16> entry;
    // True once a download stored any data: only then is there a program of the user's.
    bool loaded = false;
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

// Runs `downloaded` when a download has stored a program, otherwise `stand-in`: a run
// request before any download has nothing of the user's to start.
class DownloadedOrStandIn : public BoardProgram {
public:
    DownloadedOrStandIn(std::unique_ptr<BoardProgram> downloaded, std::unique_ptr<BoardProgram> standIn)
        : m_downloaded(std::move(downloaded)), m_standIn(std::move(standIn))
    {
    }
    void start(const BoardMemory &memory, BoardOutput &out) override
    {
        m_running = memory.loaded ? m_downloaded.get() : m_standIn.get();
        m_running->start(memory, out);
    }
    void receive(const QByteArray &bytes, BoardOutput &out) override
    {
        if (m_running)
            m_running->receive(bytes, out);
    }
    int tick(BoardOutput &out) override { return m_running ? m_running->tick(out) : -1; }
    const BoardProgram *running() const { return m_running; }

private:
    std::unique_ptr<BoardProgram> m_downloaded;
    std::unique_ptr<BoardProgram> m_standIn;
    BoardProgram *m_running = nullptr;
};

// Passes everything on to `program` and writes each byte the host sends it, raw, to a file
// as it arrives, so a test can compare what reached the board with what was sent.
class RecordedInput : public BoardProgram {
public:
    RecordedInput(std::unique_ptr<BoardProgram> program, const QString &path)
        : m_program(std::move(program)), m_file(path)
    {
    }
    // False when the file cannot be made.
    bool open() { return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered); }
    QString error() const { return m_file.errorString(); }

    void start(const BoardMemory &memory, BoardOutput &out) override { m_program->start(memory, out); }
    void receive(const QByteArray &bytes, BoardOutput &out) override
    {
        m_file.write(bytes);
        m_program->receive(bytes, out);
    }
    int tick(BoardOutput &out) override { return m_program->tick(out); }

private:
    std::unique_ptr<BoardProgram> m_program;
    QFile m_file;
};
