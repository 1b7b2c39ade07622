// The terminal: the store of its text, how deliveries render into it, the handler that feeds it,
// the window that shows it and takes keys, and saving and printing (read back with pdftotext).
#include "support/FullDevice.h"
#include "support/RunRig.h"
#include "terminal/RtfWriter.h"
#include "terminal/TerminalSave.h"
#include "widgets/TerminalView.h"
#include "widgets/JobProgress.h"
#include "widgets/WindowCommands.h"
#include "terminal/WindowSave.h"
#include "link/TerminalSession.h"
#include "widgets/TerminalWindow.h"

#include <QtPrintSupport/QPrinter>
#include <QtTest>
#include <QtWidgets>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr qint64 B = TerminalStore::BlockSize;
constexpr ColorRef Red = 0x0000FF;

QByteArray all(const TerminalStore &s) { return s.text(0, s.size()); }

QByteArrayList allLines(const TerminalStore &s)
{
    QByteArrayList out;
    for (qint64 i = 0; i < s.lineCount(); ++i)
        out << s.text(s.line(i).begin, s.line(i).end);
    return out;
}

// Random text with every kind of line end, each piece in one of a dozen colours, the first
// one spanning several blocks; kept aside to check the store against.
struct Model {
    QByteArray text;
    std::vector<ColorRef> colors;
    Model(TerminalStore &s, qint64 bytes, quint32 seed)
    {
        QRandomGenerator rng(seed);
        const char *ends[] = {"\r\n", "\r", "\n", "\n\r"};
        for (QByteArray piece(3 * B + 7, 'z'); text.size() < bytes; piece.clear()) {
            for (int i = rng.bounded(1, 300); i > 0; --i)
                piece += char(rng.bounded(32, 256));
            piece += ends[rng.bounded(4)];
            const ColorRef c = rng.bounded(12) * 0x151A20u;
            s.append(piece, c);
            text += piece;
            colors.insert(colors.end(), size_t(piece.size()), c);
        }
    }
    void check(const TerminalStore &s) const
    {
        QCOMPARE(all(s), text);
        QByteArrayList lines;
        for (const QString &l : QString::fromLatin1(text).split(QRegularExpression(QStringLiteral("\r\n|\r|\n"))))
            lines << l.toLatin1();
        QCOMPARE(allLines(s), lines);
        // Runs are maximal, back to back, and in the colour of what they cover.
        qint64 pos = 5;
        for (const auto &r : s.runs(5, s.size() - 5)) {
            QVERIFY(r.begin == pos && r.end > r.begin && (pos == 5 || colors[size_t(pos - 1)] != r.color));
            QVERIFY(colors[size_t(r.begin)] == r.color && s.colorAt(r.end - 1) == r.color);
            pos = r.end;
        }
        QCOMPARE(pos, s.size() - 5);
        QCOMPARE(s.palette().size(), size_t(12)); // each colour once
    }
};

// A terminal window shown at a size, its keys going to a board while `taken`.
struct Shown {
    TerminalWindow w;
    TerminalStore &s = w.store();
    TerminalView &v = w.view();
    QByteArray sent;
    bool taken = true;
    explicit Shown(QSize size = {400, 200})
    {
        w.setSendHook([this](quint8 c) { return taken && (sent += char(c), true); });
        w.resize(size);
        w.show();
    }
    QPoint cell(qint64 row, qint64 col) const
    {
        return QPoint(int(col * v.charWidth()), int((row - v.firstVisibleLine() + 0.5) * v.lineHeight()));
    }
    // The ink of a row's first cells by the darkest pixel in each, one pixel in from each
    // side (a glyph may touch its cell's edge): 'k' black, 'r' red, 'b' blue, '.' none.
    QString inks(const QImage &img, qint64 row, int cols) const
    {
        QString out;
        const int top = int((row - v.firstVisibleLine()) * v.lineHeight());
        for (int col = 0; col < cols; ++col) {
            QColor ink = Qt::white;
            for (int y = top; y < top + v.lineHeight(); ++y) {
                for (int x = int(std::ceil(col * v.charWidth())) + 1; x <= int((col + 1) * v.charWidth()) - 2; ++x)
                    ink = img.pixelColor(x, y).lightness() < ink.lightness() ? img.pixelColor(x, y) : ink;
            }
            out += ink.lightness() > 200 ? u'.' : ink.red() > 150 ? u'r' : ink.blue() > 150 ? u'b' : u'k';
        }
        return out;
    }
};

// The printed lines as pdftotext lays them out, the header's two parts joined by "|".
QStringList layoutLines(const QString &pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        qFatal("pdftotext failed (poppler-utils must be installed)");
    QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).remove(QLatin1Char('\f')).split(QLatin1Char('\n'));
    for (QString &l : lines)
        l = l.trimmed().replace(QRegularExpression(QStringLiteral("\\s{3,}")), QStringLiteral("|"));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Answers the print dialog that the menu command is about to show with exec().
void whenDialogOpens(const std::function<void(PrintDialog &)> &answer)
{
    QTimer::singleShot(0, [answer] { answer(*qobject_cast<PrintDialog *>(QApplication::activeModalWidget())); });
}
} // namespace

class TestTerminal : public QObject {
    Q_OBJECT
private slots:
    // Every kind of line end, split at every point between two appends, by a block edge, or
    // both, indexes alike.
    void lineIndex()
    {
        const QByteArray text = "x\ry\nz\r\n\r\nw\n\rv\r";
        for (qsizetype cut = 0; cut <= text.size(); ++cut) {
            for (int way = 0; way < 3; ++way) {
                TerminalStore s;
                const QByteArray head(way ? B - cut : 0, 'p');
                s.append(head + (way == 2 ? text : text.first(cut)), 0);
                s.append(way == 2 ? QByteArray() : text.sliced(cut), Red);
                QCOMPARE(allLines(s), (QByteArrayList{head + "x", "y", "z", "", "w", "", "v", ""}));
            }
        }
    }

    // Taking text back leaves the store as if only what stays had been appended, also
    // between a CR and its LF, at a block edge, and into a block in the spill file.
    void truncate_data()
    {
        QTest::addColumn<qint64>("cut");
        const QByteArray text = QByteArray("ab\r\ncd\r") + QByteArray(2 * B, 'x') + "\r\n\n\r" + QByteArray(B / 2, 'y');
        QTest::newRow("in the newest block") << text.size() - 3;
        QTest::newRow("between CR and LF") << qint64(text.indexOf("\r\n\n") + 1);
        QTest::newRow("at a block edge") << 2 * B;
        QTest::newRow("into a spilled block") << B - 2;
        QTest::newRow("all") << qint64(0);
    }
    void truncate()
    {
        QFETCH(qint64, cut);
        const QByteArray text = QByteArray("ab\r\ncd\r") + QByteArray(2 * B, 'x') + "\r\n\n\r" + QByteArray(B / 2, 'y');
        const auto fill = [&text](TerminalStore &s, qint64 upTo) {
            for (qint64 at = 0; at < upTo; at += 1000)
                s.append(text.mid(at, std::min<qint64>(1000, upTo - at)), ColorRef(at / 1000 % 3));
            s.append("\ntail", Red);
        };
        QTemporaryDir dir;
        TerminalStore cutBack, fresh;
        cutBack.setMemoryWindow(B);
        cutBack.setSpillFolder(dir.path());
        fill(cutBack, text.size());
        QVERIFY(cutBack.spilledBlocks() > 0);
        cutBack.truncate(cut);
        cutBack.append("\ntail", Red);
        fill(fresh, cut);
        QCOMPARE(all(cutBack), all(fresh));
        QCOMPARE(allLines(cutBack), allLines(fresh));
        const auto runs = [](const TerminalStore &s) {
            QList<qint64> out;
            for (const auto &r : s.runs(0, s.size()))
                out << r.begin << r.end << r.color;
            return out;
        };
        QCOMPARE(runs(cutBack), runs(fresh));
    }

    // The hex view and time stamps, on from the start or switched on over what is held,
    // give the same text (and a save holds it); switched off again, the plain text.
    void views_data()
    {
        QTest::addColumn<bool>("hex");
        QTest::addColumn<bool>("stamps");
        QTest::addColumn<int>("below");
        QTest::addColumn<QByteArrayList>("deliveries"); // "=x": the echo of a typed key
        QTest::addColumn<QList<int>>("times");          // ms after 12:34:56.000
        QTest::addColumn<QByteArray>("text");
        const auto row = [](QByteArray head, QByteArray text) { return head + QByteArray(60 - head.size(), ' ') + text; };
        QTest::newRow("hex: a short last row, bytes past 0x7F, no echo")
            << true << false << 13 << QByteArrayList{"Hello, world!\r\n", "=x", QByteArray("\0\x80\xff" "A", 4)}
            << QList<int>{0, 0, 0}
            << "00000000  48 65 6C 6C 6F 2C 20 77  6F 72 6C 64 21 0D 0A 00  Hello, world!...\r"
                + row("00000010  80 FF 41", "..A");
        QTest::newRow("hex rows stamped by their first byte")
            << true << true << 13 << QByteArrayList{"0123456789", "ABCDEFGHIJ"} << QList<int>{0, 5}
            << "[12:34:56.000] 00000000  30 31 32 33 34 35 36 37  38 39 41 42 43 44 45 46  0123456789ABCDEF\r"
                   "[12:34:56.005] " + row("00000010  47 48 49 4A", "GHIJ");
        QTest::newRow("stamps after CR; <10> is no line end")
            << false << true << 13 << QByteArrayList{"ab\rc", "=x", "d\r\ne"} << QList<int>{0, 0, 5}
            << QByteArray("[12:34:56.000] ab\r[12:34:56.000] cxd\r[12:34:56.005] <10>e");
        QTest::newRow("stamps: CR LF is one line end")
            << false << true << 0 << QByteArrayList{"a\r", "\nb\nc"} << QList<int>{0, 1}
            << QByteArray("[12:34:56.000] a\r\n[12:34:56.001] b\n[12:34:56.001] c");
        QTest::newRow("stamps at a gap, once")
            << false << true << 13 << QByteArrayList{"ab", "cd", "ef\r", "g"} << QList<int>{0, 100, 201, 900}
            << QByteArray("[12:34:56.000] abcd\r[12:34:56.201] ef\r[12:34:56.900] g");
    }
    void views()
    {
        QFETCH(bool, hex);
        QFETCH(bool, stamps);
        QFETCH(int, below);
        QFETCH(QByteArrayList, deliveries);
        QFETCH(QList<int>, times);
        QFETCH(QByteArray, text);
        const qint64 base = QDateTime(QDate(2026, 3, 1), QTime(12, 34, 56)).toMSecsSinceEpoch();
        const TerminalViewOptions plain, shown{hex, stamps, 100};
        QByteArray rendered[4]; // shown from the start, switched on, on and off, plain
        for (int way = 0; way < 4; ++way) {
            TerminalStore store;
            TerminalRenderer r(store);
            r.setSettings({true, below, Red});
            qint64 now = 0;
            r.setClock([&now] { return now; });
            r.setViewOptions(way == 0 ? shown : plain);
            for (qsizetype i = 0; i < deliveries.size(); ++i) {
                now = base + times[i];
                if (deliveries[i].startsWith('='))
                    r.addText(QByteArrayView(deliveries[i]).sliced(1), Red);
                else
                    r.receive(deliveries[i]);
            }
            if (way == 1 || way == 2)
                r.setViewOptions(shown);
            if (way == 2)
                r.setViewOptions(plain);
            QVERIFY(!r.rendering()); // a small terminal at once
            rendered[way] = all(store);
            QBuffer saved;
            QVERIFY(saved.open(QIODevice::WriteOnly) && writeTerminalText(store, saved).ok);
            QCOMPARE(saved.data(), QByteArray(rendered[way]).replace("\r\n", "\n").replace('\r', '\n'));
        }
        QCOMPARE(rendered[0], text);
        QCOMPARE(rendered[1], rendered[0]);
        QCOMPARE(rendered[2], rendered[3]);
    }

    // A large terminal renders again a step at a time, from a log partly in its spill file;
    // what arrives meanwhile follows in order.
    void rendersAgainInSteps()
    {
        TerminalStore fresh, store;
        TerminalRenderer a(fresh), b(store);
        b.log().bytes().setMemoryWindow(B);
        a.setViewOptions({true, true, 100});
        QByteArray data(8 * 1024 * 1024, Qt::Uninitialized); // far more than one step renders
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = char(i * 7 / 3);
        for (TerminalRenderer *r : {&a, &b}) {
            r->setClock([] { return qint64(0); });
            r->receive(data);
        }
        b.setViewOptions({true, true, 100});
        QVERIFY(b.rendering() && store.size() < fresh.size());
        for (TerminalRenderer *r : {&a, &b})
            r->receive("tail");
        QTRY_VERIFY(!b.rendering());
        QCOMPARE(all(store), all(fresh));
    }

    // Beyond the memory window the oldest blocks go to a spill file, read back a few at a
    // time, and the file goes with the store; it is the user's alone and has no name. A spill
    // that fails is reported once, with the system's reason, and the text stays in memory.
    void spill_data()
    {
        QTest::addColumn<qint64>("diskFull"); // after so many bytes; -1: never, -2: no folder, -3: a file too big
        QTest::newRow("spill file") << qint64(-1);
        QTest::newRow("folder cannot be made") << qint64(-2);
        QTest::newRow("file size limit reached") << qint64(-3);
        QTest::newRow("disk full at once") << qint64(0);
        QTest::newRow("disk full after three blocks") << 3 * B + 100;
    }
    void spill()
    {
        QFETCH(qint64, diskFull);
        QTemporaryDir dir;
        RecordingStatus status;
        FullDevice full(diskFull);
        QVERIFY(QFile(dir.filePath(QStringLiteral("file"))).open(QIODevice::WriteOnly));
        QString spillName;
        const auto mode = [](const QString &path) {
            struct stat st {};
            return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
        };
        const bool ownFile = diskFull == -1 || diskFull == -3;
        {
            TerminalStore s;
            s.setStatusSink(&status);
            s.setMemoryWindow(2 * B);
            if (diskFull >= 0)
                s.setSpillDevice(&full);
            else
                s.setSpillFolder(dir.filePath(diskFull == -2 ? "file/spill" : "spill"));
            rlimit unlimited{};
            QVERIFY(::getrlimit(RLIMIT_FSIZE, &unlimited) == 0);
            const rlimit limit{diskFull == -3 ? rlim_t(3 * B + 100) : unlimited.rlim_cur, unlimited.rlim_max};
            ::signal(SIGXFSZ, SIG_IGN); // writing past the limit fails instead of ending the process
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
            const Model m(s, 20 * B, 7);
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &unlimited) == 0);
            spillName = s.spillFileName();
            QCOMPARE(QFile::exists(spillName), ownFile);
            // Private: nothing in the folder to open, guess or replace by a link.
            if (ownFile) {
                QCOMPARE(QDir(dir.filePath("spill")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                         QStringList());
                QVERIFY(mode(spillName) == 0600 && mode(dir.filePath("spill")) == 0700);
            }
            QCOMPARE(s.memoryUsage() < 5 * B, diskFull == -1);
            m.check(s);
            QCOMPARE(s.memoryUsage() < 14 * B, diskFull == -1); // only a few read back stay
            QCOMPARE(s.spilledBlocks() > 0, diskFull != -2 && diskFull != 0);
            QCOMPARE(status.lines().size(), diskFull == -1 ? 0 : 1);
            QVERIFY(status.text.isEmpty() || status.text.startsWith(QStringLiteral("ERROR: ")));
            // The system's own reason, not Qt's "Unknown error" for a short write.
            if (diskFull == -3)
                QVERIFY2(status.text.contains("(" + QString::fromLocal8Bit(strerror(EFBIG)) + ")"), qPrintable(status.text));
            s.clear();
            QCOMPARE(allLines(s), QByteArrayList{""});
            Model(s, 5 * B, 8).check(s);
        }
        QVERIFY(!QFile::exists(spillName));
        if (diskFull != -1)
            return;
        // The window bounds memory, not only text: here output all line ends and colour changes.
        TerminalStore s;
        s.setSpillFolder(dir.path());
        s.setMemoryWindow(32 * B);
        for (ColorRef color = 0; s.size() < 128 * B; color ^= Red)
            s.append("\r\n", color);
        QVERIFY2(s.memoryUsage() < 45 * B, qPrintable(QString::number(s.memoryUsage() / B)));
    }

    void staleSpillFilesRemoved()
    {
        QTemporaryDir dir;
        const QStringList names = {"terminal-2147483647-1.spill", "notes.txt", // beyond any process id
                                   QStringLiteral("terminal-%1-1.spill").arg(::getpid())};
        for (const QString &n : names)
            QVERIFY(QFile(dir.filePath(n)).open(QIODevice::WriteOnly));
        TerminalStore::removeStaleSpillFiles(dir.path());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), names.mid(1));
    }

    void receive_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("below");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("colours");
        QTest::newRow("LF a number, CR not") << QByteArray("a\r\nb") << 13 << QByteArray("a\r<10>b") << QByteArray("..rrrr.");
        QTest::newRow("below 0") << QByteArray("\x00z", 2) << 0 << QByteArray("\x00z", 2) << QByteArray("..");
        QTest::newRow("a limit past a byte spares 255") << QByteArray("\xfe\xff") << 1000 << QByteArray("<254>\xff")
                                                        << QByteArray("rrrrr.");
        QTest::newRow("digits, the limit itself") << QByteArray("\x00\x09\x0a\x63\x64\xc7\xc8", 7) << 200
                                                  << QByteArray("<0><9><10><99><100><199>\xc8") << QByteArray(24, 'r') + '.';
    }
    void receive()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, below);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, colours);
        FakeTerminalSurface surface;
        surface.renderer().setSettings({true, below, Red});
        QSignalSpy appended(&surface.window->store, &TerminalStore::appended);
        surface.renderer().receive(bytes);
        QCOMPARE(surface.text(), text);
        QCOMPARE(surface.colours(Red, 'r'), colours);
        QCOMPARE(appended.count(), 1); // a delivery is announced once, however many pieces
    }

    void lineBreaking_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QStringList>("lines");
        // Every character is 1 wide, "W" 3, "#" wider than a line (10).
        QTest::newRow("nothing") << QString() << QStringList{};
        QTest::newRow("every end") << QStringLiteral("a\r\n\r\nb\nc\rd\n\re") << QStringList{"a", "", "b", "c", "d", "", "e"};
        QTest::newRow("exact fit, one over, full line then CR LF") << QStringLiteral("0123456789x\r\n0123456789\r\nz")
                                                                   << QStringList{"0123456789", "x", "0123456789", "z"};
        QTest::newRow("wide, too wide alone") << QStringLiteral("aWWWW##c") << QStringList{"aWWW", "W", "#", "#", "c"};
    }
    void lineBreaking()
    {
        QFETCH(QString, body);
        QFETCH(QStringList, lines);
        const auto width = [](QChar c) { return c == u'W' ? 3.0 : c == u'#' ? 100.0 : 1.0; };
        QCOMPARE(printLines(body, 10, width), lines);
        // From a store in two pieces, the first CR LF split between them.
        QStringList stored;
        TerminalStore s;
        const qsizetype cut = std::max<qsizetype>(0, body.indexOf(u'\n'));
        s.append(body.first(cut).toLatin1(), 0);
        s.append(body.sliced(cut).toLatin1(), Red);
        printStoreLines(s, 10, width, [&stored](const QString &l) { stored << l; });
        QCOMPARE(stored, lines);
        // Saved as text, every line end of the terminal becomes one LF.
        QBuffer text;
        text.open(QIODevice::WriteOnly);
        QVERIFY(writeTerminalText(s, text).ok);
        QCOMPARE(text.data(), body.replace(QRegularExpression(QStringLiteral("\r\n|\r|\n")), QStringLiteral("\n")).toLatin1());
    }

    // A colour table of the colours used, one group per run, backslash and braces escaped,
    // every line end one \par (checked once against unrtf, an independent reader).
    void rtf()
    {
        TerminalStore s;
        s.append("a{\\}\r\nb\rc\n\n\r\xe9\t\x01", 0x563412);
        s.append("Z", 0);
        s.append("y", 0x563412);
        const auto rtfOf = [&s] {
            QBuffer buf;
            buf.open(QIODevice::WriteOnly);
            return writeTerminalRtf(s, buf).ok ? buf.data() : QByteArray("<failed>");
        };
        QCOMPARE(rtfOf(), QByteArray("{\\rtf1\\ansi\\ansicpg1252\\deff0"
                                     "{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset0 Courier New;}}\n"
                                     "{\\colortbl;\\red18\\green52\\blue86;\\red0\\green0\\blue0;}\n"
                                     "\\pard\\plain\\f0\\fs17\\cf1 a\\{\\\\\\}\\par\nb\\par\nc\\par\n\\par\n\\par\n"
                                     "\\'e9\\tab \\'01\\cf2 Z\\cf1 y}\n"));
        // Long lines are broken in the source, where some editors would choke on them.
        s.append(QByteArray(5000, 'w'), 0);
        for (const QByteArray &line : rtfOf().split('\n'))
            QVERIFY2(line.size() <= 205, line.constData());
        FullDevice full(1000), fullToo(1000), fullAlso(1000); // a full disk: the reason comes back
        for (const WriteResult &r : {writeTerminalRtf(s, full), writeTerminalText(s, fullToo),
                                     writeStatusText(QString(2000, u'x'), fullAlso)})
            QVERIFY(!r.ok && r.error == QStringLiteral("No space left on device"));
    }

    // Saving either window: the format the name asks for, the text as it stands, or the
    // reason on a line of its own after the log; the dialog's name is kept for next time.
    // A save that fails or is cancelled leaves the old file; text received meanwhile is not saved.
    void saveWindow_data()
    {
        QTest::addColumn<QString>("window"); // "status", "terminal" or "closed" (a terminal window)
        QTest::addColumn<QString>("name");   // "" cancels
        QTest::addColumn<QString>("log");    // the status log as it stands
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("report");
        QTest::newRow("status quoted") << "status" << "s.txt" << QStringLiteral("a\r\nsay \"hi\" caf\u00e9 \u0100")
                                       << QByteArray("\"a\r\nsay \"hi\" caf\xe9 ?\"\r\n") << QString();
        QTest::newRow("terminal, .rtf in the middle") << "terminal" << "t.rtf.bak" << QString() << QByteArray("{\\rtf1")
                                                      << QString();
        QTest::newRow("terminal, .RTF is text") << "terminal" << "t.RTF" << QString()
                                                << QByteArray(B + 5, '\xff') + QByteArray(2 * B, '\0') << QString();
        QTest::newRow("cancelled") << "status" << "" << QString() << QByteArray() << QString();
        QTest::newRow("status fails") << "status" << "no/s.txt" << QStringLiteral("Ok\r\n") << QByteArray()
                                      << "Ok\r\nERROR: Cannot create %1: ";
        QTest::newRow("terminal fails, empty log") << "terminal" << "no/t.txt" << QString() << QByteArray()
                                                   << "ERROR: Cannot create %1: ";
        QTest::newRow("terminal, the disk fills") << "terminal" << "full.txt" << QString() << QByteArray("old")
                                                  << "ERROR: Cannot write %1: ";
        QTest::newRow("terminal, cancelled part way") << "terminal" << "cancel.rtf" << QString() << QByteArray("old")
                                                      << QString();
        QTest::newRow("terminal, receiving meanwhile") << "terminal" << "busy.txt" << QString()
                                                       << QByteArray(B + 5, '\xff') + QByteArray(2 * B, '\0') << QString();
        QTest::newRow("closed fails after a partial line") << "closed" << "no/t.txt" << QStringLiteral("Reading Hex")
                                                           << QByteArray() << "Reading Hex\r\nERROR: Cannot create %1: ";
    }
    void saveWindow()
    {
        QFETCH(QString, window);
        QFETCH(QString, name);
        QFETCH(QString, log);
        QFETCH(QByteArray, file);
        QFETCH(QString, report);
        QTemporaryDir dir;
        const QString path = name.isEmpty() ? QString() : dir.filePath(name);
        TerminalStore store; // the whole of it, spilled in part
        store.setMemoryWindow(B);
        store.setSpillFolder(dir.path());
        store.append(QByteArray(B + 5, '\xff'), 0);
        store.append(QByteArray(2 * B, '\0'), Red);
        ScriptedPrompter prompts;
        prompts.fileNames << path;
        RecordingStatus status;
        status.text = log;
        QString dialogName = QStringLiteral("/x/prog.hex");
        if (QFile old(path); old.open(QIODevice::WriteOnly))
            old.write("old");
        // Between its first two steps the terminal receives, spilling its oldest text.
        const JobRunner run = [&](SteppedJob &job, const QString &label) {
            if (!name.startsWith("cancel") && !name.startsWith("busy"))
                return runJobToEnd(job, label);
            job.step();
            store.append(QByteArray(3 * B, 'n'), Red);
            return name.startsWith("busy") && runJobToEnd(job, label);
        };
        rlimit unlimited{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &unlimited) == 0);
        const rlimit full{name == QLatin1String("full.txt") ? 1000 : unlimited.rlim_cur, unlimited.rlim_max};
        ::signal(SIGXFSZ, SIG_IGN); // writing past the limit fails instead of ending the process
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &full) == 0);
        if (window == QLatin1String("status"))
            saveStatusWindow(log, dialogName, prompts, status);
        else
            saveTerminalWindow(window == QLatin1String("closed") ? nullptr : &store, log, dialogName, prompts, status, run);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &unlimited) == 0);
        QCOMPARE(dialogName, path.isEmpty() ? QStringLiteral("/x/prog.hex") : path);
        QFile saved(path);
        const QByteArray bytes = QFileInfo::exists(path) && saved.open(QIODevice::ReadOnly) ? saved.readAll() : QByteArray();
        QCOMPARE(file.startsWith("{") ? bytes.left(file.size()) : bytes, file);
        QCOMPARE(bytes.contains("\\'ff"), window == QLatin1String("terminal") && file.startsWith("{"));
        QVERIFY2(status.text.startsWith(report.isEmpty() ? log : report.arg(path)), qPrintable(status.text));
        QVERIFY(report.isEmpty() ? status.text == log : status.text.endsWith("\r\n") && status.text.size() > log.size() + 30);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), bytes.isEmpty() ? QStringList() : QStringList(name));
    }

    void handlerTakesTheLine_data()
    {
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("error");
        QTest::newRow("blanks around") << " 2400 " << QString();
        QTest::newRow("speed the adapter refuses") << "250000" << "ERROR: Invalid argument";
        QTest::newRow("zero") << "0"
                              << "ERROR: The terminal speed \"0\" is not a baud rate. Choose another one in the settings";
    }
    void handlerTakesTheLine()
    {
        QFETCH(QString, speed);
        QFETCH(QString, error);
        RunRig rig;
        rig.settings.setTerminalSpeed(speed);
        rig.surface.renderer().addText(QStringLiteral("from before"), 0);
        if (speed == QLatin1String("250000"))
            rig.link.failOpens({LinkResult::failure(LinkError::Other, EINVAL, "Invalid argument")});
        const TerminalSession terminal(rig.dispatcher, rig.port, rig.state, rig.settings, rig.surface);
        QCOMPARE(rig.status.lines(), error.isEmpty() ? QStringList() : QStringList{error});
        const bool ok = error.isEmpty();
        QVERIFY(rig.state.serialReady() == ok && terminal.portOpened() == ok && rig.link.isOpen() == ok);
        QCOMPARE(rig.link.baud(), ok ? speed.trimmed().toInt() : SerialPortSetup::kDownloadBaud);
        QVERIFY(rig.surface.text().isEmpty() && rig.prompter.boxes.isEmpty()); // emptied either way; no box
    }

    // Deliveries follow the render settings as they are now, and bring a closed window
    // back; a key is sent as one byte and neither shown nor logged.
    void handlerTalks()
    {
        RunRig rig;
        TerminalSession terminal(rig.dispatcher, rig.port, rig.state, rig.settings, rig.surface);
        rig.settings.setAsciiBelow(14);
        rig.settings.setAsciiColor(qint32(Red));
        terminal.receive(QByteArray("A\r\n"));
        QCOMPARE(rig.surface.text() + rig.surface.colours(Red), QByteArray("A<13><10>.aaaaaaaa"));
        rig.settings.setPrintAscii(false);
        rig.surface.closeWindow();
        terminal.receive(QByteArray("A\r\n"));
        QCOMPARE(rig.surface.text() + rig.surface.colours(Red), QByteArray("A\r\n..."));
        rig.surface.closeWindow();
        terminal.addText(QString::fromLatin1("\\{\xff") + QChar(0x100), Red); // one byte a character
        QCOMPARE(rig.surface.created, 3);
        const QString notAByte = QStringLiteral("%1: The character code %2 cannot be sent as one byte");
        for (int code : {0, 255, 256, -1}) {
            rig.link.clearWritten();
            const LinkResult r = terminal.send(code);
            const bool byte = code == 0 || code == 255;
            QCOMPARE(r.ok() ? QString() : TerminalSession::sendFailureText(r), byte ? QString() : notAByte.arg(EINVAL).arg(code));
            QCOMPARE(rig.link.written(), byte ? QByteArray(1, char(code)) : QByteArray());
        }
        rig.link.close();
        QCOMPARE(TerminalSession::sendFailureText(terminal.send('a')), QStringLiteral("The serial port is not open"));
        QVERIFY(!terminal.ignoreReceive()); // a failed key does not end the conversation
        QCOMPARE(rig.surface.text() + rig.surface.colours(Red), QByteArray("\\{\xff?aaaa"));
        QCOMPARE(rig.status.text, QString());
    }

    void followsTheEndAndHolds()
    {
        Shown t;
        QVERIFY(QTest::qWaitForWindowExposed(&t.w));
        for (int i = 0; i < 500; ++i)
            t.s.append("line " + QByteArray::number(i) + "\r\n", 0);
        QCOMPARE(t.v.frames(), 0); // appends wait for the next frame
        t.v.flush();
        QScrollBar *bar = t.v.verticalScrollBar();
        QVERIFY(bar->maximum() > 0 && bar->value() == bar->maximum());
        // Scroll Lock holds the view still; "Follow output" on again jumps to the end.
        QTest::keyClick(&t.v, Qt::Key_ScrollLock);
        bar->setValue(10);
        t.s.append("more\r\n", 0);
        t.v.flush();
        QCOMPARE(bar->value(), 10);
        t.v.followAction()->trigger();
        QCOMPARE(bar->value(), bar->maximum());
        // The frame timer shows pending text by itself.
        const int frames = t.v.frames();
        t.s.append("more\r\n", 0);
        QTRY_COMPARE(t.v.frames(), frames + 1);
        QCOMPARE(bar->value(), bar->maximum());
        // Emptied, the view forgets its selection and its length.
        t.v.selectAll();
        t.w.renderer().clear();
        t.v.flush();
        QVERIFY(!t.v.hasSelection() && bar->maximum() == 0);
    }

    // Dragging over a line end selects, as does double-clicking a word (the button still
    // held after it drags nothing); a copy reaches the clipboard with plain line ends.
    void selectionToClipboard()
    {
        Shown t;
        QVERIFY(QTest::qWaitForWindowExposed(&t.w));
        t.s.append("hello world\r\n", 0);
        t.s.append("second line\rthird", Red);
        t.v.flush();
        QWidget *vp = t.v.viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, t.cell(0, 2));
        QTest::mouseMove(vp, t.cell(1, 3));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, t.cell(1, 3));
        QTest::keyClick(&t.v, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("llo world\nsec"));
        QTest::mouseDClick(vp, Qt::LeftButton, {}, t.cell(0, 8));
        QMouseEvent move(QEvent::MouseMove, t.cell(1, 3), vp->mapToGlobal(t.cell(1, 3)), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(vp, &move);
        QTest::keyClick(&t.v, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("world"));
    }

    // Keys and paste go to the terminal handler while it takes them: echoed when echo is
    // on, never inserted by the view.
    void keysAndPaste_data()
    {
        QTest::addColumn<bool>("taken");
        QTest::addColumn<bool>("echo");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("sent and echoed") << true << true << QByteArray("a\r\x03\tb\rc\rd?");
        QTest::newRow("sent without echo") << true << false << QByteArray("a\r\x03\tb\rc\rd?");
        QTest::newRow("no terminal handler") << false << true << QByteArray();
    }
    void keysAndPaste()
    {
        QFETCH(bool, taken);
        QFETCH(bool, echo);
        QFETCH(QByteArray, sent);
        Shown t;
        t.taken = taken;
        t.w.setEcho(echo, Red);
        QTest::keyClick(&t.v, Qt::Key_A);
        QTest::keyClick(&t.v, Qt::Key_Return);
        QTest::keyClick(&t.v, Qt::Key_C, Qt::ControlModifier); // a character for the board, not a copy
        QTest::keyClick(&t.v, Qt::Key_Tab);
        QApplication::clipboard()->setText(QStringLiteral("b\r\nc\nd\u0100"));
        QTest::keyClick(&t.v, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(t.sent, sent);
        QCOMPARE(all(t.s), echo ? sent : QByteArray());
        QVERIFY(t.s.runs(0, t.s.size()).size() == size_t(echo && taken) && (!echo || !taken || t.s.colorAt(0) == Red));
    }

    // Every byte lands in its own cell of its row, in its piece's colour.
    void cells_data()
    {
        QTest::addColumn<QByteArrayList>("pieces"); // in black, red, blue, black, ...
        QTest::addColumn<int>("scrolled");          // columns scrolled sideways
        QTest::addColumn<QStringList>("rows");      // the last rows, one letter per cell
        QTest::newRow("colours, blanks and control bytes") << QByteArrayList{"A B", "\x01" "C", "D\x07", "\xE9\xFC"} << 0
                                                           << QStringList{"k.k.rb.kk."};
        QTest::newRow("each line in its own row") << QByteArrayList{"AB\r\n", "C", "D\rEF"} << 0
                                                  << QStringList{"kk.", "rb.", "bb."};
        QTest::newRow("a run broken by a block edge") << QByteArrayList{QByteArray(B - 3, 'x') + "\r\nAB", "CD"} << 0
                                                      << QStringList{"kkrr."};
        QTest::newRow("scrolled sideways") << QByteArrayList{QByteArray(100, 'x') + "\r\n012345678901", "ABC"} << 10
                                           << QStringList{"kkrrr."};
    }
    void cells()
    {
        QFETCH(QByteArrayList, pieces);
        QFETCH(int, scrolled);
        QFETCH(QStringList, rows);
        Shown t({500, 200});
        QVERIFY(QTest::qWaitForWindowExposed(&t.w));
        for (int i = 0; i < pieces.size(); ++i)
            t.s.append(pieces[i], QList<ColorRef>{0, Red, 0xFF0000}[i % 3]);
        t.v.flush();
        t.v.horizontalScrollBar()->setValue(scrolled);
        const QImage img = t.v.viewport()->grab().toImage();
        for (int r = 0; r < rows.size(); ++r) // the last rows
            QCOMPARE(t.inks(img, t.s.lineCount() - rows.size() + r, int(rows[r].size())), rows[r]);
    }

    // The menu command waits in the modal dialog, which opens with the terminal chosen and
    // the status not, every time. Cancel prints nothing, nor does OK with nothing chosen;
    // Setup reaches the caller's printer. OK prints what the windows hold at that moment:
    // a header, two empty lines and the body. With both chosen and a file to print to, the
    // status goes to a file of its own and the printer keeps the chosen name. A printer
    // that fails is reported, after the log's partial line.
    void printCommand()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out.pdf"));
        QPrinter printer;
        printer.setOutputFileName(out); // a PDF
        ScriptedPrompter prompts;
        RecordingStatus status;
        WindowCommands commands(prompts, status, printer);
        commands.setClock([] { return QDateTime(QDate(2024, 3, 7), QTime(14, 5)); });
        QList<QPrinter *> setups;
        commands.setPrinterSetup([&setups](QPrinter &p, QWidget *) { return setups << &p, true; });
        TerminalStore store;
        store.append("before", 0);
        const TerminalStore *current = &store;
        const QByteArray body = "\r\nd\ne\rf\n\rcaf\xe9 \xb5";
        const PrintSources sources{"/home/u/prog.hex", [&body] { return QString::fromLatin1(body); },
                                   [&current] { return current; }};
        QStringList seen;
        const auto opened = [&seen](PrintDialog &d) {
            seen << QStringLiteral("%1%2%3").arg(d.isModal()).arg(d.terminalBox()->isChecked())
                        .arg(d.statusBox()->isChecked());
        };
        whenDialogOpens([&](PrintDialog &d) { opened(d), d.statusBox()->setChecked(true), d.cancelButton()->click(); });
        commands.print(sources, nullptr);
        whenDialogOpens([&](PrintDialog &d) {
            opened(d), d.setupButton()->click(), d.terminalBox()->setChecked(false), d.okButton()->click();
        });
        commands.print(sources, nullptr);
        QCOMPARE(seen, (QStringList{"110", "110"}));
        QVERIFY(!QFileInfo::exists(out));
        whenDialogOpens([&](PrintDialog &d) { store.append(body, Red), d.statusBox()->setChecked(true), d.okButton()->click(); });
        commands.print(sources, nullptr);
        const QString second = dir.filePath(QStringLiteral("out-status.pdf"));
        QCOMPARE(status.lines(), QStringList{"INFORMATION: Status window printed to " + second});
        QCOMPARE(printer.outputFileName(), out);
        const QStringList lines = {"d", "e", "f", "", QStringLiteral("caf\u00e9 \u00b5")};
        const QString date = QStringLiteral(" prog.hex|Printed 03-07-24 14:05");
        QCOMPARE(layoutLines(out), QStringList({"Terminal dump from" + date, "", "", "before"}) + lines);
        QCOMPARE(layoutLines(second), QStringList({"Status dump from" + date, "", "", ""}) + lines);
        current = nullptr; // a closed terminal window prints as a fresh, empty one
        whenDialogOpens([](PrintDialog &d) { d.okButton()->click(); });
        commands.print(sources, nullptr);
        QCOMPARE(layoutLines(out), QStringList{"Terminal dump from" + date});
        // Cancelled after its first step, a long print leaves the files as they were.
        QFile pdf(out);
        const QByteArray before = pdf.open(QIODevice::ReadOnly) ? pdf.readAll() : QByteArray();
        current = &store;
        store.append(QByteArray(100000, '\n'), 0);
        commands.setJobRunner([](SteppedJob &job, const QString &) { return job.step(), false; });
        whenDialogOpens([](PrintDialog &d) { d.statusBox()->setChecked(true), d.okButton()->click(); });
        commands.print(sources, nullptr);
        pdf.close();
        QVERIFY(pdf.open(QIODevice::ReadOnly) && pdf.readAll() == before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"out-status.pdf", "out.pdf"}));
        QCOMPARE(status.lines().size(), 1);
        commands.setJobRunner(runJobToEnd);
        commands.printSetup(nullptr);
        QCOMPARE(setups, (QList<QPrinter *>{&printer, &printer}));
        printer.setOutputFileName(QString());
        printer.setPrinterName(QString());
        QTest::ignoreMessage(QtWarningMsg, "QPainter::begin(): Returned false");
        whenDialogOpens([](PrintDialog &d) { d.okButton()->click(); });
        commands.print(sources, nullptr);
        QCOMPARE(status.lines().mid(1), (QStringList{"", "ERROR: Cannot print the Terminal window: no printer is set up"}));
    }

    // Between slices of a job the event loop turns; Cancel in the dialog that has come up ends the job.
    void progressCancel()
    {
        struct Endless : SteppedJob {
            qint64 steps = 0;
            bool step() override { return ++steps; }
            qint64 done() const override { return steps; }
            qint64 total() const override { return steps * 2; }
        } job;
        QTimer::singleShot(0, [] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (qobject_cast<QProgressDialog *>(w))
                    w->findChild<QPushButton *>()->click();
        });
        QVERIFY(!runWithProgress(job, QStringLiteral("Working"), nullptr));
    }
};

QTEST_MAIN(TestTerminal)
#include "tst_terminal.moc"
