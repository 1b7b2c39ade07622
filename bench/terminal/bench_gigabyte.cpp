// Runs 1 GB of board output through the store and an offscreen view, then saves all of
// it, and prints the time, resident memory and the spill file's size.
#include "BenchUtil.h"
#include "terminal/RtfWriter.h"
#include "terminal/TerminalSave.h"
#include "widgets/TerminalView.h"
#include "widgets/TerminalWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScrollBar>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr qint64 MB = 1024 * 1024;
    qint64 total = 1024 * MB;
    if (argc > 1)
        total = QByteArray(argv[1]).toLongLong() * MB;

    QTemporaryDir cache;
    TerminalWindow w;
    w.store().setSpillFolder(cache.path());
    w.resize(800, 600);
    w.show();
    w.renderer().setSettings({true, 13, 0x0000C0});

    QRandomGenerator rng(99);
    const QByteArray pattern = mixedOutput(rng, 8 * MB);
    QElapsedTimer t;
    t.start();
    qint64 fed = 0;
    qint64 longestTurn = 0;
    QElapsedTimer turn;
    int deliveries = 0;
    while (fed < total) {
        turn.start();
        const qsizetype n = qsizetype(std::min<qint64>(4096, total - fed));
        const qsizetype at = qsizetype(fed % (pattern.size() - 4096));
        w.renderer().receive(QByteArrayView(pattern).sliced(at, n));
        fed += n;
        if (++deliveries % 64 == 0)
            app.processEvents();
        longestTurn = std::max(longestTurn, turn.nsecsElapsed());
    }
    w.view().flush();
    app.processEvents();
    const double feedSeconds = double(t.nsecsElapsed()) / 1e9;
    const TerminalStore &s = w.store();
    const qint64 rss = procStatusBytes("VmRSS:");
    const qint64 peak = procStatusBytes("VmHWM:");
    std::printf("terminal 1 GB run: %.0f MB fed in %.1f s (%.0f MB/s), %d deliveries of 4 KB\n",
                double(fed) / MB, feedSeconds, double(fed) / MB / feedSeconds, deliveries);
    std::printf("  held: %lld characters, %lld lines; spilled blocks: %lld; spill file %.0f MB\n", s.size(),
                s.lineCount(), s.spilledBlocks(), double(QFileInfo(s.spillFileName()).size()) / MB);
    std::printf("  store memory: %.1f MB; resident at the end: %.1f MB (peak %.1f MB)\n",
                double(s.memoryUsage()) / MB, double(rss) / MB, double(peak) / MB);
    std::printf("  longest delivery turn (incl. frames): %.2f ms\n", longestTurn / 1e6);

    // Scroll to the very top: the oldest text comes back from the spill file.
    t.restart();
    w.view().setFollow(false);
    w.view().verticalScrollBar()->setValue(0);
    w.view().viewport()->repaint();
    std::printf("  jump to the first line and paint: %.2f ms\n", t.nsecsElapsed() / 1e6);

    for (bool rtf : {false, true}) {
        CountingDevice out;
        t.restart();
        const WriteResult r = rtf ? writeTerminalRtf(s, out) : writeTerminalText(s, out);
        const double secs = double(t.nsecsElapsed()) / 1e9;
        std::printf("  save as %s: %s, %.0f MB written in %.1f s (%.0f MB/s)%s\n", rtf ? "RTF" : "text",
                    r.ok ? "ok" : qPrintable(r.error), double(out.count) / MB, secs,
                    double(out.count) / MB / secs,
                    !rtf && out.count == s.size() ? ", every character" : "");
    }
    std::printf("  resident after saving: %.1f MB\n", double(procStatusBytes("VmRSS:")) / MB);
    return 0;
}
