#pragma once

#include "mcs51/Cpu.h"

#include <QString>
#include <QVector>

// One executed instruction and the state after it, as both simulators report it.
struct TraceRow
{
    quint16 pc = 0; // address of the executed instruction
    quint8 op = 0;
    quint8 a = 0, b = 0, psw = 0, sp = 0;
    quint16 dptr = 0;
    quint8 r[8] = {};
    quint64 cycles = 0; // machine cycles since the start, this instruction included
    quint32 interrupts = 0; // interrupt entries so far (our core only)

    QString text() const;
    bool sameState(const TraceRow &other) const; // everything but the cycle count
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

// Index of the first row whose state (or, with cycles, cycle count) differs; -1 if none.
// `ref` is s51's trace. s51 counts one machine cycle for the entry into an
// interrupt routine; the data sheet's hardware LCALL takes two, as ours does,
// so our count is taken less one cycle per interrupt.
int firstDifference(const QVector<TraceRow> &ref, const QVector<TraceRow> &ours, bool compareCycles);
