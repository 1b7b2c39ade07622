#pragma once
#include "core/ColorRef.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QIODevice;
class StatusSink;

// The terminal's text: one byte per character (received bytes are Latin-1 characters),
// a table of colour runs and an index of line starts. Appending costs what the piece
// costs; a line is found by number in O(log blocks).
//
// Line ends: CR LF, a lone CR and a lone LF each end a line; LF CR is two line ends.
// A CR at the very end already ends its line; an LF arriving next joins it.
//
// Text lives in blocks of BlockSize bytes. Beyond the memory window the oldest blocks
// (text, runs and line starts) move to a spill file in the cache folder and are read
// back on demand, a few at a time. A spill that fails leaves the block in memory.
// The spill file has no name in the folder and is readable by this process alone: what
// the board sent stays private, and nothing is left behind, even after a crash.
class TerminalStore : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 BlockSize = 64 * 1024;
    static constexpr qint64 DefaultMemoryWindow = 64LL * 1024 * 1024;
    // Blocks read back from the spill file that stay cached.
    static constexpr int LoadedBlockCache = 8;

    struct LineRange {
        qint64 begin = 0;
        qint64 end = 0; // without the line end
    };
    struct Run {
        qint64 begin = 0;
        qint64 end = 0;
        ColorRef color = 0;
    };

    // Appends inside a batch announce themselves once, when the batch ends.
    class Batch {
    public:
        explicit Batch(TerminalStore &store) : m_store(store) { ++m_store.m_batchDepth; }
        ~Batch() { m_store.endBatch(); }
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        TerminalStore &m_store;
    };

    explicit TerminalStore(QObject *parent = nullptr);
    ~TerminalStore() override;

    // Spill failures are reported here as "ERROR: " lines; may be null.
    void setStatusSink(StatusSink *sink) { m_status = sink; }
    // Memory for text, colour runs and line starts kept before the oldest blocks spill (at
    // least one block). Counted in memory, not text: output cut into many colour runs or
    // short lines costs several times its own size.
    void setMemoryWindow(qint64 bytes);
    qint64 memoryWindow() const { return m_windowBytes; }
    // Folder of the spill file; the user's cache folder unless set.
    void setSpillFolder(const QString &folder) { m_spillFolder = folder; }
    // Spill into this device instead of a file (not owned). Tests use it to fail writes.
    void setSpillDevice(QIODevice *device);

    void append(QByteArrayView bytes, ColorRef color);
    // Takes the text back to its first newSize bytes, as if the rest had never been
    // appended (the longest line's length stays). Meant for the end: a cut that reaches
    // into a spilled block reads that block back.
    void truncate(qint64 newSize);
    void clear();

    qint64 size() const { return m_size; }
    qint64 lineCount() const { return m_lineCount; }
    qint64 maxLineLength() const { return m_maxLine; }

    LineRange line(qint64 n) const;
    // The line holding position pos (pos == size() gives the last line).
    qint64 lineAt(qint64 pos) const;
    char at(qint64 pos) const;
    ColorRef colorAt(qint64 pos) const;
    QByteArray text(qint64 begin, qint64 end) const;
    std::vector<Run> runs(qint64 begin, qint64 end) const;
    // Calls fn with consecutive pieces of [begin, end), each in one colour and within one
    // block, in order; stops early and returns false when fn returns false.
    bool forEachPiece(qint64 begin, qint64 end,
                      const std::function<bool(QByteArrayView, ColorRef)> &fn) const;
    // Colours used since the last clear, in order of first use.
    const std::vector<ColorRef> &palette() const { return m_palette; }

    // Bytes held in memory for text, runs, line starts and block bookkeeping.
    qint64 memoryUsage() const;
    qint64 spilledBlocks() const;
    // The open spill file as /proc/self/fd/N (it has no other name); empty when none is open.
    QString spillFileName() const { return m_spillFileName; }

    // Removes named spill files left in folder by processes that are gone (a crash of a
    // version that named them, or one in the instant a named file exists).
    static void removeStaleSpillFiles(const QString &folder);
    static QString defaultSpillFolder();

signals:
    void appended();
    void cleared();

private:
    struct RunEntry {
        quint16 offset;
        quint16 color; // index into m_palette
    };
    struct Data {
        std::unique_ptr<char[]> text;
        std::vector<RunEntry> runs;
        std::vector<quint16> lines; // line starts inside the block
    };
    struct Block {
        qint64 firstLine = 0; // line starts in all blocks before this one
        quint32 size = 0;
        quint32 lineCount = 0;
        quint32 runCount = 0;
        qint64 fileOffset = -1; // where it lies in the spill file, -1 if never spilled
        mutable std::unique_ptr<Data> data;
    };

    void endBatch();
    quint16 paletteIndex(ColorRef color);
    Block &newBlock();
    void pushLineStart(qint64 pos);
    void popLineStart();
    void spillOldBlocks();
    static qint64 blockMemory(const Block &b);
    template <typename T>
    static void trimToSize(std::vector<T> &v);
    bool spillBlock(Block &b);
    bool openSpill();
    void closeOwnSpill();
    // Whole writes and reads at an offset; false with the reason in m_spillError.
    bool spillWrite(qint64 at, const char *data, qint64 n);
    bool spillRead(qint64 at, char *data, qint64 n) const;
    const Data &dataOf(qint64 block) const;
    int runIndexAt(const Data &d, quint32 size, quint32 offset) const;
    void reportError(const QString &text) const;

    std::vector<Block> m_blocks;
    std::vector<ColorRef> m_palette;
    QHash<ColorRef, quint16> m_paletteIndex;
    qint64 m_size = 0;
    qint64 m_lineCount = 0;
    qint64 m_lastLineStart = 0;
    qint64 m_maxLine = 0;
    char m_lastChar = 0;
    qint64 m_windowBytes = DefaultMemoryWindow;
    qint64 m_firstResident = 0; // blocks before it are in the spill file
    qint64 m_residentFull = 0;  // memory of the resident blocks before the newest

    int m_batchDepth = 0;
    bool m_batchAppended = false;

    StatusSink *m_status = nullptr;
    QString m_spillFolder;
    QString m_spillFileName;
    QString m_spillPlace; // the spill file as error messages name it
    int m_spillFd = -1;   // the spill file this store made
    QIODevice *m_spill = nullptr; // or the device it was given
    mutable QString m_spillError;
    qint64 m_spillEnd = 0;
    mutable bool m_errorReported = false;
    mutable std::deque<qint64> m_loaded;
};
