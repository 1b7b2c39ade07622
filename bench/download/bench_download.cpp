// Downloads a 64 KiB image to corvade-board on a line paced like a real one and prints how
// close the stop-and-wait transfer comes to what the line allows, and what it costs the
// host in CPU time. Prints figures only; it asserts nothing.
//
//   bench_download [--records N] [--baud RATE] [--board PATH] [--window]
//
// With --window the status log and the records-sent bar are shown as the program shows them
// (run it with QT_QPA_PLATFORM=offscreen where there is no display), so their drawing counts.
#include "core/StatusSink.h"
#include "hexfile/HexFile.h"
#include "hexfile/HexDownload.h"
#include "support/TestFiles.h"
#include "link/LinkDispatcher.h"
#include "link/LinkTiming.h"
#include "link/QtRequestTimer.h"
#include "link/SerialByteLink.h"

#include "core/StatusLog.h"
#include "widgets/ThrottledProgressBar.h"
#include "widgets/StatusWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <memory>
#include <cstdio>
#include <sys/resource.h>

namespace {
class CountingSink : public StatusSink {
public:
    void appendStatus(const QString &text, bool endLine) override
    {
        if (endLine)
            last = current + text, current.clear();
        else if (text != QLatin1String("."))
            current += text;
    }
    QString current;
    QString last;
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Time on a CPU and voluntary switches (sleeps) of each thread of this process, by name.
struct ThreadUse {
    QString name;
    qint64 cpuNs = 0;
    qint64 sleeps = 0;
};

QList<ThreadUse> threadUse()
{
    QList<ThreadUse> threads;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const auto read = [&](const char *name) {
            QFile file(tasks.filePath(tid + QLatin1Char('/') + QLatin1String(name)));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        ThreadUse use;
        use.name = QString::fromUtf8(read("comm").trimmed()) + QLatin1Char(' ') + tid;
        use.cpuNs = read("schedstat").split(' ').value(0).toLongLong();
        for (const QByteArray &line : read("status").split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                use.sleeps = line.mid(24).trimmed().toLongLong();
        threads.append(use);
    }
    return threads;
}

int fail(const char *what)
{
    std::fprintf(stderr, "bench_download: %s\n", what);
    return 1;
}
} // namespace

int main(int argc, char *argv[])
{
    // The window option has to be known before the application object is made.
    bool withWindow = false;
    for (int i = 1; i < argc; ++i)
        withWindow = withWindow || qstrcmp(argv[i], "--window") == 0;
    std::unique_ptr<QCoreApplication> app(withWindow ? new QApplication(argc, argv)
                                                     : new QCoreApplication(argc, argv));
    QCommandLineParser parser;
    const QCommandLineOption recordsOption("records", "Data records of 16 bytes (default 4096).", "n", "4096");
    const QCommandLineOption baudOption("baud", "Line speed the board paces (default 19200).", "rate", "19200");
#ifdef CORVADE_BOARD_PATH
    const QString defaultBoard = QStringLiteral(CORVADE_BOARD_PATH);
#else
    const QString defaultBoard = QStringLiteral("corvade-board");
#endif
    const QCommandLineOption boardOption("board", "The corvade-board program.", "path", defaultBoard);
    const QCommandLineOption windowOption("window", "Show the status log and the progress bar.");
    parser.addHelpOption();
    parser.addOptions({recordsOption, baudOption, boardOption, windowOption});
    parser.process(*app);
    const int records = parser.value(recordsOption).toInt();
    const int baud = parser.value(baudOption).toInt();
    if (records < 1 || baud < 1)
        return fail("--records and --baud want positive numbers");

    QTemporaryDir dir;
    const QString hexPath = dir.filePath("image.hex");
    if (!dir.isValid() || !writeHexFile(hexPath, dataRecords(records, true)))
        return fail("cannot write the image");
    HexFile hex;
    hex.setPath(hexPath);
    if (hex.readHexFile() != 0)
        return fail("cannot read the image back");

    QProcess board;
    board.start(parser.value(boardOption),
                {"--baud", QString::number(baud), "--time-limit", QString::number(records / 10 + 120)});
    if (!board.waitForStarted(10000) || !board.waitForReadyRead(10000))
        return fail("corvade-board did not start");
    const QString device = QString::fromLocal8Bit(board.readLine()).trimmed();

    SerialByteLink link;
    // Connected before the dispatcher, so it notes the arrival before the answer is handled;
    // the record goes out right after the progress signal.
    QElapsedTimer clock;
    clock.start();
    qint64 arrivedAt = 0, turnaroundSum = 0, turnaroundMax = 0, turnarounds = 0;
    QObject::connect(&link, &ByteLink::bytesArrived, [&] { arrivedAt = clock.nsecsElapsed(); });
    QtRequestTimer requestTimer(kRequestTimeout);
    QtRequestTimer joinTimer(kJoinGap);
    CountingSink counting;
    StatusLog log;
    StatusSink &status = withWindow ? static_cast<StatusSink &>(log) : counting;
    LinkDispatcher dispatcher(link, requestTimer, joinTimer, status);
    HexDownload download(dispatcher, hex);
    std::unique_ptr<QWidget> window;
    if (withWindow) {
        // The same two views the main window keeps up to date during a download.
        window = std::make_unique<QWidget>();
        auto *layout = new QVBoxLayout(window.get());
        auto *statusWindow = new StatusWindow(log);
        auto *bar = new ThrottledProgressBar;
        bar->setFormat(QStringLiteral("%v of %m records"));
        bar->setMaximumWidth(bar->fontMetrics().averageCharWidth() * 40); // as in the status bar
        bar->setRange(0, records + 1);
        layout->addWidget(statusWindow);
        layout->addWidget(bar);
        QObject::connect(&log, &StatusLog::appended, statusWindow, &StatusWindow::showAppended);
        QObject::connect(&download, &HexDownload::progressChanged, bar, &ThrottledProgressBar::setValueLater);
        window->resize(640, 400);
        window->show();
        // In the program the window is on screen, drawn, long before a download starts; its
        // first drawing (fonts, glyphs) is not part of the download's cost, so it is done here.
        log.appendStatus(QStringLiteral("Status window shown"), true);
        const double cpuWarm = cpuSeconds();
        while (!window->windowHandle() || !window->windowHandle()->isExposed())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        statusWindow->flush();
        window->repaint();
        std::printf("first drawing of the window: %.3f s CPU\n", cpuSeconds() - cpuWarm);
    }
    QObject::connect(&download, &HexDownload::progressChanged, [&] {
        const qint64 turnaround = clock.nsecsElapsed() - arrivedAt;
        turnaroundSum += turnaround;
        turnaroundMax = std::max(turnaroundMax, turnaround);
        ++turnarounds;
    });
    if (!link.open(device, baud).ok())
        return fail("cannot open the board's device");

    const QList<ThreadUse> threadsBefore = threadUse();
    QElapsedTimer wall;
    const double cpuBefore = cpuSeconds();
    wall.start();
    const bool ok = download.download();
    const double wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    const QList<ThreadUse> threadsAfter = threadUse();

    // Stop-and-wait: the two directions take turns, so their times add up.
    qint64 toKernel = 1;
    for (int i = 0; i < hex.recordCount(); ++i)
        toKernel += hex.record(i).size();
    const qint64 toHost = hex.recordCount() + 1;
    const double lineLimit = double(toKernel + toHost) * 10.0 / baud;

    std::printf("download of %d records (%lld data bytes) at %d baud: %s\n", hex.recordCount(),
                (long long)records * 16, baud, ok ? "Ok" : qPrintable(withWindow ? log.text().section(QLatin1String("\r\n"), -2, -2) : counting.last));
    std::printf("  bytes on the wire   %lld to the kernel + %lld back = %lld\n", (long long)toKernel,
                (long long)toHost, (long long)(toKernel + toHost));
    std::printf("  wall time           %.3f s\n", wallSeconds);
    std::printf("  line-rate limit     %.3f s\n", lineLimit);
    std::printf("  wall / limit        %.4f (%+.2f %%)\n", wallSeconds / lineLimit,
                (wallSeconds / lineLimit - 1.0) * 100.0);
    std::printf("  host turnaround     mean %.1f us, max %.1f us (answer arrived -> next record handed over)\n",
                turnarounds ? double(turnaroundSum) / turnarounds / 1e3 : 0.0, double(turnaroundMax) / 1e3);
    std::printf("  host CPU time       %.3f s (%.2f %% of wall)\n", cpu, cpu / wallSeconds * 100.0);
    for (const ThreadUse &after : threadsAfter) {
        ThreadUse before;
        for (const ThreadUse &use : threadsBefore)
            if (use.name == after.name)
                before = use;
        std::printf("    thread %-20s %7.1f ms CPU, %6lld sleeps\n", qPrintable(after.name),
                    double(after.cpuNs - before.cpuNs) / 1e6, (long long)(after.sleeps - before.sleeps));
    }
    std::printf("  goal                %s\n", withWindow ? "under 1 % CPU with the window shown"
                                                   : "within 5 % of the limit, under 5 % CPU");

    link.close();
    board.terminate();
    board.waitForFinished(5000);
    return ok ? 0 : 1;
}
