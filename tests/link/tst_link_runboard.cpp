// Download+Run against the simulated board over a real pseudo-terminal, with the terminal
// window's key path: the greeting arrives, typed keys reach the board and come back.
#include "app/ClsGlobalState.h"
#include "hexfile/ClsDownloadHexFile.h"
#include "hexfile/HexDownload.h"
#include "link/RunLink.h"
#include "link/SerialLink.h"
#include "link/clsRun.h"
#include "settings/Settings.h"
#include "terminal/TerminalSurface.h"
#include "terminal/TerminalView.h"
#include "terminal/clsTerminal.h"
#include "terminal/frmTerminal.h"
#include "tests/link/BoardProcess.h"
#include "tests/link/LinkTestDoubles.h"

#include <QFile>
#include <QPointer>
#include <QSerialPort>
#include <QtTest>

namespace {
const QString kRunning = QStringLiteral("Running file on 8051...");
const QByteArray kGreeting = QByteArrayLiteral("Hello from corvade-board");
constexpr ColorRef EchoCol = 0xC08000;
const QStringList kRecords{QStringLiteral(":03000000020003F8"), QStringLiteral(":00000001FF")};

// A stand-in for HexFile's download with the board's protocol: 0x02, then one record per
// acknowledgement; 0x03 or the last acknowledgement ends it well, anything else badly.
class DownloadStandIn : public LinkHandler {
public:
    void Receive(const QByteArray &Packet) override
    {
        const char b = Packet.at(0);
        if (b == 0x02)
            ++m_acks;
        else if (b == 0x03)
            m_complete = true;
        else
            m_failed = true;
    }
    int PacketsToReceive() const override { return 1; }
    void OnRequestAborted() override { m_failed = true; }

    static bool run(LinkDispatcher &link, const QStringList &records)
    {
        auto self = std::make_shared<DownloadStandIn>();
        link.setCurrentHandler(self);
        link.status().AppendStatus(QStringLiteral("Downloading hexfile"), false);
        link.requestTimer().setEnabled(true);
        bool ok = link.send(QByteArray("\x02"), true);
        int sent = 0;
        while (ok) {
            link.waitUntil([&] { return self->m_acks > sent || self->m_complete || self->m_failed; });
            link.requestTimer().setEnabled(false);
            if (self->m_failed) {
                ok = false;
                break;
            }
            if (self->m_complete || sent == records.size())
                break;
            link.status().AppendStatus(QStringLiteral("."), false);
            link.requestTimer().setEnabled(true);
            ok = link.send(records.at(sent++).toLatin1(), true);
        }
        link.status().AppendStatus(ok ? QStringLiteral("Ok") : QStringLiteral("Abort"), true);
        link.releaseHandler(self.get());
        return ok;
    }

private:
    int m_acks = 0;
    bool m_complete = false;
    bool m_failed = false;
};

// The terminal window as the main window keeps it: created on first use, and again after
// the user closed it.
class WindowSurface : public TerminalSurface {
public:
    WindowSurface(Settings &settings) : m_settings(settings) {}
    ~WindowSurface() override { delete window; }

    TerminalRenderer &renderer() override
    {
        if (!window) {
            window = new frmTerminal;
            window->setSendHook([this](quint8 c) { return run && run->TerminalKeyPress(c); });
            window->setEchoHook([this] {
                return frmTerminal::EchoSetting{m_settings.Echo(), ColorRef(m_settings.EchoColor())};
            });
            window->resize(400, 200);
            window->show();
        }
        return window->renderer();
    }

    QByteArray text() const { return window ? window->store().text(0, window->store().size()) : QByteArray(); }

    RunLink *run = nullptr;
    QPointer<frmTerminal> window;

private:
    Settings &m_settings;
};

struct LiveRig {
    explicit LiveRig(QString path) : device(std::move(path))
    {
        surface.run = &run;
        run.setDownload([this] { return DownloadStandIn::run(serial.dispatcher(), kRecords); });
    }

    QString device;
    RecordingStatus status;
    ScriptedPrompter prompter;
    ClsGlobalState state;
    Settings settings;
    WindowSurface surface{settings};
    SerialLink serial{status, prompter, state, {[] { return 2; }, [this](int) { return device; }, [] {}}};
    RunLink run{serial.dispatcher(), serial.port(), state, settings, prompter, surface};
};

QStringList readLog(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Received chunks after the run request, joined, as the board's log shows them.
QByteArray receivedAfterRun(const QStringList &log)
{
    const qsizetype at = log.indexOf(QStringLiteral("03"));
    QByteArray out;
    for (qsizetype i = at + 1; at >= 0 && i < log.size(); ++i)
        out += QByteArray::fromHex(log.at(i).toLatin1());
    return out;
}
} // namespace

class TestLinkRunBoard : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void downloadRunTalks_data();
    void downloadRunTalks();
    void externalTerminalGetsThePort();
    void failedDownloadSendsNoRun();
    void emulated8051RunsHello_data();
    void emulated8051RunsHello();

private:
    QTemporaryDir m_dir;
};

void TestLinkRunBoard::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("CORVADE_TEST_REQUEST_TIMEOUT_MS", "3000");
}

void TestLinkRunBoard::downloadRunTalks_data()
{
    QTest::addColumn<bool>("echo");
    QTest::addColumn<QString>("speed");
    QTest::newRow("echo off") << false << "19200";
    QTest::newRow("echo on, terminal at 9600") << true << "9600";
}

void TestLinkRunBoard::downloadRunTalks()
{
    QFETCH(bool, echo);
    QFETCH(QString, speed);

    const QString log = m_dir.filePath(QStringLiteral("talk-%1.log").arg(echo));
    BoardProcess board;
    LiveRig rig(board.start({"--program", "echo"}, {}, log));
    QVERIFY(!rig.device.isEmpty());
    rig.settings.setEcho(echo);
    rig.settings.setEchoColor(qint32(EchoCol));
    rig.settings.setTerminalSpeed(speed);
    QVERIFY(rig.serial.port().InitSerialPort());
    rig.status.clear();

    rig.run.mnuKernelDownloadRun_Click();
    QCOMPARE(rig.status.lines(), (QStringList{"Downloading hexfile..Ok", kRunning}));
    QVERIFY(rig.run.currentTerminal());
    QVERIFY(rig.state.SerielReady());
    QVERIFY(rig.surface.window);

    // The board's greeting reaches the terminal; its echo of the request comes first.
    QTRY_VERIFY_WITH_TIMEOUT(rig.surface.text().contains(kGreeting), 10000);
    QVERIFY(rig.surface.text().startsWith("<3>"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.surface.text().endsWith("\r<10>"), 10000);

    // Typed keys, one at a time so the local echo and the board's cannot interleave.
    TerminalView &view = rig.surface.window->txtTerminal();
    const struct {
        Qt::Key key;
        char c;
    } keys[] = {{Qt::Key_H, 'h'}, {Qt::Key_I, 'i'}, {Qt::Key_Return, '\r'}};
    for (const auto &k : keys) {
        const TerminalStore &store = rig.surface.window->store();
        const qint64 before = store.size();
        QTest::keyClick(&view, k.key);
        if (echo) {
            QCOMPARE(store.size(), before + 1);
            QCOMPARE(store.at(before), k.c);
            QCOMPARE(store.colorAt(before), EchoCol);
        }
        const qint64 expected = before + (echo ? 2 : 1);
        QTRY_COMPARE_WITH_TIMEOUT(store.size(), expected, 10000);
        QCOMPARE(store.at(expected - 1), k.c);
        QCOMPARE(store.colorAt(expected - 1), ColorRef(0));
    }
    QTRY_COMPARE_WITH_TIMEOUT(receivedAfterRun(readLog(log)), QByteArray("hi\r"), 10000);
    QVERIFY(rig.prompter.boxes.isEmpty());

    // The user closes the terminal window; the board's next words bring it back.
    delete rig.surface.window;
    QVERIFY(rig.run.TerminalKeyPress('!'));
    QTRY_VERIFY_WITH_TIMEOUT(rig.surface.window && rig.surface.text() == "!", 10000);
}

void TestLinkRunBoard::externalTerminalGetsThePort()
{
    const QString log = m_dir.filePath(QStringLiteral("external.log"));
    BoardProcess board;
    LiveRig rig(board.start({"--program", "echo", "--hangup-grace", "60000"}, {}, log));
    QVERIFY(!rig.device.isEmpty());
    rig.settings.setUseExternalTerminal(true);
    QVERIFY(rig.serial.port().InitSerialPort());
    rig.status.clear();

    rig.run.mnuKernelDownloadRun_Click();
    QCOMPARE(rig.status.lines(), (QStringList{"Downloading hexfile..Ok", kRunning,
                                              "Closing serial port, to use external terminal"}));
    QVERIFY(!rig.serial.link().isOpen());
    QVERIFY(std::dynamic_pointer_cast<clsRun>(rig.serial.dispatcher().CurrentHandler()));
    QVERIFY(rig.state.SerielReady());
    // The request went out before the port closed.
    QTRY_VERIFY_WITH_TIMEOUT(readLog(log).contains(QStringLiteral("03")), 10000);

    // Another program can now open the line and talk to the running program.
    QSerialPort other;
    other.setPortName(rig.device);
    QVERIFY2(other.open(QIODevice::ReadWrite), qPrintable(other.errorString()));
    other.write("xyz");
    QByteArray back;
    QTRY_VERIFY_WITH_TIMEOUT((back += other.readAll()).contains("xyz"), 10000);
    QVERIFY(!rig.run.TerminalKeyPress('q'));
}

void TestLinkRunBoard::failedDownloadSendsNoRun()
{
    const QString log = m_dir.filePath(QStringLiteral("refused.log"));
    BoardProcess board;
    LiveRig rig(board.start({"--program", "echo", "--refuse-at", "2"}, {}, log));
    QVERIFY(!rig.device.isEmpty());
    QVERIFY(rig.serial.port().InitSerialPort());
    rig.status.clear();

    rig.run.mnuKernelDownloadRun_Click();
    QCOMPARE(rig.status.lines(), QStringList{"Downloading hexfile..Abort"});
    QVERIFY(!rig.serial.dispatcher().CurrentHandler());
    QVERIFY(rig.serial.link().isOpen());
    // Give a stray run request time to arrive before looking for it.
    rig.serial.link().flush();
    QTest::qWait(200);
    const QStringList received = readLog(log);
    QCOMPARE(received.size(), 3); // 0x02 and the two records
    QVERIFY(!received.contains(QStringLiteral("03")));
    QVERIFY(rig.surface.text().isEmpty());
}

void TestLinkRunBoard::emulated8051RunsHello_data()
{
    QTest::addColumn<bool>("hexFileDownload");
    QTest::newRow("stand-in download") << false;
    QTest::newRow("HexFile download") << true;
}

void TestLinkRunBoard::emulated8051RunsHello()
{
    QFETCH(bool, hexFileDownload);
    const QString path = QStringLiteral(CORVADE_EXAMPLES_DIR "/hello.hex");
    QFile hex(path);
    QVERIFY2(hex.open(QIODevice::ReadOnly), qPrintable(hex.fileName()));
    QStringList records;
    for (const QByteArray &line : hex.readAll().split('\n')) {
        if (line.trimmed().startsWith(':'))
            records << QString::fromLatin1(line.trimmed());
    }
    QVERIFY(records.size() > 2);

    BoardProcess board;
    LiveRig rig(board.start({}));
    QVERIFY(!rig.device.isEmpty());
    rig.run.setDownload([&] { return DownloadStandIn::run(rig.serial.dispatcher(), records); });
    clsDownloadHexFile hexFile;
    HexDownload download(rig.serial.dispatcher(), hexFile);
    if (hexFileDownload) {
        hexFile.setPath(path);
        QCOMPARE(hexFile.ReadHexFile(rig.status), int(clsDownloadHexFile::Ok));
        QCOMPARE(hexFile.RecordCount(), records.size());
        rig.run.setDownload([&] { return download.Download(); });
    }
    QVERIFY(rig.serial.port().InitSerialPort());
    rig.status.clear();

    rig.run.mnuKernelDownloadRun_Click();
    QCOMPARE(rig.status.lines(),
             (QStringList{QStringLiteral("Downloading hexfile") + QString(records.size(), QLatin1Char('.')) + "Ok",
                          kRunning}));
    // The program's own words, at the terminal speed its UART was set up for.
    const QByteArray greeting = "Hello from the 8051!\r<10>Type something and it comes back.\r<10>";
    QTRY_VERIFY_WITH_TIMEOUT(rig.surface.text().endsWith(greeting), 10000);
    const qint64 before = rig.surface.window->store().size();
    QTest::keyClick(&rig.surface.window->txtTerminal(), Qt::Key_Z);
    QTRY_COMPARE_WITH_TIMEOUT(rig.surface.window->store().size(), before + 1, 10000);
    QVERIFY(rig.surface.text().endsWith("z"));
}

QTEST_MAIN(TestLinkRunBoard)
#include "tst_link_runboard.moc"
