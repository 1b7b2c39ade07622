// Step by step beside s51 (Debian's sdcc-ucsim, from the README's test command): alu.asm walks the ALU, bit and
// data-moving instructions over many operands, off the serial port (s51 raises TI late) and s51's other faults.
#include "mcs51/Cpu.h"
#include "mcs51/HexImage.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QtTest>

class TestS51 : public QObject {
    Q_OBJECT
private slots:
    void sameStepByStep();
};

void TestS51::sameStepByStep()
{
    // Commands typed on stdin come back out of order: a script. s51 fills the RAMs with noise.
    const int steps = 30000;
    QTemporaryFile script;
    QVERIFY(script.open());
    script.write("file \"" ALU_HEX "\"\nfill iram 0 0xff 0\nfill xram 0 0xffff 0\n"
                 + QByteArray("step\n").repeated(steps));
    script.flush();
    QProcess s51;
    s51.start(QStringLiteral("s51"), {"-q", "-b", "-t", "8052", "-X", "11.0592M", "-C", script.fileName()});
    QVERIFY2(s51.waitForStarted(10000), "s51 is missing: install Debian's sdcc-ucsim (scripts/install-deps.sh)");
    s51.closeWriteChannel();
    QVERIFY(s51.waitForFinished(600000));
    QFile hex(QStringLiteral(ALU_HEX));
    QVERIFY(hex.open(QIODevice::ReadOnly));
    mcs51::Cpu cpu;
    mcs51::HexImage::parse(hex.readAll().toStdString()).value().loadAndReset(cpu);
    // After each step s51 prints where it stopped, the ticks (12 a machine cycle), R0-R7, ACC, B,
    // PSW, SP, DPTR. Not P: s51 keeps a written P until A changes; on the chip P follows A.
    static const QRegularExpression stop(
        "Stop at 0x([0-9a-f]+):.*stepped (\\d+) ticks\\n.*\\n\\s+((?:[0-9a-f]{2} ){7}[0-9a-f]{2})\\s*\\n.*ACC= 0x(..)"
        ".*B= 0x(..)\\n.*PSW= 0x(..).*\\nSP 0x(..).*\\n\\s+DPTR= 0x(....)");
    const char *format = "%04x %s %02x %02x %02x %02x %04x %llu";
    quint64 ticks = 0;
    int step = 0;
    for (auto it = stop.globalMatch(QString::fromLatin1(s51.readAllStandardOutput())); it.hasNext(); ++step) {
        const QRegularExpressionMatch m = it.next();
        const auto x = [&m](int i) { return m.captured(i).toUInt(nullptr, 16); };
        ticks += m.captured(2).toULongLong();
        const QString theirs = QString::asprintf(format, x(1), qPrintable(m.captured(3)), x(4), x(5), x(6) & 0xFE,
                                                 x(7), x(8), ticks / 12);
        cpu.step();
        QString regs;
        for (int r = 0; r < 8; ++r)
            regs += QString::asprintf(r ? " %02x" : "%02x", cpu.reg(r));
        const QString ours = QString::asprintf(format, cpu.pc(), qPrintable(regs), cpu.a(), cpu.b(), cpu.psw() & 0xFE,
                                               cpu.sp(), cpu.dptr(), qulonglong(cpu.cycles()));
        QVERIFY2(ours == theirs, qPrintable(QStringLiteral("step %1: s51 %2, ours %3").arg(step).arg(theirs, ours)));
    }
    QCOMPARE(step, steps);
}

QTEST_GUILESS_MAIN(TestS51)
#include "tst_s51.moc"
