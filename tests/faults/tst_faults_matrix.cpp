// Each misbehaviour of the simulated board against the user's command it hits, through the
// main window: the exchange's lines, the program going on, and recovery as a user recovers:
// reset the board, then F12 and F5 in the same program, with F4 only if the port was closed.
#include "link/LinkDispatcher.h"
#include "link/RunLink.h"
#include "link/SerialLink.h"
#include "settings/Settings.h"
#include "support/ProgramRig.h"
#include "support/TestFiles.h"
#include "widgets/TerminalWindow.h"

#include <QAction>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QtTest>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
// The cable: the program's port is a pseudo-terminal of the test's own whose far end is
// copied to and from the board's device, so a fresh board can take the place of a reset one
// while the program keeps its port open. A board that closes its line pulls the cable.
class Cable : public QObject {
public:
    explicit Cable(const QString &link) : m_master(::posix_openpt(O_RDWR | O_NOCTTY))
    {
        ::grantpt(m_master);
        ::unlockpt(m_master);
        const QString device = QString::fromLocal8Bit(::ptsname(m_master));
        m_slave = rawOpen(device); // held, so the line stays up while the program reopens it
        QFile::remove(link);
        QFile::link(device, link);
        m_fromProgram = join(m_master, &m_board);
    }
    ~Cable() override { pull(); }
    void plug(const QString &boardDevice)
    {
        m_board = rawOpen(boardDevice);
        m_fromBoard = join(m_board, &m_master);
    }
    void unplug() { cut(m_fromBoard, m_board); }
    void pull()
    {
        unplug();
        cut(m_fromProgram, m_master);
        cut(nullptr, m_slave);
    }
    // Bytes on their way to the program that it has not read yet.
    int waitingForProgram() const
    {
        int n = 0;
        return m_slave >= 0 && ::ioctl(m_slave, FIONREAD, &n) == 0 ? n : 0;
    }
    qint64 fromBoard = 0;

private:
    static int rawOpen(const QString &device)
    {
        const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY);
        termios t = {};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
        return fd;
    }
    // Copies what arrives at `from` on to `*to`; with nothing there, it is lost.
    QSocketNotifier *join(int from, int *to)
    {
        auto *notifier = new QSocketNotifier(from, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, from, to] {
            char bytes[4096];
            const ssize_t n = ::read(from, bytes, sizeof bytes);
            if (n <= 0)
                return pull(); // the board closed its end
            fromBoard += from == m_board ? n : 0;
            if (*to >= 0 && ::write(*to, bytes, size_t(n)) != n)
                qWarning("cable: a write fell short");
        });
        return notifier;
    }
    // Also called from a notifier's own signal, so the notifier is only switched off.
    static void cut(QSocketNotifier *notifier, int &fd)
    {
        if (notifier)
            notifier->setEnabled(false);
        ::close(fd);
        fd = -1;
    }
    int m_master, m_slave = -1, m_board = -1;
    QSocketNotifier *m_fromProgram = nullptr, *m_fromBoard = nullptr;
};

// Request time-out of the whole test; the delay rows are set against it with wide margins.
constexpr int kTimeoutMs = 1500;

// The lines of an exchange, as patterns.
QString query(const QString &answer) { return "Getting Kernel Version\\.\\.\\.\n" + answer; }
QString download(const QString &progress, const QString &end = "Ok") { return "Downloading hexfile" + progress + end; }
const QString kVersion = "Kernel version %1\nCorvade is compiled for Kernel version 1\\.0\\.0";
const QString kConflict = kVersion + "\nWARNING: Version conflict! This version of Corvade is compiled for use "
                                     "with another 8051 kernel\\. Some functions may not work\\.\nINFORMATION: Check "
                                     "out the Readme file or look at the Corvade website \\(.+\\), for combatibility "
                                     "information\\.";
const QString kTimeOut = "\nERROR: Request time out";
const QString kFailed = "Abort\nERROR: Transmission error\\. Check the cable, reset the 8051 and try again\n"
                        "ERROR: The file was not downloaded";
const QString kLost = "\nERROR: The serielport, port 2 \\(.+\\) was lost \\(.+\\)\\. Reconnect it and choose Initialise "
                      "serielport \\(F4\\)\n";
const QString kVersionOk = query(kVersion.arg("1\\.0\\.0"));
const QString kDownloaded = download("\\.\\.\\.");

bool matchesOne(const QString &text, const QStringList &patterns)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(patterns.join('|'))).match(text).hasMatch();
}
} // namespace

class TestFaultMatrix : public QObject {
    Q_OBJECT
    ProgramRig m_rig;
    std::unique_ptr<Cable> m_cable;

    // A board with `options` behind the cable, in the place of the one there before.
    bool joinBoard(const QStringList &options)
    {
        m_cable->unplug();
        m_rig.board.stop();
        const QString device = m_rig.board.start(options);
        if (!device.isEmpty())
            m_cable->plug(device);
        return !device.isEmpty();
    }
    // Everything the board sent has left the line and, while the port is open, been handed
    // to the program's handlers.
    bool allHandedOver() const
    {
        const SerialByteLink &link = m_rig.app->link().link();
        return m_cable->waitingForProgram() == 0 && (!link.isOpen() || link.bytesDelivered() == m_cable->fromBoard);
    }
    // The command's status lines, joined with line feeds.
    static QString run(MainWindow &w, const QString &action)
    {
        const qsizetype from = w.statusText().size();
        w.action(action)->trigger();
        return statusLines(w.statusText(), from).join('\n');
    }

private slots:
    void initTestCase() { qputenv("CORVADE_TEST_REQUEST_TIMEOUT_MS", QByteArray::number(kTimeoutMs)); }
    void cleanup()
    {
        m_rig.stop();
        m_cable.reset();
    }

    void faultRow_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("command");     // the action, or empty for the start-up query
        QTest::addColumn<QStringList>("endings"); // the exchange's lines: any one of them
        QTest::addColumn<QString>("why");         // for rows that take more than one ending
        const QString startUp, f12 = "mnuKernelKrnlVersion", f5 = "mnuKernelDownload", f7 = "mnuKernelDownloadRun";
        const auto row = [](const char *name, const QStringList &options, const QString &command,
                            const QStringList &endings, const QString &why = {}) {
            QTest::newRow(name) << options << command << endings << why;
        };
        row("silent / start-up", {"--silent"}, startUp, {query(kTimeOut)});
        row("silent / F5", {"--silent"}, f5, {download({}, kTimeOut + "\n" + kFailed)});
        row("other version / start-up", {"--kernel-version", "2.0.7"}, startUp, {query(kConflict.arg("2\\.0\\.7"))});
        row("wrong first byte / F12", {"--first-byte", "0x55"}, f12, {query("ERROR: Commands do not match")});
        row("wrong first byte / F5", {"--first-byte", "0x55"}, f5, {download({}, kFailed)});
        row("refusal at record 2 / F5", {"--refuse-at", "2"}, f5, {download("\\.\\.", kFailed)});
        // Download+Run sends no run request after a failed download.
        row("refusal at record 2 / F7", {"--refuse-at", "2"}, f7, {download("\\.\\.", kFailed)});
        row("resend of record 2 / F5", {"--resend-at", "2"}, f5, {download("\\.\\.E\\.")});
        row("split replies / F12", {"--split"}, f12, {kVersionOk});
        // Each reply within the time-out, the whole download well beyond it.
        row("replies at half the time-out / F5", {"--delay", QString::number(kTimeoutMs / 2)}, f5, {kDownloaded});
        row("reply at 1.5 times the time-out / F12", {"--delay", QString::number(kTimeoutMs * 3 / 2)}, f12,
            {query(kTimeOut)});
        row("pulled cable at record 2 / F5", {"--pull-at", "2"}, f5, {download("\\.\\.", kLost + kFailed)});
        row("noise / F5", {"--garbage-every", "10", "--garbage-seed", "7"}, f5,
            {download("[.E]*"), download("[.E]*", kFailed), download("[.E]*", kTimeOut + "\n" + kFailed)},
            "a noise byte may stand for the answer to the request or to any record, or miss them all");
        row("heavy noise / F12", {"--garbage-every", "2", "--garbage-seed", "3"}, f12,
            {kVersionOk, query(kConflict.arg("\\d+\\.\\d+\\.\\d+")), query("ERROR: Commands do not match"),
             query(kTimeOut)},
            "noise before the answer is a wrong request code, in it another version; lost bytes are a time-out");
    }
    void faultRow()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, command);
        QFETCH(QStringList, endings);
        QFETCH(QString, why);
        QVERIFY(writeHexFile(m_rig.path(QStringLiteral("three.hex")), dataRecords(2, true)));
        m_cable = std::make_unique<Cable>(m_rig.linkPath());

        // The program starts on a well-behaved board, unless the fault is met at start-up.
        QVERIFY(joinBoard(command.isEmpty() ? options : QStringList()));
        m_rig.configure(m_rig.linkPath());
        MainWindow &w = m_rig.startProgram(m_rig.path(QStringLiteral("three.hex")));
        const qint64 sent = m_cable->fromBoard;
        QString lines = statusLines(w.statusText(), w.statusText().indexOf("Getting Kernel")).join('\n');
        if (!command.isEmpty()) {
            QVERIFY(joinBoard(options));
            lines = run(w, command);
        }
        QVERIFY2(matchesOne(lines, endings), qPrintable(QStringLiteral("lines:\n%1\n%2").arg(lines, why)));
        QVERIFY(!m_rig.app->link().dispatcher().isWaiting());
        QCOMPARE(m_rig.prompts.messages, QStringList());
        if (command.endsWith("Run"))
            QVERIFY(!m_rig.app->run().currentTerminal() && !w.terminalWindow()->keyPress('x'));
        if (options.contains("--delay") && lines.endsWith("time out")) {
            // The late answer (the 4 bytes of a version) reaches the program, which drops it.
            const QString log = w.statusText();
            QTRY_VERIFY_WITH_TIMEOUT(m_cable->fromBoard >= sent + 4 && allHandedOver(), 10000);
            QCOMPARE(w.statusText(), log);
        }

        // The user resets the board and tries again. Only a closed port is opened first.
        const bool lost = options.contains("--pull-at");
        QCOMPARE(m_rig.app->readiness().serialReady(), !lost);
        if (lost)
            m_cable = std::make_unique<Cable>(m_rig.linkPath());
        QVERIFY(joinBoard({}));
        QTRY_VERIFY(allHandedOver()); // what the old board sent is read (and dropped) first
        if (lost)
            QCOMPARE(run(w, "mnuFileInitSeriel"), "Initializing serielport (Port 2)...Ok");
        QVERIFY2(matchesOne(run(w, "mnuKernelKrnlVersion"), {kVersionOk}), qPrintable(w.statusText()));
        QVERIFY2(matchesOne(run(w, "mnuKernelDownload"), {kDownloaded}), qPrintable(w.statusText()));
    }
};

QTEST_MAIN(TestFaultMatrix)
#include "tst_faults_matrix.moc"
