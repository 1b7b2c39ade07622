#pragma once
#include "core/ColorRef.h"
#include "core/SteppedJob.h"
#include "terminal/WriteResult.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QMetaObject>
#include <QSaveFile>
#include <QString>

#include <memory>

class QIODevice;
class TerminalStore;

// "Save Terminal window" writes RTF exactly when the chosen name contains ".rtf" with
// this case, anywhere in it; the dialog's filter plays no part.
bool isRtfFileName(const QString &fileName);

// Turns the store's pieces, in order, into a file's bytes appended to out. What one piece
// leaves open (a CR whose LF comes in the next) carries over to the next.
class TerminalEncoder {
public:
    virtual ~TerminalEncoder() = default;
    virtual void begin(QByteArray &out) = 0;
    virtual void piece(QByteArrayView piece, ColorRef color, QByteArray &out) = 0;
    virtual void end(QByteArray &out) = 0;
};

// The terminal's characters as received, without formatting, each line ended by LF: a
// CR, a lone LF and CR LF all end a line in the terminal.
std::unique_ptr<TerminalEncoder> makeTextEncoder();

// Writes what the store holds when the job is made, one block of it per step. Text the
// terminal receives meanwhile is not written, and moving older text to the spill file
// does not disturb the job; clearing the terminal ends it with a failure.
class TerminalWriteJob : public SteppedJob {
public:
    TerminalWriteJob(const TerminalStore &store, QIODevice &out, std::unique_ptr<TerminalEncoder> encoder);
    ~TerminalWriteJob() override;

    bool step() override;
    qint64 done() const override { return m_pos; }
    qint64 total() const override { return m_end; }
    // The outcome once step() has returned false; on failure the reason for the user.
    const WriteResult &result() const { return m_result; }

private:
    const TerminalStore &m_store;
    QIODevice &m_out;
    std::unique_ptr<TerminalEncoder> m_encoder;
    QMetaObject::Connection m_clearedWatch;
    QByteArray m_buffer;
    qint64 m_pos = 0;
    qint64 m_end = 0;
    bool m_begun = false;
    bool m_cleared = false;
    bool m_finished = false;
    WriteResult m_result;
};

WriteResult writeTerminalText(const TerminalStore &store, QIODevice &out);

// Saves the terminal in the format the file's name asks for, step by step. It writes to
// a temporary file beside the file, which replaces it only when the whole text was
// written: a job destroyed before its end (cancelled) or one that fails leaves the old
// file as it was.
class TerminalSaveJob : public SteppedJob {
public:
    TerminalSaveJob(const TerminalStore &store, const QString &fileName);

    bool step() override;
    qint64 done() const override { return m_write ? m_write->done() : 0; }
    qint64 total() const override { return m_write ? m_write->total() : 0; }
    // The outcome once step() has returned false; a failure names the file.
    const WriteResult &result() const { return m_result; }

private:
    void handOverToDisk();

    QString m_fileName;
    QSaveFile m_file;
    std::unique_ptr<TerminalWriteJob> m_write; // null when the file could not be made
    qint64 m_handedOver = 0; // written bytes given to the disk so far
    qint64 m_waitedFor = 0;  // of them, those the disk has taken
    bool m_running = false;
    WriteResult m_result;
};

// Saves the whole terminal at once; on failure the reason is in the result.
WriteResult saveTerminalFile(const TerminalStore &store, const QString &fileName);
