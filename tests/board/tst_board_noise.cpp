// The board's line noise (--garbage-every): random bytes at random moments, repeatable
// by seed, and the option as the program takes it.
#include "board/LineNoise.h"
#include "tests/link/BoardProcess.h"

#include <QSerialPort>
#include <QtTest>

using namespace std::chrono;
using Clock = LineNoise::Clock;

namespace {
// The bytes a noise source sends when the loop serves every moment on time.
QByteArray punctualBytes(milliseconds every, quint32 seed, int count)
{
    LineNoise noise(every, seed, Clock::time_point{});
    QByteArray bytes;
    while (bytes.size() < count)
        bytes.append(char(*noise.take(noise.nextAt())));
    return bytes;
}
} // namespace

class TestBoardNoise : public QObject {
    Q_OBJECT
private slots:
    void seedRepeatsItsNoise();
    void gapsStayAroundTheMean_data();
    void gapsStayAroundTheMean();
    void bytesSpreadOverAllValues();
    void nothingBeforeItsMoment();
    void aLateLoopSendsOneByteOnly();
    void zeroMeansSilence();
    void boardSendsTheSeededNoise();
    void noiseWhileTheHostIsAwayIsLost();
    void helpNamesTheNoiseOptions();
};

void TestBoardNoise::seedRepeatsItsNoise()
{
    QCOMPARE(punctualBytes(milliseconds(20), 7, 200), punctualBytes(milliseconds(20), 7, 200));
    QVERIFY(punctualBytes(milliseconds(20), 7, 200) != punctualBytes(milliseconds(20), 8, 200));

    LineNoise a(milliseconds(20), 3, Clock::time_point{});
    LineNoise b(milliseconds(20), 3, Clock::time_point{});
    for (int i = 0; i < 50; ++i) {
        QCOMPARE(a.nextAt(), b.nextAt());
        a.take(a.nextAt());
        b.take(b.nextAt());
    }
}

void TestBoardNoise::gapsStayAroundTheMean_data()
{
    QTest::addColumn<int>("everyMs");
    QTest::newRow("1 ms") << 1;
    QTest::newRow("50 ms") << 50;
    QTest::newRow("150 ms") << 150;
}

void TestBoardNoise::gapsStayAroundTheMean()
{
    QFETCH(int, everyMs);
    const microseconds every = milliseconds(everyMs); // halves of 1 ms stay exact
    LineNoise noise(milliseconds(everyMs), 11, Clock::time_point{});
    Clock::time_point last{};
    Clock::duration shortest = Clock::duration::max(), longest{}, total{};
    const int draws = 2000;
    for (int i = 0; i < draws; ++i) {
        const Clock::duration gap = noise.nextAt() - last;
        shortest = std::min(shortest, gap);
        longest = std::max(longest, gap);
        total += gap;
        last = noise.nextAt();
        QVERIFY(noise.take(last).has_value());
    }
    QVERIFY(shortest >= every / 2);
    QVERIFY(longest <= every * 3 / 2);
    // Both ends of the range are reached, so the moments are not a fixed beat.
    QVERIFY(longest - shortest > every / 2);
    const double mean = duration<double, std::milli>(total).count() / draws;
    QVERIFY2(std::abs(mean - everyMs) < everyMs * 0.05, qPrintable(QString::number(mean)));
}

void TestBoardNoise::bytesSpreadOverAllValues()
{
    const QByteArray bytes = punctualBytes(milliseconds(5), 1, 4000);
    QSet<char> seen(bytes.cbegin(), bytes.cend());
    // The protocol's own codes must come up as well, or the noise would never imitate a reply.
    for (char code : {char(0x01), char(0x02), char(0x03), char(0x04), char(0x06), char(0xFF), char(0x00)})
        QVERIFY2(seen.contains(code), qPrintable(QString::number(quint8(code))));
    QVERIFY(seen.size() > 240);
}

void TestBoardNoise::nothingBeforeItsMoment()
{
    LineNoise noise(milliseconds(30), 5, Clock::time_point{});
    const Clock::time_point due = noise.nextAt();
    QVERIFY(!noise.take(due - microseconds(1)));
    QCOMPARE(noise.nextAt(), due);
    QVERIFY(noise.take(due));
    QVERIFY(noise.nextAt() > due);
}

void TestBoardNoise::aLateLoopSendsOneByteOnly()
{
    const milliseconds every(10);
    LineNoise noise(every, 9, Clock::time_point{});
    const Clock::time_point late = Clock::time_point{} + every * 100;
    QVERIFY(noise.take(late));
    QVERIFY(!noise.take(late));
    QVERIFY(noise.nextAt() > late);
}

void TestBoardNoise::zeroMeansSilence()
{
    LineNoise noise(milliseconds(0), 1, Clock::time_point{});
    QVERIFY(!noise.enabled());
    QVERIFY(!noise.take(Clock::time_point{} + hours(1)));
}

void TestBoardNoise::boardSendsTheSeededNoise()
{
    BoardProcess board;
    const QString device = board.start({QStringLiteral("--garbage-every"), QStringLiteral("5"),
                                        QStringLiteral("--garbage-seed"), QStringLiteral("42")});
    QVERIFY(!device.isEmpty());
    QSerialPort port;
    port.setPortName(device);
    port.setBaudRate(19200);
    QVERIFY(port.open(QIODevice::ReadWrite));
    QByteArray got;
    while (got.size() < 40 && port.waitForReadyRead(5000))
        got += port.readAll();
    QVERIFY2(got.size() >= 40, qPrintable(QString::number(got.size())));
    // Bytes sent before the port opened may be gone, so what arrives is a run of the model's
    // sequence, not necessarily its start.
    const QByteArray model = punctualBytes(milliseconds(5), 42, 4000);
    QVERIFY2(model.contains(got), got.toHex(' ').constData());

    // The kernel still answers among the noise.
    port.write(QByteArray(1, 0x01));
    QByteArray answer;
    while (!answer.contains(QByteArray::fromHex("01010000")) && port.waitForReadyRead(5000))
        answer += port.readAll();
    QVERIFY2(answer.contains(QByteArray::fromHex("01010000")), answer.toHex(' ').constData());
}

void TestBoardNoise::noiseWhileTheHostIsAwayIsLost()
{
    BoardProcess board;
    const QString device = board.start({QStringLiteral("--garbage-every"), QStringLiteral("5"),
                                        QStringLiteral("--garbage-seed"), QStringLiteral("42")});
    QVERIFY(!device.isEmpty());
    const QByteArray model = punctualBytes(milliseconds(5), 42, 20000);
    const auto readRun = [&device](QSerialPort &port) {
        port.setPortName(device);
        port.setBaudRate(19200);
        QByteArray got;
        if (!port.open(QIODevice::ReadWrite))
            return got;
        while (got.size() < 16 && port.waitForReadyRead(5000))
            got += port.readAll();
        port.close();
        return got;
    };
    QSerialPort port;
    const QByteArray before = readRun(port);
    QVERIFY(before.size() >= 16);
    // Located by their last bytes only: on a slow machine the board may have taken the host
    // for gone for a moment during the first read.
    const qsizetype last = model.indexOf(before.right(6));
    QVERIFY(last >= 0);
    const qsizetype end = last + 6;
    // Away for about twenty bytes' time, well inside the board's hang-up grace.
    QTest::qWait(100);
    const QByteArray after = readRun(port);
    QVERIFY(after.size() >= 16);
    const qsizetype resumed = model.indexOf(after.left(6), end);
    QVERIFY2(resumed > end, qPrintable(QStringLiteral("resumed at %1, left at %2").arg(resumed).arg(end)));
}

void TestBoardNoise::helpNamesTheNoiseOptions()
{
    QProcess board;
    board.start(QStringLiteral(CORVADE_BOARD_PATH), {QStringLiteral("--help")});
    QVERIFY(board.waitForFinished(10000));
    const QByteArray help = board.readAllStandardOutput();
    QVERIFY(help.contains("--garbage-every <ms>"));
    QVERIFY(help.contains("--garbage-seed <n>"));
}

QTEST_GUILESS_MAIN(TestBoardNoise)
#include "tst_board_noise.moc"
