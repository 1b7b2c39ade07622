#pragma once
#include "hexfile/HexRecords.h"
#include "hexfile/HexSummary.h"
#include "link/LinkHandler.h"

#include <QString>

#include <functional>

class LinkDispatcher;
class StatusSink;

// Value 0..255 of a two-character hexadecimal pair. The text is replaced by its upper-case
// form. A digit that is not hexadecimal (or missing) counts as 0, and a one-character text
// is read as a pair of that character, so "7" gives 0x77.
int hexByteValue(QString &text);

// The one loaded HEX file: its path and its record lines, kept as text exactly as read, in
// file order. The same class carries the download to the kernel, which sends these lines.
//
// A line is accepted when it is one whole record: a ":" followed by hexadecimal pairs only, as
// many as its byte count announces, adding up to zero modulo 256. Beyond that the kernel
// interprets the record types; the reader only asks for at least one data byte in the file.
//
// The download is stop-and-wait: the start byte 0x02, then one record line (no line end)
// for every acknowledgement 0x02 of the kernel. 0x03 ends it with success, 0x04 and 0x05
// ask for the last line again, anything else is a refusal.
class HexFile : public LinkHandler {
public:
    // Result codes of readHexFile and checkRecord. A positive code is the errno of a failed
    // open or read, except that a missing file is reported as FileNotFound.
    enum Result : int {
        Ok = 0,
        NoColon = -1,
        ChecksumError = -2,
        NoPath = -3,
        FileNotFound = 53,
        // readHexFile only: a download is sending the records, which must not change under it.
        Downloading = -5,
        // readHexFile only: every line is a good record, but none holds a byte of data.
        NoData = -6,
        // readHexFile only: an earlier read has not finished yet.
        Reading = -7,
    };

    // Values of Error.
    enum DownloadError : int {
        NoError = 0,
        ResendAsked04 = -1,
        ResendAsked05 = -2,
        Aborted = -4,
    };

    static constexpr char kStart = 0x02;
    static constexpr char kAccepted = 0x02;
    static constexpr char kComplete = 0x03;
    static constexpr char kResend04 = 0x04;
    static constexpr char kResend05 = 0x05;

    // Longer lines are refused without being read further; the longest record, of 255 data
    // bytes, is 521 characters.
    static constexpr int MaxLineLength = 4096;

    explicit HexFile(StatusSink *status = nullptr);

    QString path() const { return m_path; }
    void setPath(const QString &path) { m_path = path; }

    // Record line `index` as read (no line end), position 0 being the file's first record.
    QByteArray record(int index) const { return m_records.at(index).toByteArray(); }
    int recordCount() const { return m_records.size(); }
    // What the records of the last read put where.
    const HexSummary &summary() const { return m_summary; }

    // Bytes of the board's code memory, for the summary's warning; 64 KB unless set.
    void setCodeMemorySize(std::function<qint64()> bytes) { m_codeMemorySize = std::move(bytes); }
    qint64 codeMemorySize() const { return m_codeMemorySize ? m_codeMemorySize() : 64 * 1024; }

    void setStatusSink(StatusSink *status) { m_status = status; }

    // Reads and checks the file at path, appending "Reading Hex file" and one "." per
    // accepted record to the status log. Lines end at CR or CR LF; a lone LF does not end a
    // line. On a failed line the lines before it stay in the list. A file without a data
    // record fails with NoData, its records kept.
    // On the application's thread the reading runs on a thread of its own while this one
    // waits in a nested event loop, so the window paints and answers meanwhile; the dots
    // arrive as the reading goes on. Meanwhile there are no records, and send() refuses.
    int readHexFile();
    int readHexFile(StatusSink &status);
    bool isReading() const { return m_reading; }

    // True when the file at path() is, as far as its size, times and identity tell, the one
    // the last successful read read. A file changed in the same moment it was read does not
    // count as unchanged: coarse file times could not tell the two versions apart.
    bool isUnchangedSinceRead() const;

    // After a read that failed on a line (NoColon, ChecksumError): its 1-based number, and
    // whether it held a lone LF, the sign of a file whose lines end the Unix way. 0 and false
    // after any other outcome.
    int errorLine() const { return m_errorLine; }
    bool errorLineHasLf() const { return m_errorLineHasLf; }

    // A line that starts with ":" but is not one whole record of hexadecimal pairs, or is
    // longer than MaxLineLength, fails as a checksum error.
    static int checkRecord(QByteArrayView record);

    // Description of a positive result code, for the status line.
    static QString errorText(int code);

    // Runs one whole transfer of the records on `link`, where this object must already be
    // the current handler. Writes "Downloading hexfile", one "." per record sent and one
    // "E" per resend, then "Ok" or the three abort lines. Sleeps in the dispatcher's wait
    // between transmissions. True when the transfer ended without error.
    // `progress` is told the number of records sent so far whenever it grows.
    bool send(LinkDispatcher &link, const std::function<void(int sent)> &progress = {});

    // Only the first byte of a delivery counts.
    void receive(const QByteArray &bytes) override;
    int packetsToReceive() const override { return recordCount() + 1; }
    // Time-out, failed write, lost line: the transfer is to be given up.
    void onRequestAborted() override { m_error = Aborted; }

    int error() const { return m_error; }
    void setError(int error) { m_error = error; }
    // 1-based position of the record last written; 0 outside a transfer.
    int sentCount() const { return m_sentCount; }
    bool isDownloading() const { return m_downloading; }

    static QString abortText() { return QStringLiteral("Abort"); }
    static QString transmissionErrorText()
    {
        return QStringLiteral("ERROR: Transmission error. Check the cable, reset the 8051 and try again");
    }
    static QString notDownloadedText() { return QStringLiteral("ERROR: The file was not downloaded"); }

private:
    bool transfer(LinkDispatcher &link, const std::function<void(int)> &progress);

    QString m_path;
    HexRecords m_records;
    HexSummary m_summary;
    StatusSink *m_status;
    std::function<qint64()> m_codeMemorySize;
    int m_errorLine = 0;
    bool m_errorLineHasLf = false;
    bool m_reading = false;
    // Identity, size and times of the file the last successful read read; empty otherwise.
    QByteArray m_readStamp;

    // Counters are plain ints: files of far more than 32,767 records go through whole.
    int m_error = NoError;
    int m_sentCount = 0;
    bool m_downloading = false;
};
