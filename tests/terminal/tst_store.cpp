#include "support/FullDevice.h"
#include "core/StatusSink.h"
#include "terminal/TerminalStore.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {
constexpr qint64 B = TerminalStore::BlockSize;

struct RecordingSink : StatusSink {
    QStringList lines;
    void appendStatus(const QString &text, bool) override { lines << text; }
};

QByteArrayList allLines(const TerminalStore &s)
{
    QByteArrayList out;
    for (qint64 i = 0; i < s.lineCount(); ++i) {
        const auto r = s.line(i);
        out << s.text(r.begin, r.end);
    }
    return out;
}

// Text with every kind of line end and a colour per piece, kept alongside as a model.
struct Model {
    QByteArray text;
    std::vector<ColorRef> colors;
    void add(TerminalStore &s, const QByteArray &piece, ColorRef c)
    {
        s.append(piece, c);
        text += piece;
        colors.insert(colors.end(), size_t(piece.size()), c);
    }
};

void fillMixed(TerminalStore &s, Model &m, qint64 bytes, quint32 seed)
{
    QRandomGenerator rng(seed);
    static const char *ends[] = {"\r\n", "\r", "\n", "\n\r"};
    const ColorRef colors[] = {0, 0x0000FF, 0xFF8000, 0x00FF00};
    while (m.text.size() < bytes) {
        QByteArray piece;
        const int len = rng.bounded(1, 300);
        for (int i = 0; i < len; ++i)
            piece += char(rng.bounded(32, 256));
        piece += ends[rng.bounded(4)];
        m.add(s, piece, colors[rng.bounded(4)]);
    }
}

void checkAgainstModel(const TerminalStore &s, const Model &m)
{
    QCOMPARE(s.size(), m.text.size());
    QCOMPARE(s.text(0, s.size()), m.text);
    for (qint64 i = 0; i < m.text.size(); i += 97)
        QCOMPARE(s.colorAt(i), m.colors[size_t(i)]);
    // Lines joined with their own ends give the text back.
    QByteArray rebuilt;
    for (qint64 i = 0; i < s.lineCount(); ++i) {
        const auto r = s.line(i);
        const qint64 next = i + 1 < s.lineCount() ? s.line(i + 1).begin : s.size();
        rebuilt += s.text(r.begin, next);
        const QByteArray end = s.text(r.end, next);
        QVERIFY2(end.isEmpty() || end == "\r\n" || end == "\r" || end == "\n", end.toHex().constData());
    }
    QCOMPARE(rebuilt, m.text);
}
} // namespace

class TestTerminalStore : public QObject {
    Q_OBJECT
private slots:
    void appendsOfEverySize_data()
    {
        QTest::addColumn<QList<qint64>>("sizes");
        QTest::newRow("one byte") << QList<qint64>{1};
        QTest::newRow("empty pieces") << QList<qint64>{0, 3, 0};
        QTest::newRow("block minus one") << QList<qint64>{B - 1, 1, 1};
        QTest::newRow("exact block") << QList<qint64>{B, B};
        QTest::newRow("block plus one") << QList<qint64>{B + 1};
        QTest::newRow("several blocks at once") << QList<qint64>{3 * B + 7, 5};
        QList<qint64> small;
        for (int i = 0; i < 3000; ++i)
            small << (i % 61);
        QTest::newRow("many small") << small;
    }
    void appendsOfEverySize()
    {
        QFETCH(QList<qint64>, sizes);
        TerminalStore s;
        QByteArray expected;
        int k = 0;
        for (qint64 n : sizes) {
            QByteArray piece(n, Qt::Uninitialized);
            for (qint64 i = 0; i < n; ++i)
                piece[i] = char('a' + (k++ % 26));
            s.append(piece, 0);
            expected += piece;
        }
        QCOMPARE(s.size(), expected.size());
        QCOMPARE(s.text(0, s.size()), expected);
        QCOMPARE(s.lineCount(), 1);
        QCOMPARE(s.maxLineLength(), expected.size());
        if (expected.size() > 10)
            QCOMPARE(s.text(5, expected.size() - 5), expected.mid(5, expected.size() - 10));
    }

    void lineIndex_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArrayList>("lines");
        QTest::newRow("empty") << QByteArray() << QByteArrayList{""};
        QTest::newRow("no end") << QByteArray("abc") << QByteArrayList{"abc"};
        QTest::newRow("CR LF") << QByteArray("a\r\nb") << QByteArrayList{"a", "b"};
        QTest::newRow("lone CR") << QByteArray("a\rb") << QByteArrayList{"a", "b"};
        QTest::newRow("lone LF") << QByteArray("a\nb") << QByteArrayList{"a", "b"};
        QTest::newRow("LF CR is two") << QByteArray("a\n\rb") << QByteArrayList{"a", "", "b"};
        QTest::newRow("trailing CR") << QByteArray("a\r") << QByteArrayList{"a", ""};
        QTest::newRow("trailing CR LF") << QByteArray("a\r\n") << QByteArrayList{"a", ""};
        QTest::newRow("CR CR LF") << QByteArray("\r\r\n") << QByteArrayList{"", "", ""};
        QTest::newRow("blank line") << QByteArray("a\r\n\r\nb") << QByteArrayList{"a", "", "b"};
        QTest::newRow("LF LF") << QByteArray("\n\n") << QByteArrayList{"", "", ""};
        QTest::newRow("mixed") << QByteArray("x\ry\nz\r\nw\n\r") << QByteArrayList{"x", "y", "z", "w", "", ""};
    }
    void lineIndex()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArrayList, lines);
        // The same text split at every point into two appends must index alike.
        for (qsizetype cut = 0; cut <= text.size(); ++cut) {
            TerminalStore s;
            s.append(QByteArrayView(text).first(cut), 0);
            s.append(QByteArrayView(text).sliced(cut), 0x123456);
            QCOMPARE(allLines(s), lines);
            for (qint64 pos = 0; pos <= s.size(); ++pos) {
                const qint64 n = s.lineAt(pos);
                QVERIFY(s.line(n).begin <= pos);
                QVERIFY(n + 1 == s.lineCount() || s.line(n + 1).begin > pos);
            }
        }
    }

    void lineEndsAcrossBlocks_data()
    {
        QTest::addColumn<qint64>("pad");
        QTest::addColumn<QByteArray>("ends");
        QTest::addColumn<int>("breaks");
        QTest::newRow("CR LF split by a block edge") << B - 1 << QByteArray("\r\n") << 1;
        QTest::newRow("CR LF ends the block") << B - 2 << QByteArray("\r\n") << 1;
        QTest::newRow("CR ends the block") << B - 1 << QByteArray("\rx") << 1;
        QTest::newRow("LF CR split") << B - 1 << QByteArray("\n\r") << 2;
    }
    void lineEndsAcrossBlocks()
    {
        QFETCH(qint64, pad);
        QFETCH(QByteArray, ends);
        QFETCH(int, breaks);
        for (bool onePiece : {true, false}) {
            TerminalStore s;
            const QByteArray head(pad, 'p');
            if (onePiece) {
                s.append(head + ends + "tail", 0);
            } else {
                s.append(head, 0);
                for (char c : ends)
                    s.append(QByteArray(1, c), 0);
                s.append("tail", 0);
            }
            QCOMPARE(s.lineCount(), breaks + 1);
            QCOMPARE(s.text(s.line(0).begin, s.line(0).end), head);
            const auto last = s.line(s.lineCount() - 1);
            QVERIFY(s.text(last.begin, last.end).endsWith("tail"));
            QCOMPARE(s.size(), pad + ends.size() + 4);
        }
    }

    void colourRuns_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<QList<ColorRef>>("colors");
        QTest::addColumn<int>("runs");
        QTest::newRow("same colour merges") << QByteArrayList{"ab", "cd", "e"} << QList<ColorRef>{5, 5, 5} << 1;
        QTest::newRow("alternating") << QByteArrayList{"a", "b", "c", "d"} << QList<ColorRef>{0, 0xFF, 0, 0xFF} << 4;
        QTest::newRow("three colours") << QByteArrayList{"a", "bb", "ccc"} << QList<ColorRef>{1, 2, 3} << 3;
        QTest::newRow("run across a block edge")
            << QByteArrayList{QByteArray(B - 3, 'x'), QByteArray(10, 'y'), "z"} << QList<ColorRef>{0, 0xFF00, 0} << 3;
    }
    void colourRuns()
    {
        QFETCH(QByteArrayList, pieces);
        QFETCH(QList<ColorRef>, colors);
        QFETCH(int, runs);
        TerminalStore s;
        Model m;
        for (int i = 0; i < pieces.size(); ++i)
            m.add(s, pieces[i], colors[i]);
        const auto rs = s.runs(0, s.size());
        QCOMPARE(int(rs.size()), runs);
        qint64 pos = 0;
        for (const auto &r : rs) {
            QCOMPARE(r.begin, pos);
            QVERIFY(r.end > r.begin);
            for (qint64 i = r.begin; i < r.end; ++i)
                QCOMPARE(m.colors[size_t(i)], r.color);
            pos = r.end;
        }
        QCOMPARE(pos, s.size());
        for (qint64 i = 0; i < s.size(); ++i)
            QCOMPARE(s.colorAt(i), m.colors[size_t(i)]);
        // A range inside one run splits it at the range's edges.
        const auto mid = s.runs(1, s.size() - 1);
        QCOMPARE(mid.front().begin, 1);
        QCOMPARE(mid.back().end, s.size() - 1);
    }

    void spillAndReadBack()
    {
        QTemporaryDir dir;
        RecordingSink sink;
        Model m;
        QString spillName;
        {
            TerminalStore s;
            s.setStatusSink(&sink);
            s.setSpillFolder(dir.path());
            s.setMemoryWindow(2 * B);
            fillMixed(s, m, 12 * B, 7);
            QVERIFY(s.spilledBlocks() >= 9);
            spillName = s.spillFileName();
            QVERIFY(QFile::exists(spillName));
            QVERIFY(s.memoryUsage() < 4 * B + B / 2 + (TerminalStore::LoadedBlockCache) * 2 * B);
            checkAgainstModel(s, m);
            // Reading it all back keeps only a few blocks in memory.
            QVERIFY(s.memoryUsage() < (3 + TerminalStore::LoadedBlockCache) * 2 * B);
            QVERIFY(sink.lines.isEmpty());

            s.clear();
            QCOMPARE(s.size(), 0);
            QCOMPARE(s.lineCount(), 1);
            Model fresh;
            fillMixed(s, fresh, 5 * B, 8);
            checkAgainstModel(s, fresh);
        }
        QVERIFY(!QFile::exists(spillName));
    }

    // The memory window bounds memory whatever the output looks like, not only its text.
    void memoryBoundHoldsForAnyShape_data()
    {
        QTest::addColumn<QByteArray>("unit");
        QTest::addColumn<bool>("alternate"); // every unit in the other colour
        QTest::newRow("long lines, one colour") << QByteArray(200, 'x') + "\r\n" << false;
        QTest::newRow("colour changes every character") << QByteArray("x") << true;
        QTest::newRow("nothing but line ends") << QByteArray("\r\n") << false;
    }

    void memoryBoundHoldsForAnyShape()
    {
        QFETCH(QByteArray, unit);
        QFETCH(bool, alternate);
        QTemporaryDir dir;
        TerminalStore s;
        s.setSpillFolder(dir.path());
        s.setMemoryWindow(32 * B);
        ColorRef color = 0;
        while (s.size() < 128 * B) {
            s.append(unit, color);
            if (alternate)
                color ^= 0xFF;
        }
        // The window, plus the block still being written with its runs and line starts.
        QVERIFY2(s.memoryUsage() < s.memoryWindow() + 13 * B, qPrintable(QString::number(s.memoryUsage() / B)));
        QVERIFY(s.spilledBlocks() > 0);
        QCOMPARE(s.colorAt(s.size() - 1), alternate ? (color ^ 0xFF) : ColorRef(0));
    }

    void spillFailureKeepsText_data()
    {
        QTest::addColumn<bool>("folderIsAFile");
        QTest::addColumn<qint64>("deviceLimit");
        QTest::newRow("cache folder cannot be made") << true << qint64(0);
        QTest::newRow("disk full at once") << false << qint64(0);
        QTest::newRow("disk full after three blocks") << false << 3 * B + 100;
    }
    void spillFailureKeepsText()
    {
        QFETCH(bool, folderIsAFile);
        QFETCH(qint64, deviceLimit);
        QTemporaryDir dir;
        RecordingSink sink;
        TerminalStore s;
        s.setStatusSink(&sink);
        s.setMemoryWindow(B);
        FullDevice full(deviceLimit);
        if (folderIsAFile) {
            const QString blocker = dir.filePath(QStringLiteral("blocker"));
            QFile f(blocker);
            QVERIFY(f.open(QIODevice::WriteOnly));
            s.setSpillFolder(blocker + QStringLiteral("/sub"));
        } else {
            s.setSpillDevice(&full);
        }
        Model m;
        fillMixed(s, m, 8 * B, 3);
        QCOMPARE(sink.lines.size(), 1);
        QVERIFY(sink.lines.first().startsWith(QStringLiteral("ERROR: ")));
        checkAgainstModel(s, m);
        if (deviceLimit > 0)
            QVERIFY(s.spilledBlocks() > 0);
    }

    void staleSpillFilesRemoved()
    {
        QTemporaryDir dir;
        pid_t gone = 999999;
        while (::kill(gone, 0) == 0)
            --gone;
        const QStringList names = {
            QStringLiteral("terminal-%1-1.spill").arg(gone),
            QStringLiteral("terminal-%1-1.spill").arg(::getpid()),
            QStringLiteral("notes.txt"),
        };
        for (const QString &n : names) {
            QFile f(dir.filePath(n));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        TerminalStore::removeStaleSpillFiles(dir.path());
        QVERIFY(!QFile::exists(dir.filePath(names[0])));
        QVERIFY(QFile::exists(dir.filePath(names[1])));
        QVERIFY(QFile::exists(dir.filePath(names[2])));
    }
};

QTEST_GUILESS_MAIN(TestTerminalStore)
#include "tst_store.moc"
