#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// Value of a hexadecimal digit, 0 for any other character.
inline int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

// Value of the byte at `index` (0 is the byte count) of a record line that passed the check.
inline int recordByte(QByteArrayView record, int index)
{
    return hexDigitValue(record[1 + 2 * index]) * 16 + hexDigitValue(record[2 + 2 * index]);
}

// Record lines as read, in file order, kept as one block of their Latin-1 text and where
// each ends: a large file costs little more than its own size, not a string per line.
class HexRecords {
public:
    int size() const { return int(m_ends.size()); }
    bool isEmpty() const { return m_ends.isEmpty(); }
    QByteArrayView at(int index) const
    {
        const quint32 begin = index == 0 ? 0 : m_ends[index - 1];
        return QByteArrayView(m_text.constData() + begin, m_ends[index] - begin);
    }
    // False, with nothing added, once the text would pass what the line ends can count.
    bool append(QByteArrayView line)
    {
        if (quint64(m_text.size()) + quint64(line.size()) > MaxText)
            return false;
        m_text.append(line);
        m_ends.append(quint32(m_text.size()));
        return true;
    }
    // A text larger than the line ends can count will not be kept; no room is made for it.
    void reserve(qsizetype textBytes)
    {
        if (quint64(textBytes) <= MaxText)
            m_text.reserve(textBytes);
    }

private:
    static constexpr quint64 MaxText = 0xFFFFFFFFu;
    QByteArray m_text;
    QList<quint32> m_ends;
};
