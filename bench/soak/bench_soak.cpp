// Soak run: many Download+Run cycles in a row through one program instance, offscreen, each
// against a fresh corvade-board (after a run the line belongs to the started program until
// the board ends). Prints the resident memory at the start, after the first cycle and at the
// end, with the sizes of the terminal and status texts, and then, as a control, what the
// status log alone costs when it grows by the same lines without any link work; it asserts
// nothing.
//
//   bench_soak [--cycles N] [--hex FILE] [--greeting TEXT] [--board PATH]
#include "app/MainWindow.h"
#include "app/Application.h"
#include "core/Prompter.h"
#include "support/BoardProcess.h"
#include "settings/Settings.h"
#include "terminal/TerminalStore.h"
#include "widgets/TerminalWindow.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {
// Nothing in a good cycle asks anything; a question would stop the run, so it is counted.
class CountingPrompter : public Prompter {
public:
    int asked = 0;
    void message(const QString &text, Icon) override
    {
        ++asked;
        std::fprintf(stderr, "bench_soak: message: %s\n", qPrintable(text));
    }
    Answer abortRetryIgnore(const QString &text, Answer) override
    {
        ++asked;
        std::fprintf(stderr, "bench_soak: question: %s\n", qPrintable(text));
        return Answer::Ignore;
    }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
    QString saveFileName(const QString &, const QString &, const QString &) override { return {}; }
};

// Resident and peak resident memory of this process, in KiB, from /proc/self/status.
struct Memory {
    long rss = -1;
    long hwm = -1;
};
Memory memory()
{
    Memory m;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return m;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const auto value = [&line] { return line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toLong(); };
        if (line.startsWith("VmRSS:"))
            m.rss = value();
        else if (line.startsWith("VmHWM:"))
            m.hwm = value();
    }
    return m;
}

int fail(const QString &what)
{
    std::fprintf(stderr, "bench_soak: %s\n", qPrintable(what));
    return 1;
}
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption cyclesOption("cycles", "Download+Run cycles (default 200).", "n", "200");
#ifdef CORVADE_EXAMPLES_DIR
    const QString defaultHex = QStringLiteral(CORVADE_EXAMPLES_DIR "/hello.hex");
#else
    const QString defaultHex;
#endif
    const QCommandLineOption hexOption("hex", "The program to download (default: the hello example).", "file",
                                       defaultHex);
    const QCommandLineOption greetingOption("greeting", "Text the program sends when it starts.", "text",
                                            "Hello from the 8051!");
    parser.addHelpOption();
    parser.addOptions({cyclesOption, hexOption, greetingOption});
    parser.process(app);
    const int cycles = parser.value(cyclesOption).toInt();
    const QString hexPath = parser.value(hexOption);
    const QByteArray greeting = parser.value(greetingOption).toLatin1();
    if (cycles < 1 || hexPath.isEmpty() || !QFile::exists(hexPath))
        return fail(QStringLiteral("--cycles wants a positive number and --hex an existing file"));

    QTemporaryDir dir;
    if (!dir.isValid())
        return fail(QStringLiteral("no temporary folder"));
    const QString link = dir.filePath(QStringLiteral("ttyBOARD"));
    const QString config = dir.filePath(QStringLiteral("config"));
    qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
    QSettings(config + QStringLiteral("/Corvade/Corvade.conf"), QSettings::IniFormat)
        .setValue(QStringLiteral("Ports/COM 2"), link);

    BoardProcess board;
    if (board.start({}, link).isEmpty())
        return fail(QStringLiteral("corvade-board did not start"));
    CountingPrompter prompts;
    const Memory atStart = memory();
    auto corvade = std::make_unique<Application>(hexPath, &prompts);
    corvade->start();
    MainWindow &w = corvade->mainWindow();
    Readiness &readiness = corvade->readiness();

    Memory afterFirst;
    QElapsedTimer clock;
    clock.start();
    int good = 0;
    QString cycleLines; // everything the last cycle wrote to the status log
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        const qsizetype cycleStart = w.statusText().size();
        if (cycle > 1) {
            // The previous board still runs the program; the program notices it going.
            board.stop();
            if (!QTest::qWaitFor([&readiness] { return !readiness.serialReady(); }, 10000))
                return fail(QStringLiteral("cycle %1: the end of the board went unnoticed").arg(cycle));
            QFile::remove(link);
            if (board.start({}, link).isEmpty())
                return fail(QStringLiteral("cycle %1: corvade-board did not start").arg(cycle));
            w.action(QStringLiteral("mnuFileInitSeriel"))->trigger();
        }
        const qsizetype logBefore = w.statusText().size();
        w.action(QStringLiteral("mnuKernelDownloadRun"))->trigger();
        const QString lines = w.statusText().mid(logBefore);
        const bool ran = lines.contains(QStringLiteral("Ok\r\nRunning file on 8051...\r\n"));
        bool greeted = false;
        if (ran && w.terminalWindow()) {
            TerminalStore &store = w.terminalWindow()->store();
            greeted = QTest::qWaitFor([&] { return store.text(0, store.size()).contains(greeting); }, 10000);
        }
        if (ran && greeted)
            ++good;
        else
            std::fprintf(stderr, "bench_soak: cycle %d did not complete:\n%s\n", cycle, qPrintable(lines));
        if (cycle == 1)
            afterFirst = memory();
        if (cycle == cycles)
            cycleLines = w.statusText().mid(cycleStart);
        if (cycle % 50 == 0)
            std::printf("  after cycle %3d: VmRSS %6ld KiB\n", cycle, memory().rss);
    }
    const double seconds = clock.elapsed() / 1000.0;
    const Memory atEnd = memory();
    const qint64 terminalBytes = w.terminalWindow() ? w.terminalWindow()->store().size() : 0;
    const qsizetype statusChars = w.statusText().size();

    // Control: the same status lines again, as many times, with the line left alone.
    QStringList controlLines = cycleLines.split(QStringLiteral("\r\n"));
    if (!controlLines.isEmpty() && controlLines.last().isEmpty())
        controlLines.removeLast();
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        for (const QString &line : controlLines)
            corvade->statusLog().appendStatus(line, true);
        QCoreApplication::processEvents();
    }
    const Memory afterControl = memory();

    std::printf("soak: %d Download+Run cycles of %s, each on a fresh corvade-board\n", cycles,
                qPrintable(QFileInfo(hexPath).fileName()));
    std::printf("  completed (download Ok, run, greeting seen): %d of %d, %d message box(es)\n", good, cycles,
                prompts.asked);
    std::printf("  wall time: %.1f s (%.0f ms a cycle)\n", seconds, seconds * 1000.0 / cycles);
    std::printf("  VmRSS before start-up:    %6ld KiB\n", atStart.rss);
    std::printf("  VmRSS after cycle 1:      %6ld KiB\n", afterFirst.rss);
    std::printf("  VmRSS after the last:     %6ld KiB (peak %ld KiB)\n", atEnd.rss, atEnd.hwm);
    std::printf("  growth cycle 1 -> %d:    %+6ld KiB (%+.2f KiB a cycle)\n", cycles, atEnd.rss - afterFirst.rss,
                double(atEnd.rss - afterFirst.rss) / std::max(1, cycles - 1));
    std::printf("  terminal text at the end: %lld bytes (cleared by every run)\n", static_cast<long long>(terminalBytes));
    std::printf("  status log at the end:    %lld characters (%.0f a cycle)\n", static_cast<long long>(statusChars),
                double(statusChars) / cycles);
    std::printf("  control, the status log alone grown by the same %d cycles' lines: %+ld KiB (%+.2f KiB a cycle)\n",
                cycles, afterControl.rss - atEnd.rss, double(afterControl.rss - atEnd.rss) / cycles);
    std::fflush(stdout);

    board.stop();
    corvade.reset();
    return good == cycles ? 0 : 1;
}
