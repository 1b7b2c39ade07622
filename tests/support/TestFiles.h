#pragma once
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Writes a file whole; false when it cannot be written.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// A temporary folder whose files a test writes by name.
class TestFolder {
public:
    QString file(const QString &name, const QByteArray &content)
    {
        const QString path = m_dir.filePath(name);
        if (!writeFile(path, content))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An Intel HEX record with a correct checksum for the given data bytes.
inline QByteArray hexRecord(int address, int type, const QByteArray &data)
{
    QByteArray body;
    body.append(char(data.size()));
    body.append(char(address >> 8));
    body.append(char(address & 0xFF));
    body.append(char(type));
    body.append(data);
    unsigned sum = 0;
    for (char c : body)
        sum += quint8(c);
    body.append(char((0x100 - (sum & 0xFF)) & 0xFF));
    return ':' + body.toHex().toUpper();
}

// Data record number `index` of a download test file: 16 bytes that differ from record to record.
inline QString dataRecord(int index)
{
    QByteArray data;
    for (int i = 0; i < 16; ++i)
        data.append(char((index * 7 + i * 13) & 0xFF));
    return QString::fromLatin1(hexRecord((index * 16) & 0xFFFF, 0, data));
}

inline QString endRecord() { return QStringLiteral(":00000001FF"); }

inline QStringList dataRecords(int count, bool withEnd)
{
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << dataRecord(i);
    if (withEnd)
        lines << endRecord();
    return lines;
}

// The lines with CR LF, as the reader expects them.
inline bool writeHexFile(const QString &path, const QStringList &lines)
{
    QByteArray text;
    for (const QString &line : lines)
        text += line.toLatin1() + "\r\n";
    return writeFile(path, text);
}
