// Speed of the 8051 core beside s51 on three compute-bound programs.
// Prints figures only; it asserts nothing about time.
//   bench_mcs51 [--no-s51] [--no-callgrind]   (also the serial port echoing a stream)
//   bench_mcs51 --inner <hex> <cycles> [--hooks]   (one run, for callgrind)
#include "mcs51/Cpu.h"
#include "mcs51/HexImage.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <sys/resource.h>

#include <cstdio>
#include <ctime>
#include <memory>

namespace {

struct Result
{
    quint64 instructions = 0;
    quint64 cycles = 0;
    double cpuSeconds = 0;
    unsigned value = 0; // P2:P1
    unsigned check = 0; // P3
};

double childCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

std::unique_ptr<mcs51::Cpu> load(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return nullptr;
    const auto image = mcs51::HexImage::parse(f.readAll().toStdString());
    if (!image)
        return nullptr;
    auto cpu = std::make_unique<mcs51::Cpu>(mcs51::Variant::I8052, 12e6);
    image->loadAndReset(*cpu);
    return cpu;
}

bool atHalt(const mcs51::Cpu &cpu)
{
    return cpu.code(cpu.pc()) == 0x80 && cpu.code(std::uint16_t(cpu.pc() + 1)) == 0xFE;
}

// Hooks that do nothing, as a board that watches ports and memory sets them:
// every SFR and MOVX access then leaves the interpreter's fast paths.
void setIdleHooks(mcs51::Cpu &cpu)
{
    cpu.sfrReadHook = [](std::uint8_t, std::uint8_t &) { return false; };
    cpu.sfrWriteHook = [](std::uint8_t, std::uint8_t) {};
    cpu.xdataReadHook = [](std::uint16_t, std::uint8_t &) { return false; };
    cpu.xdataWriteHook = [](std::uint16_t, std::uint8_t) { return false; };
}

// Finds the final jump-to-self with a first run, then times a second run that stops there.
Result runOurs(const QString &path, int *haltAddress, bool hooks)
{
    Result r;
    auto probe = load(path);
    while (!atHalt(*probe))
        probe->run(1000);
    *haltAddress = probe->pc();
    auto cpu = load(path);
    if (hooks)
        setIdleHooks(*cpu);
    const std::clock_t start = std::clock();
    cpu->run(~0ull >> 1, *haltAddress);
    r.cpuSeconds = double(std::clock() - start) / CLOCKS_PER_SEC;
    r.instructions = cpu->instructions();
    r.cycles = cpu->cycles();
    r.value = unsigned(cpu->peekDirect(mcs51::sfr::P2) << 8 | cpu->peekDirect(mcs51::sfr::P1));
    r.check = cpu->peekDirect(mcs51::sfr::P3);
    return r;
}

bool runS51(const QString &path, int haltAddress, Result *r)
{
    QTemporaryFile script;
    if (!script.open())
        return false;
    script.write(QStringLiteral("file \"%1\"\nbreak 0x%2\nrun\nstate\nget sfr 0x90 0xa0 0xb0\nquit\n")
                     .arg(path).arg(haltAddress, 0, 16).toLocal8Bit());
    script.flush();
    QProcess s51;
    s51.setStandardInputFile(QProcess::nullDevice());
    const double before = childCpuSeconds();
    s51.start(QStringLiteral("s51"), {QStringLiteral("-q"), QStringLiteral("-b"), QStringLiteral("-t"),
                                      QStringLiteral("8052"), QStringLiteral("-X"), QStringLiteral("12M"),
                                      QStringLiteral("-C"), script.fileName()});
    if (!s51.waitForFinished(-1))
        return false;
    r->cpuSeconds = childCpuSeconds() - before;
    const QString out = QString::fromLatin1(s51.readAllStandardOutput());
    // After stopping at a breakpoint s51 reports one instruction too many.
    const auto inst = QRegularExpression(QStringLiteral("Inst= (\\d+)")).match(out);
    const auto clks = QRegularExpression(QStringLiteral("\\((\\d+) clks\\)")).match(out);
    if (!inst.hasMatch() || !clks.hasMatch())
        return false;
    r->instructions = inst.captured(1).toULongLong() - 1;
    r->cycles = clks.captured(1).toULongLong() / 12;
    auto port = [&](const char *name) {
        const auto m = QRegularExpression(QStringLiteral("%1:\\s+0b[01]+ 0x([0-9a-f]{2})").arg(QLatin1String(name))).match(out);
        return m.hasMatch() ? m.captured(1).toUInt(nullptr, 16) : 0u;
    };
    r->value = port("P2") << 8 | port("P1");
    r->check = port("P3");
    return true;
}

// Host instructions counted by callgrind for this program running `cycles` machine cycles.
bool callgrindCount(const QString &self, const QString &path, quint64 cycles, bool hooks, quint64 *ir,
                    quint64 *simulated)
{
    QStringList args{QStringLiteral("--tool=callgrind"), QStringLiteral("--callgrind-out-file=/dev/null"), self,
                     QStringLiteral("--inner"), path, QString::number(cycles)};
    if (hooks)
        args << QStringLiteral("--hooks");
    QProcess vg;
    vg.start(QStringLiteral("valgrind"), args);
    if (!vg.waitForFinished(-1))
        return false;
    const QString err = QString::fromLocal8Bit(vg.readAllStandardError());
    const QString out = QString::fromLocal8Bit(vg.readAllStandardOutput());
    const auto m = QRegularExpression(QStringLiteral("Collected : (\\d+)")).match(err);
    if (!m.hasMatch())
        return false;
    *ir = m.captured(1).toULongLong();
    *simulated = out.trimmed().toULongLong();
    return true;
}

// The serial port under load: hello (11.0592 MHz, 19200 baud) echoes a stream of bytes
// arriving back to back, as a pasted text does, for 20 simulated seconds. The echo keeps
// up only when TI rises as the stop bit begins; "lost" counts bytes overrun in the chip.
void runSerial(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        std::printf("serial: %s missing (build the examples)\n", qPrintable(path));
        return;
    }
    const auto image = mcs51::HexImage::parse(f.readAll().toStdString());
    if (!image)
        return;
    mcs51::Cpu cpu(mcs51::Variant::I8052, 11059200.0);
    image->loadAndReset(cpu);
    quint64 echoed = 0, offered = 0;
    cpu.onTransmit = [&](std::uint8_t, double) { ++echoed; };
    cpu.run(921600 / 5); // the greeting
    echoed = 0;
    const std::uint64_t frame = 480; // ten bits at 19200 baud
    const std::uint64_t end = cpu.cycles() + 20 * 921600ull;
    std::uint64_t due = cpu.cycles();
    const std::clock_t start = std::clock();
    while (cpu.cycles() < end) {
        if (cpu.cycles() >= due) {
            if (cpu.receiveByte(std::uint8_t('a' + offered % 26), 19200.0) == mcs51::RxResult::Accepted)
                ++offered;
            due += frame;
        }
        cpu.run(due > cpu.cycles() ? due - cpu.cycles() : 1);
    }
    const double seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
    cpu.run(3 * frame); // the last echo
    std::printf("\nSerial echo (hello, bytes back to back at 19200 baud, 20 s simulated):\n"
                "%llu bytes in, %llu echoed, %lld lost; %.3f CPU s, %.0fx real time\n",
                static_cast<unsigned long long>(offered), static_cast<unsigned long long>(echoed),
                static_cast<long long>(offered) - static_cast<long long>(echoed), seconds, 20.0 / seconds);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if ((args.size() == 4 || args.size() == 5) && args[1] == QLatin1String("--inner")) {
        auto cpu = load(args[2]);
        if (!cpu)
            return 1;
        if (args.size() == 5 && args[4] == QLatin1String("--hooks"))
            setIdleHooks(*cpu);
        cpu->run(args[3].toULongLong());
        std::printf("%llu\n", static_cast<unsigned long long>(cpu->instructions()));
        return 0;
    }
    const bool withS51 = !args.contains(QLatin1String("--no-s51"))
        && !QStandardPaths::findExecutable(QStringLiteral("s51")).isEmpty();
    const bool withCallgrind = !args.contains(QLatin1String("--no-callgrind"))
        && !QStandardPaths::findExecutable(QStringLiteral("valgrind")).isEmpty();

    std::printf("8051 core speed, 8052 at 12 MHz; rates per CPU second; x real = machine cycles/s / 1e6;\n"
                "core %% = share of one core that keeps pace with real time; hook = ours with idle hooks set\n\n");
    std::printf("%-6s %-4s %12s %12s %8s %9s %9s %8s %7s %8s %s\n", "prog", "sim", "instr", "cycles", "CPU s",
                "Minstr/s", "Mcyc/s", "x real", "core %", "x s51", "result");
    for (const char *name : {"sieve", "crc16", "bsort"}) {
        const QString path = QStringLiteral(BENCH_HEX_DIR "/%1.hex").arg(QLatin1String(name));
        int halt = 0;
        const Result ours = runOurs(path, &halt, false);
        const Result hooked = runOurs(path, &halt, true);
        Result ref;
        const bool haveRef = withS51 && runS51(path, halt, &ref);
        auto row = [&](const char *sim, const Result &r, double ratio) {
            const double realTime = r.cycles / r.cpuSeconds / 1e6;
            std::printf("%-6s %-4s %12llu %12llu %8.2f %9.2f %9.2f %8.1f %7.2f %8s %04x/%02x\n", name, sim,
                        static_cast<unsigned long long>(r.instructions), static_cast<unsigned long long>(r.cycles),
                        r.cpuSeconds, r.instructions / r.cpuSeconds / 1e6, r.cycles / r.cpuSeconds / 1e6, realTime,
                        100.0 / realTime, ratio > 0 ? qPrintable(QString::number(ratio, 'f', 1)) : "", r.value,
                        r.check);
        };
        row("ours", ours, haveRef ? ref.cpuSeconds / ours.cpuSeconds : 0);
        row("hook", hooked, haveRef ? ref.cpuSeconds / hooked.cpuSeconds : 0);
        if (haveRef) {
            row("s51", ref, 0);
            if (ref.instructions != ours.instructions || ref.cycles != ours.cycles || ref.value != ours.value)
                std::printf("       note: s51 and our core disagree on this program\n");
        }
    }
    runSerial(QStringLiteral(HELLO_HEX));
    if (withCallgrind) {
        std::printf("\nHost instructions per simulated instruction (callgrind, 2,000,000 machine cycles minus start-up):\n");
        for (const char *name : {"sieve", "crc16", "bsort"}) {
            const QString path = QStringLiteral(BENCH_HEX_DIR "/%1.hex").arg(QLatin1String(name));
            for (const bool hooks : {false, true}) {
                quint64 irRun = 0, irIdle = 0, n = 0, n0 = 0;
                if (callgrindCount(args[0], path, 2000000, hooks, &irRun, &n)
                    && callgrindCount(args[0], path, 0, hooks, &irIdle, &n0) && n > 0)
                    std::printf("%-6s %10llu instructions  %6.1f host instructions each%s\n", name,
                                static_cast<unsigned long long>(n), double(irRun - irIdle) / double(n),
                                hooks ? " (idle hooks set)" : "");
                else
                    std::printf("%-6s callgrind failed\n", name);
            }
        }
    }
    return 0;
}
