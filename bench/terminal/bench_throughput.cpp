// Feeds 10 MB of mixed board output through the renderer, store and an offscreen view,
// one delivery per event-loop turn, and prints rates, the longest stall and memory; then
// switches the hex view over all of it. --hex and --stamps feed it with those views on.
#include "BenchUtil.h"
#include "widgets/TerminalView.h"
#include "widgets/TerminalWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr qint64 MB = 1024 * 1024;
    constexpr qint64 Total = 10 * MB;
    QRandomGenerator rng(1234);
    const QByteArray data = mixedOutput(rng, Total);

    TerminalWindow w;
    w.resize(800, 600);
    w.show();
    w.renderer().setSettings({true, 13, 0x0000C0});
    TerminalViewOptions view;
    for (int i = 1; i < argc; ++i) {
        view.hexView = view.hexView || qstrcmp(argv[i], "--hex") == 0;
        view.timeStamps = view.timeStamps || qstrcmp(argv[i], "--stamps") == 0;
    }
    w.renderer().setViewOptions(view);
    const qint64 rssBefore = procStatusBytes("VmRSS:");

    // Serial reads deliver whatever arrived since the last one: mostly small pieces,
    // sometimes a full buffer.
    std::vector<qsizetype> sizes;
    for (qsizetype left = Total; left > 0;) {
        const int pick = rng.bounded(100);
        qsizetype n = pick < 60 ? rng.bounded(1, 16) : pick < 95 ? rng.bounded(16, 512) : rng.bounded(512, 4096);
        n = std::min(n, left);
        sizes.push_back(n);
        left -= n;
    }

    qsizetype offset = 0;
    size_t next = 0;
    qint64 mbNanos[10] = {};
    QElapsedTimer total, sinceTick, mbTimer;
    qint64 longestStall = 0;
    int stalls16 = 0;
    total.start();
    mbTimer.start();
    sinceTick.start();
    QTimer feeder;
    feeder.setInterval(0);
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.nsecsElapsed();
        longestStall = std::max(longestStall, gap);
        if (gap > 16 * 1000 * 1000)
            ++stalls16;
        if (next >= sizes.size()) {
            feeder.stop();
            app.quit();
            return;
        }
        const qsizetype n = sizes[next++];
        const qint64 mbBefore = offset / MB;
        w.renderer().receive(QByteArrayView(data).sliced(offset, n));
        // The user types now and then; the echo goes in between.
        if (next % 200 == 0)
            w.renderer().addText(QStringLiteral("k"), 0xC00000);
        offset += n;
        if (offset / MB != mbBefore && mbBefore < 10) {
            mbNanos[mbBefore] = mbTimer.nsecsElapsed();
            mbTimer.restart();
        }
        sinceTick.restart();
    });
    feeder.start();
    app.exec();
    const double seconds = double(total.nsecsElapsed()) / 1e9;
    w.view().flush();
    const qint64 rssAfter = procStatusBytes("VmRSS:");
    const TerminalStore &s = w.store();

    std::printf("terminal throughput: %.1f MB in %zu deliveries (mean %.0f bytes)\n", double(Total) / MB,
                sizes.size(), double(Total) / double(sizes.size()));
    std::printf("  rate incl. event loop and painting: %.2f MB/s\n", double(Total) / MB / seconds);
    std::printf("  first MB: %.1f ms   tenth MB: %.1f ms   tenth/first: %.2f\n", mbNanos[0] / 1e6,
                mbNanos[9] / 1e6, double(mbNanos[9]) / double(std::max<qint64>(1, mbNanos[0])));
    std::printf("  longest event-loop stall: %.2f ms   turns over 16 ms: %d   frames painted: %d\n",
                longestStall / 1e6, stalls16, w.view().frames());
    std::printf("  characters held: %lld   lines: %lld   colours: %zu\n", s.size(), s.lineCount(),
                s.palette().size());
    std::printf("  store memory: %.3f bytes per character (%.2f MB per MB held)\n",
                double(s.memoryUsage()) / double(s.size()), double(s.memoryUsage()) / double(s.size()));
    std::printf("  resident growth: %.1f MB (%.3f bytes per character)\n", double(rssAfter - rssBefore) / MB,
                double(rssAfter - rssBefore) / double(s.size()));

    // Switching the hex view renders everything held again, a step per event-loop turn.
    TerminalViewOptions switched = view;
    switched.hexView = !view.hexView;
    QElapsedTimer switching, turn;
    qint64 longestTurn = 0;
    switching.start();
    w.renderer().setViewOptions(switched);
    const qint64 firstStep = switching.nsecsElapsed();
    turn.start();
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestTurn = std::max(longestTurn, turn.nsecsElapsed());
        turn.restart();
        if (!w.renderer().rendering())
            app.quit();
    });
    ticker.start();
    app.exec();
    const double switchMs = switching.nsecsElapsed() / 1e6;
    std::printf("  hex view switched %s over %.1f MB held: whole after %.0f ms (%.0f MB/s); first step %.2f ms, "
                "longest turn %.2f ms\n",
                switched.hexView ? "on" : "off", double(Total) / MB, switchMs, double(Total) / MB / (switchMs / 1e3),
                firstStep / 1e6, longestTurn / 1e6);

    // The store alone, without the event loop: the same data, first MB against the tenth.
    TerminalStore bare;
    TerminalRenderer r(bare);
    r.setSettings({true, 13, 0x0000C0});
    r.setViewOptions(view);
    QElapsedTimer t;
    qint64 firstMb = 0, tenthMb = 0;
    offset = 0;
    t.start();
    for (qsizetype n : sizes) {
        const qint64 mbBefore = offset / MB;
        r.receive(QByteArrayView(data).sliced(offset, n));
        offset += n;
        if (offset / MB != mbBefore) {
            if (mbBefore == 0)
                firstMb = t.nsecsElapsed();
            if (mbBefore == 9)
                tenthMb = t.nsecsElapsed();
            t.restart();
        }
    }
    std::printf("  store and renderer alone: first MB %.2f ms, tenth MB %.2f ms (%.0f MB/s)\n", firstMb / 1e6,
                tenthMb / 1e6, 1e3 / std::max(0.001, tenthMb / 1e6));
    return 0;
}
