#pragma once
#include "board/KernelSim.h"
#include "board/LineNoise.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <deque>

// How the board's end of the line behaves besides the kernel's answers.
struct LineOptions {
    QString linkPath;                          // symbolic link to the device, for a stable name
    QString logPath;                           // received bytes, in hex, one line per read
    std::chrono::milliseconds splitGap{0};     // >0: replies go out one byte at a time with this gap
    std::chrono::milliseconds replyDelay{0};   // every kernel reply waits this long
    int baud = 0;                              // >0: traffic is paced as on a real line (10 bits a byte)
    std::chrono::milliseconds timeLimit{0};    // >0: the board ends by itself after this
    std::chrono::milliseconds hangupGrace{1500}; // a host that closes and reopens within this is kept
    std::chrono::milliseconds garbageEvery{0}; // >0: a random byte about this often, at random moments
    quint32 garbageSeed = 1;                   // the noise repeats for the same seed
};

// The board's end of a pseudo-terminal: reads what the host sends, feeds the kernel,
// writes the replies with the timing the options ask for, and ends when the host has
// gone, the time limit has passed or the cable is "pulled".
class BoardLine {
public:
    using Clock = std::chrono::steady_clock;

    explicit BoardLine(LineOptions options);
    ~BoardLine();

    // Creates the pseudo-terminal; returns the device path, or an empty string (see error()).
    QString open();
    QString error() const { return m_error; }
    // Runs until the end; returns the process exit code.
    int run(KernelSim &kernel);

    // For the kernel's callbacks.
    void reply(const QByteArray &bytes);
    void output(const QByteArray &bytes);
    void pull();

private:
    struct Chunk {
        Clock::time_point due;
        QByteArray bytes;
    };
    void queue(const QByteArray &bytes, std::chrono::milliseconds delay, std::chrono::milliseconds gap);
    void writeDue(Clock::time_point now);
    void writeNoise(Clock::time_point now, bool hostListens);
    void readInput(Clock::time_point now);
    void feedDue(KernelSim &kernel, Clock::time_point now);
    void logReceived(const QByteArray &bytes);
    void closeMaster();
    bool linkIsOurs() const;

    LineOptions m_options;
    int m_master = -1;
    QString m_slavePath;
    QString m_error;
    bool m_linkMade = false; // the link at linkPath is this board's to remove
    bool m_pulled = false;
    LineNoise m_noise;
    std::deque<Chunk> m_out;
    std::deque<Chunk> m_in;
    Clock::time_point m_lastTx{};
    Clock::time_point m_lastRx{};
};
