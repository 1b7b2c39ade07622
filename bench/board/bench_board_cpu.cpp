// How much of a core corvade-board takes while the emulated 8052 runs the hello example in
// real time: idle (the program polls its receiver), and with someone typing ten characters
// a second. Usage: bench_board_cpu [seconds per phase, default 5]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QThread>

#include <cstdio>
#include <unistd.h>

namespace {
// User plus system CPU time of a process so far, in seconds.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1.0;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1.0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

QByteArray readSome(QSerialPort &port, int count, int waitMs = 5000)
{
    QByteArray got;
    while (got.size() < count && port.waitForReadyRead(waitMs))
        got += port.readAll();
    return got;
}

bool downloadAndRun(QSerialPort &port)
{
    QFile hex(QStringLiteral(CORVADE_EXAMPLES_DIR "/hello.hex"));
    if (!hex.open(QIODevice::ReadOnly))
        return false;
    port.write("\x02");
    if (readSome(port, 1) != "\x02")
        return false;
    for (const QByteArray &line : hex.readAll().split('\n')) {
        if (!line.trimmed().startsWith(':'))
            continue;
        port.write(line.trimmed());
        const QByteArray answer = readSome(port, 1);
        if (answer == "\x03")
            break;
        if (answer != "\x02")
            return false;
    }
    port.write("\x03");
    return !readSome(port, 20).isEmpty();
}

struct Share {
    double cpu = 0.0;
    double wall = 0.0;
    int sent = 0;
};

// Measures the board over `seconds`; with `typing`, sends a character every 100 ms.
Share measure(QProcess &board, QSerialPort &port, int seconds, bool typing, int *echoed)
{
    readSome(port, 1 << 20, 200); // what is still on its way from before
    const double cpu0 = cpuSeconds(board.processId());
    QElapsedTimer wall;
    wall.start();
    int sent = 0;
    while (wall.elapsed() < seconds * 1000LL) {
        if (typing) {
            port.write(QByteArray(1, char('a' + sent % 26)));
            ++sent;
            *echoed += int(readSome(port, 1, 100).size());
            const qint64 next = sent * 100LL;
            if (wall.elapsed() < next)
                QThread::msleep(quint64(next - wall.elapsed()));
        } else {
            QThread::msleep(100);
        }
    }
    return {cpuSeconds(board.processId()) - cpu0, wall.elapsed() / 1000.0, sent};
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    QProcess board;
    board.start(QStringLiteral(CORVADE_BOARD_PATH), {QStringLiteral("--time-limit"), QString::number(4 * seconds + 60)});
    if (!board.waitForStarted(10000) || !board.waitForReadyRead(10000)) {
        std::fprintf(stderr, "bench_board_cpu: corvade-board did not start\n");
        return 1;
    }
    const QString device = QString::fromLocal8Bit(board.readLine()).trimmed();
    QSerialPort port;
    port.setPortName(device);
    port.setBaudRate(19200);
    if (!port.open(QIODevice::ReadWrite) || !downloadAndRun(port)) {
        std::fprintf(stderr, "bench_board_cpu: download and run of hello.hex failed\n");
        return 1;
    }
    int echoed = 0;
    const Share idle = measure(board, port, seconds, false, &echoed);
    const Share typing = measure(board, port, seconds, true, &echoed);
    std::printf("corvade-board running hello in real time (11.0592 MHz, 921600 machine cycles/s)\n");
    std::printf("  idle, program polling RI:   %5.2f %% of a core (%.2f s CPU in %.1f s)\n",
                100.0 * idle.cpu / idle.wall, idle.cpu, idle.wall);
    std::printf("  typing 10 characters/s:     %5.2f %% of a core (%.2f s CPU in %.1f s, %d of %d echoed)\n",
                100.0 * typing.cpu / typing.wall, typing.cpu, typing.wall, echoed, typing.sent);
    std::printf("  goal: under 5 %% of a core\n");
    port.close();
    board.terminate();
    board.waitForFinished(5000);
    return 0;
}
