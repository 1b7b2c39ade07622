// Runs 1 GB of board output through the store and an offscreen view, then saves all of
// it, and prints the time, resident memory and the spill file's size. Saving to a file
// runs as the menu command does, with its progress dialog, while a 1 ms timer measures
// the longest the event loop went without turning.
#include "BenchUtil.h"
#include "terminal/RtfWriter.h"
#include "terminal/TerminalSave.h"
#include "widgets/JobProgress.h"
#include "widgets/TerminalView.h"
#include "widgets/TerminalWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

// Passes the steps on and keeps the longest one.
struct TimedJob : SteppedJob {
    SteppedJob &inner;
    qint64 longest = 0;
    explicit TimedJob(SteppedJob &job) : inner(job) {}
    bool step() override
    {
        QElapsedTimer t;
        t.start();
        const bool more = inner.step();
        longest = std::max(longest, t.nsecsElapsed());
        return more;
    }
    qint64 done() const override { return inner.done(); }
    qint64 total() const override { return inner.total(); }
};

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
    QTemporaryDir outDir;
    for (bool rtf : {false, true}) {
        const QString name = outDir.filePath(rtf ? QStringLiteral("t.rtf") : QStringLiteral("t.txt"));
        QElapsedTimer gap;
        qint64 longestGap = 0;
        QTimer tick;
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, gap.nsecsElapsed());
            gap.restart();
        });
        TerminalSaveJob job(s, name);
        TimedJob timed(job);
        bool finished = false;
        QTimer::singleShot(0, [&] {
            finished = runWithProgress(timed, QStringLiteral("Saving"), &w);
            app.quit();
        });
        t.restart();
        gap.start();
        tick.start();
        app.exec();
        longestGap = std::max(longestGap, gap.nsecsElapsed());
        const double secs = double(t.nsecsElapsed()) / 1e9;
        std::printf("  save to a file as %s: %s, %.0f MB in %.1f s; longest event-loop gap %.1f ms, longest step %.1f ms (the last one commits)\n",
                    rtf ? "RTF" : "text", finished && job.result().ok ? "ok" : qPrintable(job.result().error),
                    double(QFileInfo(name).size()) / MB, secs, longestGap / 1e6, timed.longest / 1e6);
        QFile::remove(name);
    }
    std::printf("  resident after saving: %.1f MB\n", double(procStatusBytes("VmRSS:")) / MB);
    return 0;
}
