#pragma once
#include <QString>
#include <QStringList>

class StatusSink;

// Value 0..255 of a two-character hexadecimal pair. The text is replaced by its upper-case
// form. A digit that is not hexadecimal (or missing) counts as 0, and a one-character text
// is read as a pair of that character, so "7" gives 0x77.
int HexByteValue(QString &text);

// The one loaded HEX file: its path and its record lines, kept as text exactly as read, in
// file order. The same class carries the download to the kernel, which sends these lines.
//
// Records are not parsed: a line is accepted when it starts with ":" and its hexadecimal
// pairs add up to zero modulo 256. The kernel interprets the record types.
class clsDownloadHexFile {
public:
    // Result codes of ReadHexFile and CheckRecord. A positive code is the errno of a failed
    // open or read, except that a missing file is reported as FileNotFound.
    enum Result : int {
        Ok = 0,
        NoColon = -1,
        ChecksumError = -2,
        NoPath = -3,
        FileNotFound = 53,
    };

    // Longer lines are refused without being read further. A record of 255 data bytes is
    // 521 characters; the margin leaves room for trailing blanks and the like.
    static constexpr int MaxLineLength = 4096;

    explicit clsDownloadHexFile(StatusSink *status = nullptr);

    QString Path() const { return m_path; }
    void setPath(const QString &Path) { m_path = Path; }

    // Record lines, position 0 here being the file's first record.
    const QStringList &Records() const { return m_records; }
    int RecordCount() const { return int(m_records.size()); }

    void setStatusSink(StatusSink *status) { m_status = status; }

    // Reads and checks the file at Path, appending "Reading Hex file" and one "." per
    // accepted record to the status log. Lines end at CR or CR LF; a lone LF does not end a
    // line. On a failed line the lines before it stay in the list.
    int ReadHexFile();
    int ReadHexFile(StatusSink &status);

    // Lines holding control characters (other than tab) or longer than MaxLineLength are not
    // HEX text and fail as checksum errors once they start with ":".
    static int CheckRecord(const QString &LRecord);

    // Description of a positive result code, for the status line.
    static QString ErrorText(int code);

private:
    QString m_path;
    QStringList m_records;
    StatusSink *m_status;
};
