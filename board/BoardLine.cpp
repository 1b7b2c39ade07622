#include "board/BoardLine.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono;

namespace {
// While the host has the device closed the master reports hang-up at once; this keeps
// the loop from spinning meanwhile.
constexpr milliseconds kIdleSleep{10};

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

// Time one byte takes on the line: start bit, 8 data bits, stop bit.
BoardLine::Clock::duration byteTime(int baud)
{
    return duration_cast<BoardLine::Clock::duration>(microseconds(10'000'000LL / std::max(baud, 1)));
}
} // namespace

BoardLine::BoardLine(LineOptions options)
    : m_options(std::move(options)), m_noise(m_options.garbageEvery, m_options.garbageSeed)
{
}

BoardLine::~BoardLine()
{
    closeMaster();
}

QString BoardLine::open()
{
    // Before the device is made known, so a stop that comes at once still removes the link.
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    std::signal(SIGHUP, onSignal);
    std::signal(SIGPIPE, SIG_IGN);
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        m_error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return {};
    }
    m_slavePath = QString::fromLocal8Bit(::ptsname(m_master));
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    // Raw from the start, so nothing is echoed or translated before the host sets the line up.
    const int slave = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY);
    if (slave >= 0) {
        termios tio{};
        if (::tcgetattr(slave, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::cfsetspeed(&tio, B19200);
            ::tcsetattr(slave, TCSANOW, &tio);
        }
        ::close(slave);
    }

    if (!m_options.linkPath.isEmpty()) {
        const QByteArray link = QFile::encodeName(m_options.linkPath);
        // Only a link (an earlier board's, say) is replaced: anything else at the
        // path may be someone's data.
        struct stat st;
        if (::lstat(link.constData(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                m_error = QStringLiteral("--link %1: exists and is not a symbolic link, so it is left alone "
                                         "(remove it or choose another path)")
                              .arg(m_options.linkPath);
                return {};
            }
            ::unlink(link.constData());
        }
        // symlink() never overwrites, so whatever appeared meanwhile is kept too.
        if (::symlink(m_slavePath.toLocal8Bit().constData(), link.constData()) != 0) {
            m_error = QStringLiteral("cannot create the link %1: %2")
                          .arg(m_options.linkPath, QString::fromLocal8Bit(strerror(errno)));
            return {};
        }
        m_linkMade = true;
    }
    return m_slavePath;
}

bool BoardLine::linkIsOurs() const
{
    const QByteArray link = QFile::encodeName(m_options.linkPath);
    struct stat st;
    if (::lstat(link.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
        return false;
    char target[PATH_MAX];
    const ssize_t size = ::readlink(link.constData(), target, sizeof target);
    return size > 0 && QByteArray(target, int(size)) == m_slavePath.toLocal8Bit();
}

void BoardLine::closeMaster()
{
    // The link first, while its target still exists: whatever has taken the path since
    // (another board's link, a file) is left alone.
    if (m_linkMade && linkIsOurs())
        ::unlink(QFile::encodeName(m_options.linkPath).constData());
    m_linkMade = false;
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

void BoardLine::queue(const QByteArray &bytes, milliseconds delay, milliseconds gap)
{
    const Clock::time_point base = Clock::now() + delay;
    if (gap.count() > 0) {
        for (int i = 0; i < bytes.size(); ++i)
            m_out.push_back({base + gap * i, bytes.mid(i, 1)});
    } else {
        m_out.push_back({base, bytes});
    }
}

void BoardLine::reply(const QByteArray &bytes)
{
    queue(bytes, m_options.replyDelay, m_options.splitGap);
}

void BoardLine::output(const QByteArray &bytes)
{
    queue(bytes, milliseconds(0), milliseconds(0));
}

void BoardLine::pull()
{
    m_pulled = true;
}

void BoardLine::writeDue(Clock::time_point now)
{
    while (!m_out.empty()) {
        Chunk &chunk = m_out.front();
        Clock::time_point at = chunk.due;
        qsizetype count = chunk.bytes.size();
        if (m_options.baud > 0) {
            at = std::max(at, m_lastTx);
            count = 1;
        }
        if (at > now)
            return;
        const ssize_t written = ::write(m_master, chunk.bytes.constData(), size_t(count));
        if (written <= 0)
            return; // the host is not reading (or not there); try again later
        if (m_options.baud > 0)
            m_lastTx = at + byteTime(m_options.baud);
        chunk.bytes.remove(0, written);
        if (chunk.bytes.isEmpty())
            m_out.pop_front();
    }
}

void BoardLine::writeNoise(Clock::time_point now, bool hostListens)
{
    // Noise does not queue behind delayed replies: it goes out at its own moment, also
    // between the bytes of a split reply. On a paced line it still takes its byte time.
    // While the host has the device closed it is lost, as on a real port: a pseudo-terminal
    // would keep it and hand it to the next open as if it had just arrived.
    const std::optional<quint8> byte = m_noise.take(now);
    if (!byte || !hostListens)
        return;
    const char c = char(*byte);
    if (::write(m_master, &c, 1) == 1 && m_options.baud > 0)
        m_lastTx = std::max(m_lastTx, now) + byteTime(m_options.baud);
}

void BoardLine::readInput(Clock::time_point now)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            return;
        const QByteArray bytes(buffer, int(n));
        logReceived(bytes);
        if (m_options.baud > 0) {
            // Each byte is "there" only when it would have crossed a real line.
            for (char byte : bytes) {
                m_lastRx = std::max(m_lastRx, now) + byteTime(m_options.baud);
                m_in.push_back({m_lastRx, QByteArray(1, byte)});
            }
        } else {
            m_in.push_back({now, bytes});
        }
    }
}

void BoardLine::feedDue(KernelSim &kernel, Clock::time_point now)
{
    QByteArray due;
    while (!m_in.empty() && m_in.front().due <= now) {
        due += m_in.front().bytes;
        m_in.pop_front();
    }
    if (!due.isEmpty())
        kernel.receive(due);
}

void BoardLine::logReceived(const QByteArray &bytes)
{
    if (m_options.logPath.isEmpty())
        return;
    if (FILE *log = std::fopen(QFile::encodeName(m_options.logPath).constData(), "a")) {
        std::fprintf(log, "%s\n", bytes.toHex(' ').constData());
        std::fclose(log);
    }
}

int BoardLine::run(KernelSim &kernel)
{
    const Clock::time_point start = Clock::now();
    bool hostSeen = false;
    bool hungUp = false;
    Clock::time_point hangupSince{};

    while (!g_stop) {
        Clock::time_point now = Clock::now();
        if (m_options.timeLimit.count() > 0 && now - start >= m_options.timeLimit)
            break;

        feedDue(kernel, now);
        if (m_pulled) {
            // The cable comes out: the device disappears under the host.
            std::fprintf(stderr, "corvade-board: line closed (pulled cable)\n");
            closeMaster();
            return 0;
        }
        // The program runs before the write, so what it sent in this slice goes out now.
        const int programWait = kernel.tick();
        now = Clock::now();
        writeDue(now);
        if (kernel.mode() != KernelSim::Mode::Pulled)
            writeNoise(now, !hungUp);

        // Sleep until the next thing is due, or until input comes.
        Clock::duration wait = milliseconds(500);
        if (!m_out.empty()) {
            const Clock::time_point at = m_options.baud > 0 ? std::max(m_out.front().due, m_lastTx) : m_out.front().due;
            wait = std::min(wait, at - now);
        }
        if (!m_in.empty())
            wait = std::min(wait, m_in.front().due - now);
        if (m_noise.enabled())
            wait = std::min(wait, m_noise.nextAt() - now);
        if (m_options.timeLimit.count() > 0)
            wait = std::min(wait, start + m_options.timeLimit - now);
        if (programWait >= 0)
            wait = std::min<Clock::duration>(wait, milliseconds(programWait));
        const int timeoutMs = int(std::max<long long>(0, duration_cast<milliseconds>(wait).count()));

        pollfd fd{m_master, POLLIN, 0};
        const int ready = ::poll(&fd, 1, hungUp ? 0 : timeoutMs);
        if (ready < 0)
            continue; // interrupted; the loop head checks the stop flag
        now = Clock::now();
        if (fd.revents & POLLIN)
            readInput(now);
        if (fd.revents & POLLHUP) {
            // No host has the device open. Once one had it, a hang-up that lasts ends the
            // board; a short one is a host closing and reopening the port.
            if (hostSeen && !hungUp)
                hangupSince = now;
            hungUp = true;
            if (hostSeen && now - hangupSince >= m_options.hangupGrace)
                break;
            std::this_thread::sleep_for(std::min<Clock::duration>(kIdleSleep, milliseconds(timeoutMs)));
        } else {
            hostSeen = true;
            hungUp = false;
        }
    }
    closeMaster();
    return 0;
}
