// The peers harness's flood, in one process: a pseudo-terminal whose master a writer
// thread fills as fast as the slave is read, and the slave opened as Corvade's serial
// port (SerialByteLink) with the dispatcher handing every delivery to the terminal
// window, as the terminal handler does. Typed keys are posted to the view while the data
// comes; a reader thread times their arrival on the master.
//
// Prints the consumption rate, the main thread's CPU per MB, the deliveries' mean size,
// the longest event-loop turn, the frames painted and the key round trips.
//   bench_pty_flood [MB] [text|ctrl] [plain|hex|stamps]
#include "core/StatusSink.h"
#include "link/LinkDispatcher.h"
#include "link/QtRequestTimer.h"
#include "link/SerialByteLink.h"
#include "widgets/TerminalView.h"
#include "widgets/TerminalWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// 80-byte lines ending in CR LF: an 8-digit number, then a rotating run of printable
// characters; "ctrl" turns about one byte in ten before the CR LF into 0x00..0x1F.
QByteArray floodData(qint64 size, bool ctrl)
{
    QRandomGenerator rng(7);
    QByteArray out;
    out.reserve(size + 80);
    for (qint64 line = 0; out.size() < size; ++line) {
        QByteArray body = QByteArray::number(line).rightJustified(8, '0') + ' ';
        for (int i = 0; body.size() < 78; ++i)
            body += char(0x21 + (line + i) % 94);
        if (ctrl) {
            for (char &c : body) {
                if (rng.bounded(10) == 0)
                    c = char(rng.bounded(0x20));
            }
        }
        out += body;
        out += "\r\n";
    }
    out.truncate(size);
    return out;
}

class NullStatus : public StatusSink {
public:
    void appendStatus(const QString &, bool) override {}
};

// What the terminal handler does with a delivery, without the port set-up around it.
class ShowHandler : public LinkHandler {
public:
    explicit ShowHandler(TerminalRenderer &renderer) : m_renderer(renderer) {}
    void receive(const QByteArray &bytes) override
    {
        ++deliveries;
        largest = std::max(largest, bytes.size());
        m_renderer.receive(bytes);
    }
    int packetsToReceive() const override { return 1; }
    qint64 deliveries = 0;
    qsizetype largest = 0;

private:
    TerminalRenderer &m_renderer;
};
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr qint64 MB = 1000 * 1000;
    const qint64 total = (argc > 1 ? QByteArray(argv[1]).toLongLong() : 10) * MB;
    const bool ctrl = argc > 2 && QByteArray(argv[2]) == "ctrl";
    const QByteArray data = floodData(total, ctrl);

    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    // As the harness does: write what the pty takes, wait in poll for the rest.
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    SerialByteLink link;
    const LinkResult opened = link.open(QString::fromLocal8Bit(::ttyname(slave)), 115200);
    if (!opened.ok()) {
        std::fprintf(stderr, "open: %s\n", qPrintable(opened.reason));
        return 1;
    }
    QtRequestTimer requestTimer(std::chrono::milliseconds(5000));
    QtRequestTimer joinTimer(std::chrono::milliseconds(50));
    NullStatus status;
    LinkDispatcher dispatcher(link, requestTimer, joinTimer, status);

    TerminalWindow w;
    w.resize(1000, 700);
    w.show();
    w.renderer().setSettings({true, 13, 0x0000C0});
    const QByteArray view = argc > 3 ? QByteArray(argv[3]) : QByteArray();
    w.renderer().setViewOptions({view == "hex", view == "stamps", 100});
    w.setSendHook([&link](quint8 c) { return link.write(QByteArray(1, char(c))).ok(); });
    auto handler = std::make_shared<ShowHandler>(w.renderer());
    dispatcher.setCurrentHandler(handler);
    app.processEvents();

    // Event-loop turns: a precise 1 ms tick falls behind by as much as a turn lasts.
    Clock::time_point lastTick = Clock::now();
    Clock::duration longestTurn{};
    int turnsOver16 = 0;
    std::atomic<bool> flooding{false};
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        if (flooding) {
            const Clock::duration gap = now - lastTick;
            longestTurn = std::max(longestTurn, gap);
            if (gap > std::chrono::milliseconds(16))
                ++turnsOver16;
        }
        lastTick = now;
    });
    tick.start();

    // Key round trips: a letter posted to the view, timed until it comes out of the master.
    std::mutex keyLock;
    std::vector<Clock::time_point> keySent(26);
    std::vector<double> keyMs;
    std::atomic<bool> done{false};
    std::atomic<qint64> written{0};
    Clock::time_point t0;
    Clock::time_point tDrained;

    std::thread writer([&] {
        pollfd pfd{master, POLLOUT, 0};
        t0 = Clock::now();
        flooding = true;
        qint64 off = 0;
        while (off < total) {
            ::poll(&pfd, 1, 50);
            const ssize_t n = ::write(master, data.constData() + off, size_t(std::min<qint64>(65536, total - off)));
            if (n > 0)
                off += n;
        }
        written = off;
        // Drained: the slave's input queue is empty (the program has read everything).
        for (;;) {
            int queued = 0;
            ::ioctl(slave, FIONREAD, &queued);
            if (queued == 0)
                break;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        tDrained = Clock::now();
    });
    std::thread reader([&] {
        char buf[256];
        pollfd pfd{master, POLLIN, 0};
        while (!done) {
            if (::poll(&pfd, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(master, buf, sizeof buf);
            const Clock::time_point now = Clock::now();
            std::lock_guard<std::mutex> guard(keyLock);
            for (ssize_t i = 0; i < n; ++i) {
                const int k = buf[i] - 'a';
                if (k >= 0 && k < 26 && keySent[size_t(k)] != Clock::time_point{}) {
                    keyMs.push_back(ms(now - keySent[size_t(k)]));
                    keySent[size_t(k)] = {};
                }
            }
        }
    });

    int letter = 0;
    QTimer keys;
    keys.setInterval(20);
    QObject::connect(&keys, &QTimer::timeout, [&] {
        const char c = char('a' + letter++ % 26);
        {
            std::lock_guard<std::mutex> guard(keyLock);
            keySent[size_t(c - 'a')] = Clock::now();
        }
        QCoreApplication::postEvent(&w.view(),
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_A + (c - 'a'), Qt::NoModifier,
                                                  QString(QLatin1Char(c))));
    });
    keys.start();

    const double cpu0 = threadCpuSeconds();
    QTimer finish;
    finish.setInterval(5);
    QObject::connect(&finish, &QTimer::timeout, [&] {
        if (tDrained != Clock::time_point{} && handler->deliveries > 0) {
            flooding = false;
            app.quit();
        }
    });
    finish.start();
    app.exec();
    keys.stop();
    const double cpu = threadCpuSeconds() - cpu0;
    w.view().flush();
    done = true;
    writer.join();
    reader.join();

    const double secs = std::chrono::duration<double>(tDrained - t0).count();
    std::sort(keyMs.begin(), keyMs.end());
    const auto pct = [&keyMs](double q) {
        if (keyMs.empty())
            return 0.0;
        return keyMs[std::min(keyMs.size() - 1, size_t(std::ceil(q * double(keyMs.size()))) - 1)];
    };
    std::printf("pty flood, %s: %.0f MB in %.3f s: %.1f MB/s consumed\n", ctrl ? "ctrl" : "text",
                double(written) / MB, secs, double(written) / MB / secs);
    std::printf("  main thread CPU: %.4f s per MB; deliveries: %lld, mean %.0f bytes, largest %lld\n",
                cpu / (double(written) / MB), handler->deliveries,
                double(written) / double(std::max<qint64>(1, handler->deliveries)), qint64(handler->largest));
    std::printf("  longest gap between 1 ms ticks: %.2f ms; turns over 16 ms: %d; frames painted: %d\n", ms(longestTurn),
                turnsOver16, w.view().frames());
    std::printf("  key round trips: %zu, median %.2f ms, p95 %.2f ms, max %.2f ms\n", keyMs.size(), pct(0.5),
                pct(0.95), keyMs.empty() ? 0.0 : keyMs.back());
    std::printf("  characters held: %lld in %lld lines; store memory %.2f bytes per character\n", w.store().size(),
                w.store().lineCount(), double(w.store().memoryUsage()) / double(std::max<qint64>(1, w.store().size())));

    // One frame's painting of a full window of this data.
    Clock::duration slowestPaint{};
    const Clock::time_point paint0 = Clock::now();
    for (int i = 0; i < 20; ++i) {
        const Clock::time_point p0 = Clock::now();
        (void)w.view().viewport()->grab();
        slowestPaint = std::max(slowestPaint, Clock::now() - p0);
    }
    std::printf("  painting the %dx%d view: %.2f ms a frame (slowest %.2f ms)\n", w.view().viewport()->width(),
                w.view().viewport()->height(), ms(Clock::now() - paint0) / 20, ms(slowestPaint));

    // What the reading costs beside the showing: the same data through a fresh store in
    // deliveries of the size the link handed over.
    TerminalStore bare;
    TerminalRenderer renderer(bare);
    renderer.setSettings(w.renderer().settings());
    renderer.setViewOptions(w.renderer().viewOptions());
    const qsizetype piece = std::max<qsizetype>(1, qsizetype(total / std::max<qint64>(1, handler->deliveries)));
    const double bare0 = threadCpuSeconds();
    for (qsizetype at = 0; at < data.size(); at += piece)
        renderer.receive(QByteArrayView(data).sliced(at, std::min(piece, data.size() - at)));
    const double bareCpu = threadCpuSeconds() - bare0;
    std::printf("  renderer and store alone: %.4f s per MB (%.0f MB/s)\n", bareCpu / (double(total) / MB),
                double(total) / MB / bareCpu);
    ::close(master);
    ::close(slave);
    return 0;
}
