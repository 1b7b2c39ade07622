#pragma once
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

// What a loaded HEX file puts where: gathered record by record while the file is checked,
// and told to the user in one line after a successful load.
class HexSummary {
public:
    // Addresses first..last, both included.
    struct Range {
        quint32 first;
        quint32 last;
    };

    // One record line that passed the check, in file order.
    void addRecord(QByteArrayView record);

    int records() const { return m_records; }
    qint64 dataBytes() const { return m_dataBytes; }
    // Merged and ascending.
    QList<Range> ranges() const;
    std::optional<quint32> startAddress() const { return m_start; }
    // The lowest address of the first record that writes over data written before.
    std::optional<quint32> firstOverlap() const { return m_overlap; }

    // The summary line, then a "WARNING: " line for overlapping records and one for data at
    // or above codeMemoryBytes.
    QStringList lines(qint64 codeMemoryBytes) const;

private:
    void addRange(quint32 first, quint32 last);

    int m_records = 0;
    qint64 m_dataBytes = 0;
    // Upper 16 (record type 04) or segment base (type 02) added to every record's offset.
    quint32 m_base = 0;
    std::optional<quint32> m_start;
    std::optional<quint32> m_overlap;
    // First address of a range to its last; neighbouring ranges are joined.
    std::map<quint32, quint32> m_ranges;
};
