#include "hexfile/HexSummary.h"

#include "hexfile/HexRecords.h"

#include <QLocale>

#include <iterator>

namespace {

// Byte `index` of a checked record line (0 is the byte count).
quint32 byteAt(QByteArrayView record, int index)
{
    return quint32(recordByte(record, index));
}

quint32 wordAt(QByteArrayView record, int index)
{
    return byteAt(record, index) << 8 | byteAt(record, index + 1);
}

QString address(quint32 a)
{
    return QString::number(a, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

QString rangeText(const HexSummary::Range &r)
{
    return address(r.first) + QLatin1Char('-') + address(r.last);
}

// A file of scattered records could name millions of ranges; the line names the first ones.
QString rangeList(const QList<HexSummary::Range> &ranges)
{
    constexpr int Shown = 16;
    QStringList parts;
    for (qsizetype i = 0; i < ranges.size() && i < Shown; ++i)
        parts << rangeText(ranges[i]);
    QString text = parts.join(QLatin1String(", "));
    if (ranges.size() > Shown)
        text += QStringLiteral(" and %1 more").arg(ranges.size() - Shown);
    return text;
}

QString counted(qint64 n, const char *one)
{
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(n) + QLatin1Char(' ') + QLatin1String(one) + (n == 1 ? "" : "s");
}

constexpr int DataRecord = 0, EndRecord = 1, SegmentAddress = 2, SegmentStart = 3, LinearAddress = 4,
              LinearStart = 5;

} // namespace

void HexSummary::addRecord(QByteArrayView record)
{
    ++m_records;
    const int count = int(byteAt(record, 0));
    const quint32 offset = wordAt(record, 1);
    switch (int(byteAt(record, 3))) {
    case DataRecord: {
        if (count == 0)
            return;
        m_dataBytes += count;
        // The offset wraps round within its 64 KB window, as the loaders of both address
        // record kinds count it.
        const quint32 end = offset + quint32(count) - 1;
        if (end <= 0xFFFF) {
            addRange(m_base + offset, m_base + end);
        } else {
            addRange(m_base + offset, m_base + 0xFFFF);
            addRange(m_base, m_base + end - 0x10000);
        }
        return;
    }
    case SegmentAddress:
        if (count == 2)
            m_base = wordAt(record, 4) << 4;
        return;
    case LinearAddress:
        if (count == 2)
            m_base = wordAt(record, 4) << 16;
        return;
    case SegmentStart:
        if (count == 4)
            m_start = (wordAt(record, 4) << 4) + wordAt(record, 6);
        return;
    case LinearStart:
        if (count == 4)
            m_start = wordAt(record, 4) << 16 | wordAt(record, 6);
        return;
    case EndRecord:
    default:
        return;
    }
}

void HexSummary::addRange(quint32 first, quint32 last)
{
    auto next = m_ranges.upper_bound(first);
    auto joined = next;
    if (next != m_ranges.begin() && quint64(std::prev(next)->second) + 1 >= first) {
        joined = std::prev(next);
        if (joined->second >= first && !m_overlap)
            m_overlap = first;
        joined->second = qMax(joined->second, last);
    } else {
        joined = m_ranges.emplace_hint(next, first, last);
    }
    // Ranges that start inside the joined one or right after it become part of it.
    while (next != m_ranges.end() && quint64(joined->second) + 1 >= next->first) {
        if (next->first <= last && !m_overlap)
            m_overlap = next->first;
        joined->second = qMax(joined->second, next->second);
        next = m_ranges.erase(next);
    }
}

QList<HexSummary::Range> HexSummary::ranges() const
{
    QList<Range> out;
    out.reserve(qsizetype(m_ranges.size()));
    for (const auto &[first, last] : m_ranges)
        out.append(Range{first, last});
    return out;
}

QStringList HexSummary::lines(qint64 codeMemoryBytes) const
{
    const QList<Range> all = ranges();
    QString summary = QStringLiteral("Loaded %1, %2: %3.")
                          .arg(counted(m_records, "record"), counted(m_dataBytes, "data byte"), rangeList(all));
    if (m_start)
        summary += QStringLiteral(" Start address %1.").arg(address(*m_start));
    QStringList out{summary};
    if (m_overlap)
        out << QStringLiteral("WARNING: Records overlap at %1.").arg(address(*m_overlap));

    QList<Range> beyond;
    for (const Range &r : all) {
        if (r.last >= codeMemoryBytes)
            beyond.append(Range{quint32(qMax<qint64>(r.first, codeMemoryBytes)), r.last});
    }
    if (!beyond.isEmpty())
        out << QStringLiteral("WARNING: Data lies beyond the code memory size of %1 KB (at %2).")
                   .arg(codeMemoryBytes / 1024)
                   .arg(rangeList(beyond));
    return out;
}
