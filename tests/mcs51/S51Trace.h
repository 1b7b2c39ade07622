#pragma once

#include "mcs51/Cpu.h"

#include <QString>
#include <QVector>

// One executed instruction and the state after it, as both simulators report it.
struct TraceRow
{
    quint16 pc = 0; // address of the executed instruction
    quint8 op = 0;
    quint8 operand = 0; // the byte after the opcode (our core only)
    quint8 a = 0, b = 0, psw = 0, sp = 0;
    quint16 dptr = 0;
    quint8 r[8] = {};
    quint64 cycles = 0; // machine cycles since the start, this instruction included
    quint32 interrupts = 0; // interrupt entries so far (our core only)

    QString text() const;
    bool sameState(const TraceRow &other) const; // everything but the cycle count
    bool sameRegisters(const TraceRow &other) const; // ... and but the instruction
};

// Runs the reference simulator s51 as a child process on an Intel HEX file
// and steps it `count` times from reset, with internal and external RAM
// cleared first (s51 fills them with noise). cpuType is s51's -t value.
// On failure the result is empty and *error says why.
QVector<TraceRow> s51Trace(const QString &hexPath, int count, const QString &cpuType,
                           const QString &crystal, QString *error);

// The same trace from our core. s51 runs the entry into an interrupt routine
// and the first instruction there (the jump at the vector) within the step of
// the instruction before, so they are folded into that row.
QVector<TraceRow> coreTrace(mcs51::Cpu &cpu, int count);

// How the traces were brought into line across s51's late TI (see alignTraces).
struct Alignment
{
    int refAt = -1;    // s51's row of the first unexplained difference; -1 if none
    QString why;       // what was wrong there
    int tiWaits = 0;   // TI waits s51 left later than our core
    int regained = 0;  // waits ended by an interrupt, where the times agree again
    QVector<qint64> tiGains; // cycles each TI wait ended earlier in our core
};

// Compares `ref` (s51's trace) with ours row by row: the state exactly and
// the cycle count up to an offset. s51 counts one machine cycle for the entry
// into an interrupt routine; the data sheet's hardware LCALL takes two, as
// ours does, so our count is taken less one cycle per interrupt.
//
// s51 raises TI only after the stop bit, where the data sheet says TI "is set
// by hardware ... at the beginning of the stop bit", and starts a frame at the
// SBUF write instead of at the next bit time. So a program polling TI leaves
// its wait loop up to one bit time (bitCycles) earlier in our core. Where the
// traces part at an instruction that tests TI, s51's extra passes through the
// loop are skipped (they must change no register and run only addresses the
// loop ran before) and the offset grows by at least 0 and less than a bit time
// and a pass. Any other parting is a fault, except one: after such a gain
// both may wait in an idle loop until an interrupt of a timer that was
// already running, which comes at the same moment in both, so there the loop
// passes of either side are skipped and the offset must drop back to within
// one instruction of 0.
Alignment alignTraces(const QVector<TraceRow> &ref, const QVector<TraceRow> &ours, double bitCycles);
