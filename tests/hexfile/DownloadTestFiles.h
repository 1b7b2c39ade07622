#pragma once
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

// Intel HEX lines for download tests: data records of 16 bytes with a correct checksum.
inline QString dataRecord(int index)
{
    const int address = (index * 16) & 0xFFFF;
    QByteArray bytes;
    bytes.append(char(16));
    bytes.append(char(address >> 8));
    bytes.append(char(address & 0xFF));
    bytes.append(char(0));
    for (int i = 0; i < 16; ++i)
        bytes.append(char((index * 7 + i * 13) & 0xFF));
    unsigned sum = 0;
    for (char b : bytes)
        sum += quint8(b);
    bytes.append(char((0x100 - (sum & 0xFF)) & 0xFF));
    return QLatin1Char(':') + QString::fromLatin1(bytes.toHex().toUpper());
}

inline QString endRecord() { return QStringLiteral(":00000001FF"); }

inline QStringList dataRecords(int count, bool withEnd)
{
    QStringList lines;
    lines.reserve(count + 1);
    for (int i = 0; i < count; ++i)
        lines << dataRecord(i);
    if (withEnd)
        lines << endRecord();
    return lines;
}

// Writes the lines with CR LF, as the reader expects them; false when the file cannot be written.
inline bool writeHexFile(const QString &path, const QStringList &lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray text;
    for (const QString &line : lines)
        text += line.toLatin1() + "\r\n";
    return file.write(text) == text.size();
}
