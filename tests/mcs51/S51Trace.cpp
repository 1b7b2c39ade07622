#include "S51Trace.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryFile>

QString TraceRow::text() const
{
    QString s = QString::asprintf("%04x %02x %02x %02x %02x %02x %04x", pc, op, a, b, psw, sp, dptr);
    for (quint8 v : r)
        s += QString::asprintf(" %02x", v);
    return s + QStringLiteral(" %1").arg(cycles);
}

bool TraceRow::sameState(const TraceRow &o) const
{
    return pc == o.pc && op == o.op && sameRegisters(o);
}

bool TraceRow::sameRegisters(const TraceRow &o) const
{
    // P is left out: after a byte write to PSW (MOV, POP, ...) s51 keeps the
    // written P until A changes, while on an 8051 P always follows A, which
    // our core does by construction (Cpu::psw()). test_mcs51_instructions checks it.
    return a == o.a && b == o.b && (psw & 0xFE) == (o.psw & 0xFE) && sp == o.sp && dptr == o.dptr
        && std::equal(r, r + 8, o.r);
}

namespace {

// The state s51 prints after each step, plus the instruction it will run next.
struct Snapshot
{
    TraceRow regs;
    bool havePc = false;
    quint16 nextPc = 0;
    quint8 nextOp = 0;
    quint64 ticks = 0; // oscillator periods so far
};

QVector<Snapshot> parseConsole(const QString &out)
{
    static const QRegularExpression stopRe(QStringLiteral("^Stop at 0x[0-9a-f]+: \\(\\d+\\) .*stepped (\\d+) ticks"));
    static const QRegularExpression rHeadRe(QStringLiteral("^\\s+R0 R1 R2 R3 R4 R5 R6 R7\\s*$"));
    static const QRegularExpression rValRe(QStringLiteral("^\\s+((?:[0-9a-f]{2} ){7}[0-9a-f]{2})\\s*$"));
    static const QRegularExpression accRe(QStringLiteral("ACC= 0x([0-9a-f]{2}).*B= 0x([0-9a-f]{2})"));
    static const QRegularExpression pswRe(QStringLiteral("PSW= 0x([0-9a-f]{2})"));
    static const QRegularExpression spRe(QStringLiteral("^SP 0x([0-9a-f]{2})"));
    static const QRegularExpression dptrRe(QStringLiteral("^\\s+DPTR= 0x([0-9a-f]{4})"));
    // "0x0009  ? 12 00 fa LCALL ..." ; label lines "0x0000    <.reset>:" carry no bytes.
    static const QRegularExpression insnRe(QStringLiteral("^0x([0-9a-f]{4,6})\\s+(?:[?F]+\\s+)?([0-9a-f]{2})\\s"));

    QVector<Snapshot> snaps;
    Snapshot cur;
    quint64 ticks = 0;
    enum { Idle, WantR, InBlock } state = Idle;
    const QStringList lines = out.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        QRegularExpressionMatch m = stopRe.match(line);
        if (m.hasMatch()) {
            ticks += m.captured(1).toULongLong();
            continue;
        }
        if (rHeadRe.match(line).hasMatch()) {
            cur = Snapshot();
            state = WantR;
            continue;
        }
        if (state == WantR) {
            m = rValRe.match(line);
            if (m.hasMatch()) {
                const QStringList v = m.captured(1).split(QLatin1Char(' '));
                for (int i = 0; i < 8; ++i)
                    cur.regs.r[i] = quint8(v[i].toUInt(nullptr, 16));
                state = InBlock;
            }
            continue;
        }
        if (state != InBlock)
            continue;
        if ((m = accRe.match(line)).hasMatch()) {
            cur.regs.a = quint8(m.captured(1).toUInt(nullptr, 16));
            cur.regs.b = quint8(m.captured(2).toUInt(nullptr, 16));
        }
        if ((m = pswRe.match(line)).hasMatch())
            cur.regs.psw = quint8(m.captured(1).toUInt(nullptr, 16));
        if ((m = spRe.match(line)).hasMatch())
            cur.regs.sp = quint8(m.captured(1).toUInt(nullptr, 16));
        if ((m = dptrRe.match(line)).hasMatch())
            cur.regs.dptr = quint16(m.captured(1).toUInt(nullptr, 16));
        if ((m = insnRe.match(line)).hasMatch()) {
            cur.nextPc = quint16(m.captured(1).toUInt(nullptr, 16));
            cur.nextOp = quint8(m.captured(2).toUInt(nullptr, 16));
            cur.ticks = ticks;
            snaps.append(cur);
            state = Idle;
        }
    }
    return snaps;
}

} // namespace

QVector<TraceRow> s51Trace(const QString &hexPath, int count, const QString &cpuType,
                           const QString &crystal, QString *error)
{
    // Commands typed on stdin are echoed out of order with the results, so
    // the commands go in a script file (-C), which also loads the program.
    QString script = QStringLiteral("file \"%1\"\nfill iram 0 0xff 0\nfill xram 0 0xffff 0\ninfo registers\n")
                         .arg(hexPath);
    for (int i = 0; i < count; ++i)
        script += QStringLiteral("step\n");
    script += QStringLiteral("quit\n");
    QTemporaryFile scriptFile;
    if (!scriptFile.open() || scriptFile.write(script.toLocal8Bit()) < 0 || !scriptFile.flush()) {
        *error = QStringLiteral("cannot write the s51 command script");
        return {};
    }

    QProcess s51;
    s51.setStandardInputFile(QProcess::nullDevice());
    s51.start(QStringLiteral("s51"), {QStringLiteral("-q"), QStringLiteral("-b"), QStringLiteral("-t"), cpuType,
                                      QStringLiteral("-X"), crystal, QStringLiteral("-C"), scriptFile.fileName()});
    if (!s51.waitForStarted(10000)) {
        *error = QStringLiteral("s51 did not start (%1); install it with the README's test command").arg(s51.errorString());
        return {};
    }
    QByteArray out;
    while (s51.state() != QProcess::NotRunning) {
        s51.waitForReadyRead(1000);
        out += s51.readAllStandardOutput();
    }
    out += s51.readAllStandardOutput();

    const QVector<Snapshot> snaps = parseConsole(QString::fromLatin1(out));
    if (snaps.size() != count + 1) {
        *error = QStringLiteral("s51 gave %1 register blocks for %2 steps").arg(snaps.size()).arg(count);
        return {};
    }
    QVector<TraceRow> rows;
    rows.reserve(count);
    for (int i = 1; i < snaps.size(); ++i) {
        TraceRow row = snaps[i].regs;
        row.pc = snaps[i - 1].nextPc;
        row.op = snaps[i - 1].nextOp;
        row.cycles = (snaps[i].ticks - snaps[0].ticks) / 12;
        rows.append(row);
    }
    return rows;
}

QVector<TraceRow> coreTrace(mcs51::Cpu &cpu, int count)
{
    QVector<TraceRow> rows;
    rows.reserve(count);
    const quint64 start = cpu.cycles();
    quint32 interrupts = 0;
    bool foldNext = false;
    while (rows.size() < count) {
        TraceRow row;
        row.pc = cpu.pc();
        row.op = cpu.code(cpu.pc());
        row.operand = cpu.code(quint16(cpu.pc() + 1));
        const quint64 before = cpu.instructions();
        cpu.step();
        const bool entry = cpu.instructions() == before;
        if (entry) {
            ++interrupts;
            foldNext = true;
        }
        row.a = cpu.a();
        row.b = cpu.b();
        row.psw = cpu.psw();
        row.sp = cpu.sp();
        row.dptr = cpu.dptr();
        for (int i = 0; i < 8; ++i)
            row.r[i] = cpu.reg(i);
        row.cycles = cpu.cycles() - start;
        row.interrupts = interrupts;
        if ((entry || (foldNext && !entry)) && !rows.isEmpty()) {
            if (!entry)
                foldNext = false;
            TraceRow &last = rows.last();
            const quint16 pc = last.pc;
            const quint8 op = last.op;
            const quint8 operand = last.operand;
            last = row;
            last.pc = pc;
            last.op = op;
            last.operand = operand;
            continue;
        }
        foldNext = false;
        rows.append(row);
    }
    return rows;
}

Alignment alignTraces(const QVector<TraceRow> &ref, const QVector<TraceRow> &ours, double bitCycles)
{
    Alignment result;
    auto fail = [&](int at, const QString &why) {
        result.refAt = at;
        result.why = why;
        return result;
    };
    auto ourCycles = [&](int j) { return qint64(ours[j].cycles) - qint64(ours[j].interrupts); };
    // The longest instruction: an interrupt is taken after the one it falls in.
    constexpr qint64 kLongest = 4;
    qint64 offset = 0; // s51's count less ours on rows that match
    int i = 0, j = 0;
    while (i < ref.size() && j < ours.size()) {
        if (ref[i].sameState(ours[j])) {
            if (qint64(ref[i].cycles) - ourCycles(j) != offset)
                return fail(i, QStringLiteral("cycle count, %1 apart where %2 was expected")
                                   .arg(qint64(ref[i].cycles) - ourCycles(j))
                                   .arg(offset));
            ++i;
            ++j;
            continue;
        }
        if (i == 0 || j == 0)
            return fail(i, QStringLiteral("state"));
        // The wait loop both sides ran until here: the last matched rows that
        // changed no register, and the addresses they ran.
        const TraceRow &last = ours[j - 1];
        QVector<quint16> loop;
        qint64 pass = kLongest;
        for (int k = j - 1; k >= 0 && k >= j - 8 && ours[k].sameRegisters(last); --k) {
            if (k < j - 1 && ours[k].pc == last.pc && pass == kLongest)
                pass = qint64(last.cycles - ours[k].cycles);
            loop.append(ours[k].pc);
        }
        auto idle = [&](const TraceRow &row) { return row.sameRegisters(last) && loop.contains(row.pc); };
        int k = i;
        while (k < ref.size() && !ref[k].sameState(ours[j]) && idle(ref[k]))
            ++k;
        int l = j;
        while (l < ours.size() && !ours[l].sameState(ref[i]) && idle(ours[l]))
            ++l;
        const bool refWaitsLonger = k < ref.size() && ref[k].sameState(ours[j]);
        const bool oursWaitsLonger = l < ours.size() && ours[l].sameState(ref[i]);
        const bool tiPoll = (last.op == 0x10 || last.op == 0x20 || last.op == 0x30) && last.operand == 0x99;

        if (tiPoll && k == ref.size())
            return result; // s51's trace ends while it still waits for TI
        if (tiPoll && refWaitsLonger) {
            const qint64 gain = qint64(ref[k].cycles) - ourCycles(j) - offset;
            result.tiGains.append(gain);
            if (gain < 0 || double(gain) >= bitCycles + double(pass))
                return fail(i, QStringLiteral("TI %1 cycles earlier than s51's; the frame's timing allows 0 to %2")
                                   .arg(gain)
                                   .arg(bitCycles + double(pass)));
            ++result.tiWaits;
            offset += gain;
            i = k;
            continue;
        }
        // After a gain, an interrupt ends an idle loop at the same moment in both.
        const int entry = oursWaitsLonger ? l : j;
        if (result.tiWaits > 0 && (oursWaitsLonger || refWaitsLonger) && entry > 0
            && ours[entry].interrupts > ours[entry - 1].interrupts) {
            const int refEntry = oursWaitsLonger ? i : k;
            const qint64 now = qint64(ref[refEntry].cycles) - ourCycles(entry);
            if (qAbs(now) > kLongest)
                return fail(i, QStringLiteral("interrupt %1 cycles apart in the two").arg(now));
            ++result.regained;
            offset = now;
            i = refEntry;
            j = entry;
            continue;
        }
        return fail(i, QStringLiteral("state"));
    }
    return result;
}
