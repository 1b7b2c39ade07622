// corvade-board: a simulated 8051 board with its kernel on a pseudo-terminal, for trying
// Corvade and for its tests without hardware.
#include "board/BoardLine.h"
#include "board/KernelSim.h"
#include "board/Mcs51Program.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {
bool parseNumber(const QString &text, int min, int max, int &out)
{
    bool ok = false;
    const int value = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2).toInt(&ok, 16)
                                                                                : text.toInt(&ok, 10);
    if (!ok || value < min || value > max)
        return false;
    out = value;
    return true;
}

int fail(const QString &message)
{
    std::fprintf(stderr, "corvade-board: %s\n", qPrintable(message));
    return 2;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvade-board"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated 8051 board for Corvade. Opens a pseudo-terminal and prints its device path\n"
        "as the first line of output; point Corvade's port at that path (or at --link).\n"
        "The kernel answers the version request (0x01), the download (0x02, then one Intel HEX\n"
        "record after each acknowledgement) and the run request (0x03), after which an emulated\n"
        "8052 runs the downloaded code from 0x0000 (or from the start address the HEX file\n"
        "names), in real time at the --crystal frequency. Its serial port is the line: what it\n"
        "sends reaches the host and what the host sends reaches its receiver. A pseudo-terminal\n"
        "does not tell the board the host's bit rate, so --line-baud gives it; a program whose\n"
        "bit rate differs from it by more than about 5 % sends and receives garbage, as on a\n"
        "real line. Before any download, or with --program echo, a small stand-in program\n"
        "greets and echoes what it is sent instead. The fault options can be combined.\n"
        "The board ends when the host has closed the device for longer than --hangup-grace,\n"
        "or when --time-limit passes."));
    parser.addHelpOption();
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Also make the device known as a symbolic link at <path>."),
                                  QStringLiteral("path"));
    const QCommandLineOption version(QStringLiteral("kernel-version"),
                                     QStringLiteral("Version the kernel reports (default 1.0.0)."),
                                     QStringLiteral("x.y.z"), QStringLiteral("1.0.0"));
    const QCommandLineOption silent(QStringLiteral("silent"), QStringLiteral("Answer nothing at all."));
    const QCommandLineOption firstByte(QStringLiteral("first-byte"),
                                       QStringLiteral("Start the replies to the version, download and run "
                                                      "requests with <byte> instead of the request code."),
                                       QStringLiteral("byte"));
    const QCommandLineOption refuseAt(QStringLiteral("refuse-at"),
                                      QStringLiteral("Refuse record <n> of a download (answer 0x06)."),
                                      QStringLiteral("n"));
    const QCommandLineOption resendAt(QStringLiteral("resend-at"),
                                      QStringLiteral("Ask once for record <n> again (answer 0x04)."),
                                      QStringLiteral("n"));
    const QCommandLineOption pullAt(QStringLiteral("pull-at"),
                                    QStringLiteral("Close the line when record <n> has arrived, as a "
                                                   "pulled cable would; the board then ends."),
                                    QStringLiteral("n"));
    const QCommandLineOption split(QStringLiteral("split"),
                                   QStringLiteral("Send every reply one byte at a time with a small gap."));
    const QCommandLineOption splitGap(QStringLiteral("split-gap"),
                                      QStringLiteral("Gap between the bytes of a split reply (default 5)."),
                                      QStringLiteral("ms"), QStringLiteral("5"));
    const QCommandLineOption delay(QStringLiteral("delay"), QStringLiteral("Delay every kernel reply by <ms>."),
                                   QStringLiteral("ms"));
    const QCommandLineOption baud(QStringLiteral("baud"),
                                  QStringLiteral("Pace the traffic in both directions as a real line at "
                                                 "<rate> baud would (10 bits a byte)."),
                                  QStringLiteral("rate"));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Append every chunk received from the host to <file>, "
                                                "as hex bytes, one line per chunk."),
                                 QStringLiteral("file"));
    const QCommandLineOption timeLimit(QStringLiteral("time-limit"),
                                       QStringLiteral("End after <s> seconds (default 600; 0 for no limit)."),
                                       QStringLiteral("s"), QStringLiteral("600"));
    const QCommandLineOption grace(QStringLiteral("hangup-grace"),
                                   QStringLiteral("End when the host has closed the device for <ms> "
                                                  "(default 1500); a quicker reopen is no hang-up."),
                                   QStringLiteral("ms"), QStringLiteral("1500"));
    const QCommandLineOption program(QStringLiteral("program"),
                                     QStringLiteral("What the run request starts: 8051 (default; the emulated "
                                                    "8052 runs the downloaded code) or echo (the stand-in that "
                                                    "greets and echoes)."),
                                     QStringLiteral("name"), QStringLiteral("8051"));
    const QCommandLineOption lineBaud(QStringLiteral("line-baud"),
                                      QStringLiteral("Bit rate of the host's end of the line after the run "
                                                     "request, Corvade's terminal speed (default 19200)."),
                                      QStringLiteral("rate"), QStringLiteral("19200"));
    const QCommandLineOption crystal(QStringLiteral("crystal"),
                                     QStringLiteral("Crystal frequency of the emulated 8052 in Hz "
                                                    "(default 11059200)."),
                                     QStringLiteral("hz"), QStringLiteral("11059200"));
    const QCommandLineOption fast(QStringLiteral("fast"),
                                  QStringLiteral("Run the emulated 8052 as fast as possible instead of in "
                                                 "real time (uses a whole core)."));
    const QCommandLineOption garbageEvery(QStringLiteral("garbage-every"),
                                          QStringLiteral("Send a random byte about every <ms> (each gap drawn "
                                                         "from half to one and a half times it), whatever the "
                                                         "kernel or the program is doing."),
                                          QStringLiteral("ms"));
    const QCommandLineOption garbageSeed(QStringLiteral("garbage-seed"),
                                         QStringLiteral("Seed of the random bytes and gaps of --garbage-every "
                                                        "(default 1); a seed repeats its noise."),
                                         QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption echoFile(QStringLiteral("echo-file"),
                                      QStringLiteral("Write every byte the running program receives from the "
                                                     "host to <file>, raw, as it arrives (a sent file arrives "
                                                     "whole when the two are equal)."),
                                      QStringLiteral("file"));
    parser.addOptions({link, version, silent, firstByte, refuseAt, resendAt, pullAt, split, splitGap, delay, baud,
                       log, timeLimit, grace, program, lineBaud, crystal, fast, garbageEvery, garbageSeed, echoFile});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1 (see --help)").arg(parser.positionalArguments().first()));

    int parts[3] = {1, 0, 0};
    const QStringList versionParts = parser.value(version).split(QLatin1Char('.'));
    if (versionParts.size() != 3 || !parseNumber(versionParts[0], 0, 255, parts[0])
        || !parseNumber(versionParts[1], 0, 255, parts[1]) || !parseNumber(versionParts[2], 0, 255, parts[2]))
        return fail(QStringLiteral("--kernel-version wants three numbers 0 to 255, like 1.0.0"));

    KernelFaults faults;
    faults.silent = parser.isSet(silent);
    const auto number = [&parser](const QCommandLineOption &option, int min, int max, int &out) {
        return !parser.isSet(option) || parseNumber(parser.value(option), min, max, out);
    };
    LineOptions line;
    int splitMs = 0, delayMs = 0, limitS = 0, graceMs = 0, garbageMs = 0, seed = 1;
    if (!number(firstByte, 0, 255, faults.firstByte) || !number(refuseAt, 1, 1 << 30, faults.refuseAt)
        || !number(resendAt, 1, 1 << 30, faults.resendAt) || !number(pullAt, 1, 1 << 30, faults.pullAt)
        || !number(splitGap, 0, 60000, splitMs) || !number(delay, 0, 600000, delayMs)
        || !number(baud, 1, 10'000'000, line.baud) || !parseNumber(parser.value(timeLimit), 0, 1 << 30, limitS)
        || !parseNumber(parser.value(grace), 0, 1 << 30, graceMs) || !number(garbageEvery, 1, 600000, garbageMs)
        || !parseNumber(parser.value(garbageSeed), 0, 0x7FFFFFFF, seed))
        return fail(QStringLiteral("an option has a value out of range (see --help)"));

    const QString programName = parser.value(program);
    if (programName != QLatin1String("8051") && programName != QLatin1String("echo"))
        return fail(QStringLiteral("--program is 8051 or echo"));
    Mcs51Options cpu;
    int lineRate = 0, crystalHz = 0;
    if (!parseNumber(parser.value(lineBaud), 1, 10'000'000, lineRate)
        || !parseNumber(parser.value(crystal), 1000, 100'000'000, crystalHz))
        return fail(QStringLiteral("an option has a value out of range (see --help)"));
    cpu.lineBaud = lineRate;
    cpu.crystalHz = crystalHz;
    cpu.fast = parser.isSet(fast);

    line.linkPath = parser.value(link);
    line.logPath = parser.value(log);
    line.splitGap = std::chrono::milliseconds(parser.isSet(split) ? std::max(splitMs, 1) : 0);
    line.replyDelay = std::chrono::milliseconds(delayMs);
    line.timeLimit = std::chrono::seconds(limitS);
    line.hangupGrace = std::chrono::milliseconds(graceMs);
    line.garbageEvery = std::chrono::milliseconds(garbageMs);
    line.garbageSeed = quint32(seed);

    BoardLine board(line);
    const QString device = board.open();
    if (device.isEmpty())
        return fail(board.error());
    std::printf("%s\n", qPrintable(device));
    std::fflush(stdout);

    std::unique_ptr<BoardProgram> runs = std::make_unique<EchoProgram>();
    if (programName == QLatin1String("8051"))
        runs = std::make_unique<DownloadedOrStandIn>(std::make_unique<Mcs51Program>(cpu), std::move(runs));
    if (parser.isSet(echoFile)) {
        auto recorded = std::make_unique<RecordedInput>(std::move(runs), parser.value(echoFile));
        if (!recorded->open())
            return fail(QStringLiteral("cannot write %1: %2").arg(parser.value(echoFile), recorded->error()));
        runs = std::move(recorded);
    }
    KernelSim kernel{quint8(parts[0]), quint8(parts[1]), quint8(parts[2]), faults,
                     {[&board](const QByteArray &b) { board.reply(b); },
                      [&board](const QByteArray &b) { board.output(b); }, [&board] { board.pull(); }},
                     std::move(runs)};
    return board.run(kernel);
}
