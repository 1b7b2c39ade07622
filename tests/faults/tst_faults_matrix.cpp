// Every misbehaviour of the simulated board against every exchange of the program, end to
// end through the main window: the start-up version query, F12, F5, F7 and the terminal
// after it. Each cell must end in the program's documented lines, leave the program
// responsive, and a good exchange on a well-behaved board must follow through the same
// program instance. The matrix is printed when the test ends.
#include "link/LinkDispatcher.h"
#include "link/RunLink.h"
#include "link/SerialLink.h"
#include "settings/Settings.h"
#include "support/ProgramRig.h"
#include "support/TestFiles.h"
#include "terminal/TerminalStore.h"
#include "widgets/TerminalWindow.h"

#include <QAction>
#include <QMap>
#include <QRegularExpression>
#include <QtTest>

namespace {
// The request time-out for the whole test. The delay rows are set against it: a reply held
// back by 80 % of it must still be taken, one held back by 110 % must time out. The margin
// on each side (300 ms and 150 ms) absorbs the scheduling of a loaded machine.
constexpr int kTimeoutMs = 1500;
constexpr int kInTimeMs = kTimeoutMs * 80 / 100;
constexpr int kLateMs = kTimeoutMs * 110 / 100;

// A small 8052 program that greets and then echoes every byte at 19200 baud (11.0592 MHz,
// SMOD = 1, timer 1 reloading 0xFD), in two data records and the end record: short enough
// that the delay rows stay quick, long enough for faults at record 2 to fall mid-transfer.
//   0000  MOV PCON,#80h  MOV SCON,#50h  MOV TMOD,#20h  MOV TH1,#0FDh  MOV TL1,#0FDh  SETB TR1
//   0011  MOV DPTR,#0032h
//   0014  greet: CLR A  MOVC A,@A+DPTR  JZ echo  MOV SBUF,A  JNB TI,$  CLR TI  INC DPTR  SJMP greet
//   0022  echo: JNB RI,echo  CLR RI  MOV A,SBUF  MOV SBUF,A  JNB TI,$  CLR TI  SJMP echo
//   0032  "echo ready" CR LF 0
const char kEchoHex[] = ":20000000758780759850758920758DFD758BFDD28E900032E493600AF5993099FDC299A398\r\n"
                        ":1F00200080F23098FDC298E599F5993099FDC29980F06563686F2072656164790D0A00A8\r\n"
                        ":00000001FF\r\n";
// The terminal shows the line end in its own way, so only the words are looked for.
const QByteArray kGreeting = QByteArrayLiteral("echo ready");
const QString kAllRecords = QStringLiteral("...");

enum Column { Startup, F12, F5, F7, Terminal, ColumnCount };
const char *const kColumnNames[ColumnCount] = {"start-up", "F12", "F5", "F7", "terminal"};

// One way an exchange may end: its lines as patterns (matched whole), and which line
// shows best what happened.
struct Ending {
    QString name;
    QStringList patterns;
    int keyLine = 0;
};
using Endings = QList<Ending>;

QString lit(const QString &text) { return QRegularExpression::escape(text); }

const QString kTransmission = lit(QStringLiteral("ERROR: Transmission error. Check the cable, reset the 8051 and try again"));
const QString kNotDownloaded = lit(QStringLiteral("ERROR: The file was not downloaded"));
const QString kTimeOut = lit(QStringLiteral("ERROR: Request time out"));
const QString kRunning = lit(QStringLiteral("Running file on 8051..."));

Ending versionOk(const QString &version = QStringLiteral("1\\.0\\.0"))
{
    return {QStringLiteral("version"),
            {lit(QStringLiteral("Getting Kernel Version...")), QStringLiteral("Kernel version ") + version,
             lit(QStringLiteral("Corvade is compiled for Kernel version 1.0.0"))},
            1};
}
Ending versionConflict(const QString &version)
{
    Ending e = versionOk(version);
    e.name = QStringLiteral("other version");
    e.patterns << QStringLiteral("WARNING: Version conflict! This version of Corvade is compiled for use with another "
                                 "8051 kernel\\. Some functions may not work\\.")
               << QStringLiteral("INFORMATION: Check out the Readme file or look at the Corvade website \\(.+\\), for "
                                 "combatibility information\\.");
    return e;
}
// Noise that happens to start with the request code reads as some other version.
Ending versionOther() { return versionConflict(QStringLiteral("\\d+\\.\\d+\\.\\d+")); }
Ending versionMismatch()
{
    return {QStringLiteral("mismatch"),
            {lit(QStringLiteral("Getting Kernel Version...")), lit(QStringLiteral("ERROR: Commands do not match"))},
            1};
}
Ending versionTimeOut()
{
    return {QStringLiteral("time-out"), {lit(QStringLiteral("Getting Kernel Version...")), QString(), kTimeOut}, 2};
}

// `progress` is a pattern for the dots and resend marks before the end of the line.
Ending downloadOk(const QString &progress)
{
    return {QStringLiteral("ok"), {QStringLiteral("Downloading hexfile") + progress + QStringLiteral("Ok")}, 0};
}
Ending downloadRefused(const QString &progress)
{
    return {QStringLiteral("refused"),
            {QStringLiteral("Downloading hexfile") + progress + QStringLiteral("Abort"), kTransmission, kNotDownloaded},
            0};
}
Ending downloadTimeOut(const QString &progress)
{
    return {QStringLiteral("time-out"),
            {QStringLiteral("Downloading hexfile") + progress, kTimeOut, QStringLiteral("Abort"), kTransmission,
             kNotDownloaded},
            1};
}
Ending downloadLost(const QString &progress)
{
    return {QStringLiteral("line lost"),
            {QStringLiteral("Downloading hexfile") + progress,
             QStringLiteral("ERROR: The serielport, port 2 was lost \\(.+\\)\\. Reconnect it and choose Initialise "
                            "serielport \\(F4\\)"),
             QStringLiteral("Abort"), kTransmission, kNotDownloaded},
            1};
}
// Download+Run: the download's lines, and the run request only after a good download.
Endings withRun(const Endings &download)
{
    Endings out;
    for (Ending e : download) {
        if (e.name == QLatin1String("ok"))
            e.patterns << kRunning;
        out << e;
    }
    return out;
}

struct Row {
    QString name;
    QStringList options;
    Endings version; // start-up and F12
    Endings download;
    int lateAnswerMs = 0; // a reply still under way after the time-out, to be seen dropped
};

struct Cell {
    bool pass = false;
    QString key;
};

Endings anyVersion() { return {versionOk(), versionOther(), versionMismatch(), versionTimeOut()}; }
Endings anyDownload()
{
    const QString p = QStringLiteral("[.E]*");
    return {downloadOk(p), downloadRefused(p), downloadTimeOut(p)};
}

QList<Row> rows()
{
    const QString none;
    return {
        {QStringLiteral("well-behaved"), {}, {versionOk()}, {downloadOk(kAllRecords)}},
        {QStringLiteral("other kernel version"),
         {QStringLiteral("--kernel-version"), QStringLiteral("2.0.7")},
         {versionConflict(QStringLiteral("2\\.0\\.7"))},
         {downloadOk(kAllRecords)}},
        {QStringLiteral("silent"), {QStringLiteral("--silent")}, {versionTimeOut()}, {downloadTimeOut(none)}},
        {QStringLiteral("wrong first byte"),
         {QStringLiteral("--first-byte"), QStringLiteral("0x55")},
         {versionMismatch()},
         {downloadRefused(none)}},
        {QStringLiteral("refusal at record 2"),
         {QStringLiteral("--refuse-at"), QStringLiteral("2")},
         {versionOk()},
         {downloadRefused(QStringLiteral("\\.\\."))}},
        {QStringLiteral("resend of record 2"),
         {QStringLiteral("--resend-at"), QStringLiteral("2")},
         {versionOk()},
         {downloadOk(QStringLiteral("\\.\\.E\\."))}},
        {QStringLiteral("split replies"),
         {QStringLiteral("--split"), QStringLiteral("--split-gap"), QStringLiteral("20")},
         {versionOk()},
         {downloadOk(kAllRecords)}},
        {QStringLiteral("delayed 80 %"),
         {QStringLiteral("--delay"), QString::number(kInTimeMs)},
         {versionOk()},
         {downloadOk(kAllRecords)}},
        {QStringLiteral("delayed 110 %"),
         {QStringLiteral("--delay"), QString::number(kLateMs)},
         {versionTimeOut()},
         {downloadTimeOut(none)},
         kLateMs - kTimeoutMs},
        {QStringLiteral("line closed at record 2"),
         {QStringLiteral("--pull-at"), QStringLiteral("2")},
         {versionOk()},
         {downloadLost(QStringLiteral("\\.\\."))}},
        // Noise may hit any exchange or none; every ending the exchange can have is right, as
        // long as the program goes on. The heavy row hits nearly every exchange.
        {QStringLiteral("garbage bytes"),
         {QStringLiteral("--garbage-every"), QStringLiteral("10"), QStringLiteral("--garbage-seed"),
          QStringLiteral("7")},
         anyVersion(),
         anyDownload()},
        {QStringLiteral("heavy garbage"),
         {QStringLiteral("--garbage-every"), QStringLiteral("2"), QStringLiteral("--garbage-seed"),
          QStringLiteral("3")},
         anyVersion(),
         anyDownload()},
    };
}
} // namespace

class TestFaultMatrix : public QObject {
    Q_OBJECT
    ProgramRig m_rig;
    QStringList m_rowOrder;
    QMap<QString, QMap<int, Cell>> m_table;
    QStringList m_failures; // of the row being run

    QString hexPath() const { return m_rig.path(QStringLiteral("echo.hex")); }

    // Ends the board; a program that holds its line must have noticed the loss before a new
    // board takes the same name.
    // Ends the board; a program that holds its line must have noticed the loss before a new
    // board takes the same name.
    void stopBoard()
    {
        m_rig.board.stop();
        if (m_rig.app)
            QTRY_VERIFY_WITH_TIMEOUT(!m_rig.app->readiness().serialReady(), 10000);
    }
    bool startBoard(const QStringList &options)
    {
        stopBoard();
        return m_rig.startBoard(options);
    }
    static QStringList linesFrom(const MainWindow &w, qsizetype from) { return statusLines(w.statusText(), from); }

    static const Ending *match(const QStringList &lines, const Endings &endings)
    {
        for (const Ending &e : endings) {
            if (e.patterns.size() != lines.size())
                continue;
            bool all = true;
            for (int i = 0; i < lines.size() && all; ++i)
                all = QRegularExpression(QRegularExpression::anchoredPattern(e.patterns[i])).match(lines[i]).hasMatch();
            if (all)
                return &e;
        }
        return nullptr;
    }

    // Records the cell; a failed one keeps its lines for the report.
    const Ending *judge(const QString &row, Column column, const QStringList &lines, const Endings &endings)
    {
        const Ending *e = match(lines, endings);
        Cell &cell = m_table[row][column];
        cell.pass = e != nullptr;
        cell.key = e ? lines.value(e->keyLine) : lines.value(lines.size() - 1);
        if (!e)
            m_failures << QStringLiteral("%1: unexpected lines:\n  %2").arg(kColumnNames[column],
                                                                          lines.join(QStringLiteral("\n  ")));
        return e;
    }

    void fail(const QString &row, Column column, const QString &why)
    {
        Cell &cell = m_table[row][column];
        if (cell.pass || cell.key.isEmpty())
            cell.key = why;
        cell.pass = false;
        m_failures << QStringLiteral("%1: %2").arg(kColumnNames[column], why);
    }

    // The program answers events and no exchange is left waiting.
    void checkResponds(const QString &row, Column column)
    {
        bool ran = false;
        QTimer::singleShot(0, this, [&ran] { ran = true; });
        if (!QTest::qWaitFor([&ran] { return ran; }, 5000))
            fail(row, column, QStringLiteral("the event loop does not run"));
        if (m_rig.app->link().dispatcher().isWaiting())
            fail(row, column, QStringLiteral("an exchange is still waiting"));
        if (!m_rig.prompts.messages.isEmpty())
            fail(row, column, QStringLiteral("message box: ") + m_rig.prompts.messages.join(QStringLiteral(" | ")));
        m_rig.prompts.messages.clear();
    }

    // A late reply arrives after the time-out: it must be dropped without a line.
    void checkLateAnswerDropped(MainWindow &w, const Row &row, Column column)
    {
        if (row.lateAnswerMs <= 0)
            return;
        const qsizetype before = w.statusText().size();
        // Nothing can be stepped here: the reply comes from the board process in real time.
        QTest::qWait(row.lateAnswerMs + 300);
        if (w.statusText().size() != before)
            fail(row.name, column, QStringLiteral("late answer logged: ") + w.statusText().mid(before));
    }

    // A fresh board without faults, the port taken again with F4, then good exchanges.
    void recover(MainWindow &w, const QString &row, Column column, bool withDownload)
    {
        if (!startBoard({})) {
            fail(row, column, QStringLiteral("no good board for the recovery"));
            return;
        }
        qsizetype from = w.statusText().size();
        w.action(QStringLiteral("mnuFileInitSeriel"))->trigger();
        if (linesFrom(w, from) != QStringList{QStringLiteral("Initializing serielport (Port 2)...Ok")}) {
            fail(row, column, QStringLiteral("F4 afterwards: ") + linesFrom(w, from).join(QStringLiteral(" / ")));
            return;
        }
        from = w.statusText().size();
        w.action(QStringLiteral("mnuKernelKrnlVersion"))->trigger();
        if (!match(linesFrom(w, from), {versionOk()}))
            fail(row, column, QStringLiteral("F12 afterwards: ") + linesFrom(w, from).join(QStringLiteral(" / ")));
        if (!withDownload)
            return;
        from = w.statusText().size();
        w.action(QStringLiteral("mnuKernelDownload"))->trigger();
        if (!match(linesFrom(w, from), {downloadOk(kAllRecords)}))
            fail(row, column, QStringLiteral("F5 afterwards: ") + linesFrom(w, from).join(QStringLiteral(" / ")));
    }

    // Connects the program to a board with the row's faults, through F4.
    bool connectFaultyBoard(MainWindow &w, const Row &row, Column column)
    {
        if (!startBoard(row.options)) {
            fail(row.name, column, QStringLiteral("board did not start"));
            return false;
        }
        const qsizetype from = w.statusText().size();
        w.action(QStringLiteral("mnuFileInitSeriel"))->trigger();
        if (!m_rig.app->readiness().serialReady()) {
            fail(row.name, column, QStringLiteral("F4: ") + linesFrom(w, from).join(QStringLiteral(" / ")));
            return false;
        }
        return true;
    }

    // After Download+Run: typed characters come back from the echo program when the run
    // request went out, and are refused by the window otherwise.
    void checkTerminal(MainWindow &w, const QString &row, bool ran)
    {
        std::shared_ptr<TerminalSession> terminal = m_rig.app->run().currentTerminal();
        Cell &cell = m_table[row][Terminal];
        if (!ran) {
            cell.pass = !terminal && !(w.terminalWindow() && w.terminalWindow()->keyPress('x'));
            cell.key = cell.pass ? QStringLiteral("no run, keys stay local") : QString();
            if (!cell.pass)
                fail(row, Terminal, QStringLiteral("a terminal took keys without a run"));
            return;
        }
        if (!terminal || !w.terminalWindow()) {
            fail(row, Terminal, QStringLiteral("no terminal handler after the run"));
            return;
        }
        TerminalStore &store = w.terminalWindow()->store();
        // Typed only once the program has shown it runs, as a user would. Noise bytes may
        // land between the greeting's letters, so its letters are looked for in order.
        const auto greeted = [&store] {
            const QByteArray text = store.text(0, store.size());
            qsizetype at = 0;
            for (char c : kGreeting) {
                at = text.indexOf(c, at);
                if (at < 0)
                    return false;
                ++at;
            }
            return true;
        };
        if (!QTest::qWaitFor(greeted, 10000)) {
            fail(row, Terminal, QStringLiteral("no greeting (terminal: %1)")
                                    .arg(QString::fromLatin1(store.text(0, store.size()).toHex(' '))));
            return;
        }
        for (char c : {'o', 'k'}) {
            const qint64 before = store.size();
            if (!w.terminalWindow()->keyPress(quint8(c))) {
                fail(row, Terminal, QStringLiteral("key '%1' not sent").arg(c));
                return;
            }
            // Noise may land around the echo, so the character is looked for, not compared.
            if (!QTest::qWaitFor([&] { return store.text(before, store.size()).contains(c); }, 5000)) {
                fail(row, Terminal, QStringLiteral("no echo of '%1' (terminal: %2)")
                                        .arg(c)
                                        .arg(QString::fromLatin1(store.text(0, store.size()).toHex(' '))));
                return;
            }
        }
        cell.pass = true;
        cell.key = QStringLiteral("greeting, typed \"ok\" came back");
    }

    void printMatrix() const
    {
        QList<int> width(ColumnCount + 1, 0);
        width[0] = int(QStringLiteral("misbehaviour").size());
        // Long lines (a lost device names its path) are cut; the failure message has them whole.
        const auto text = [](const Cell &c) {
            const QString key = c.key.size() > 60 ? c.key.left(57) + QStringLiteral("...") : c.key;
            return (c.pass ? QStringLiteral("pass: ") : QStringLiteral("FAIL: ")) + key;
        };
        for (const QString &row : m_rowOrder) {
            width[0] = std::max(width[0], int(row.size()));
            for (int c = 0; c < ColumnCount; ++c)
                width[c + 1] = std::max({width[c + 1], int(qstrlen(kColumnNames[c])),
                                         int(m_table[row].contains(c) ? text(m_table[row][c]).size() : 1)});
        }
        const auto line = [&width](const QStringList &cells) {
            QString out;
            for (int i = 0; i < cells.size(); ++i)
                out += QStringLiteral("| ") + cells[i].leftJustified(width[i]) + QLatin1Char(' ');
            return out + QLatin1Char('|');
        };
        QStringList head{QStringLiteral("misbehaviour")};
        for (const char *name : kColumnNames)
            head << QLatin1String(name);
        QStringList rule;
        for (int w : width)
            rule << QString(w, QLatin1Char('-'));
        qInfo().noquote() << "\nFault matrix (cells: outcome and the line that shows it)";
        qInfo().noquote() << line(head);
        qInfo().noquote() << line(rule);
        for (const QString &row : m_rowOrder) {
            QStringList cells{row};
            for (int c = 0; c < ColumnCount; ++c)
                cells << (m_table[row].contains(c) ? text(m_table[row][c]) : QStringLiteral("-"));
            qInfo().noquote() << line(cells);
        }
    }

private slots:
    void initTestCase()
    {
        qputenv("CORVADE_TEST_REQUEST_TIMEOUT_MS", QByteArray::number(kTimeoutMs));
        QVERIFY(writeFile(hexPath(), kEchoHex));
    }
    void cleanupTestCase()
    {
        m_rig.stop();
        printMatrix();
    }

    void faultRow_data()
    {
        QTest::addColumn<int>("index");
        const QList<Row> all = rows();
        for (int i = 0; i < all.size(); ++i)
            QTest::newRow(qPrintable(all[i].name)) << i;
    }
    void faultRow()
    {
        QFETCH(int, index);
        const Row row = rows().at(index);
        m_rowOrder << row.name;
        m_failures.clear();

        // Start-up: the program comes up on the faulty board and asks for the version.
        QVERIFY(startBoard(row.options));
        m_rig.configure(m_rig.linkPath());
        MainWindow &w = m_rig.startProgram(hexPath());
        const QString log = w.statusText();
        const qsizetype query = log.indexOf(QStringLiteral("Getting Kernel Version..."));
        if (query < 0)
            fail(row.name, Startup, QStringLiteral("no version query: ") + log);
        else
            judge(row.name, Startup, linesFrom(w, query), row.version);
        checkLateAnswerDropped(w, row, Startup);
        checkResponds(row.name, Startup);
        recover(w, row.name, Startup, false);

        // F12, F5 and F7 each on a fresh faulty board, each followed by a good board.
        const struct {
            Column column;
            const char *action;
            Endings endings;
        } commands[] = {
            {F12, "mnuKernelKrnlVersion", row.version},
            {F5, "mnuKernelDownload", row.download},
            {F7, "mnuKernelDownloadRun", withRun(row.download)},
        };
        for (const auto &command : commands) {
            if (!connectFaultyBoard(w, row, command.column))
                continue;
            const qsizetype from = w.statusText().size();
            QAction *action = w.action(QLatin1String(command.action));
            if (!action->isEnabled()) {
                fail(row.name, command.column, QStringLiteral("command disabled"));
                continue;
            }
            action->trigger();
            const QStringList lines = linesFrom(w, from);
            judge(row.name, command.column, lines, command.endings);
            if (command.column == F7)
                checkTerminal(w, row.name, !lines.isEmpty() && lines.last() == QLatin1String("Running file on 8051..."));
            checkLateAnswerDropped(w, row, command.column);
            checkResponds(row.name, command.column);
            recover(w, row.name, command.column, command.column != F12);
        }
        stopBoard();
        QVERIFY2(m_failures.isEmpty(), qPrintable(m_failures.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(TestFaultMatrix)
#include "tst_faults_matrix.moc"
