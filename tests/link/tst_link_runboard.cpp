// Download+Run against the simulated board over a real pseudo-terminal, with the terminal
// window's key path: the greeting arrives, typed keys reach the board and come back.
#include "hexfile/HexFile.h"
#include "hexfile/HexDownload.h"
#include "link/RunLink.h"
#include "link/RunRequest.h"
#include "settings/Settings.h"
#include "support/BoardProcess.h"
#include "support/LiveLink.h"
#include "support/TestFiles.h"
#include "terminal/TerminalSurface.h"
#include "widgets/TerminalView.h"
#include "link/TerminalSession.h"
#include "widgets/TerminalWindow.h"

#include <QPointer>
#include <QSerialPort>
#include <QtTest>

namespace {
const QString kRunning = QStringLiteral("Running file on 8051...");
constexpr ColorRef EchoCol = 0xC08000;

// The terminal window as the main window keeps it: created on first use, and again after
// the user closed it.
class WindowSurface : public TerminalSurface {
public:
    explicit WindowSurface(Settings &settings) : m_settings(settings) {}
    ~WindowSurface() override { delete window; }

    TerminalRenderer &renderer() override
    {
        if (!window) {
            window = new TerminalWindow;
            window->setSendHook([this](quint8 c) { return run && run->sendKey(c); });
            window->setEchoHook([this] {
                return TerminalWindow::EchoSetting{m_settings.echo(), ColorRef(m_settings.echoColor())};
            });
            window->resize(400, 200);
            window->show();
        }
        return window->renderer();
    }
    QByteArray text() const { return window ? window->store().text(0, window->store().size()) : QByteArray(); }

    RunLink *run = nullptr;
    QPointer<TerminalWindow> window;

private:
    Settings &m_settings;
};

// The port opened, a two-record file loaded and HexFile's own download behind Download+Run.
struct LiveRig : LiveLink {
    LiveRig(const QString &device, const QString &hexPath) : LiveLink(device)
    {
        surface.run = &run;
        hex.setPath(hexPath);
        ok = writeFile(hexPath, ":03000000020003F8\r\n:00000001FF\r\n") && hex.readHexFile(status) == 0
             && serial.port().openPort();
        run.setDownload([this] { return download.download(); });
        status.clear();
    }
    Settings settings;
    WindowSurface surface{settings};
    RunLink run{serial.dispatcher(), serial.port(), state, settings, prompter, surface};
    HexFile hex;
    HexDownload download{serial.dispatcher(), hex};
    bool ok = false;
};

// Received chunks after the run request, joined, as the board's log shows them.
QByteArray receivedAfterRun(const QString &logPath)
{
    const QStringList log = QString::fromLatin1(readFile(logPath)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const qsizetype at = log.indexOf(QStringLiteral("03"));
    QByteArray out;
    for (qsizetype i = at + 1; at >= 0 && i < log.size(); ++i)
        out += QByteArray::fromHex(log.at(i).toLatin1());
    return out;
}
} // namespace

class TestLinkRunBoard : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("CORVADE_TEST_REQUEST_TIMEOUT_MS", "3000");
    }

    void downloadRunTalks_data()
    {
        QTest::addColumn<bool>("echo");
        QTest::addColumn<QString>("speed");
        QTest::newRow("echo off") << false << "19200";
        QTest::newRow("echo on, terminal at 9600") << true << "9600";
    }
    void downloadRunTalks()
    {
        QFETCH(bool, echo);
        QFETCH(QString, speed);
        const QString log = m_dir.filePath(QStringLiteral("talk-%1.log").arg(echo));
        BoardProcess board;
        LiveRig rig(board.start({"--program", "echo"}, {}, log), m_dir.filePath(QStringLiteral("talk.hex")));
        QVERIFY(rig.ok);
        rig.settings.setEcho(echo);
        rig.settings.setEchoColor(qint32(EchoCol));
        rig.settings.setTerminalSpeed(speed);

        rig.run.downloadAndRun();
        QCOMPARE(rig.status.lines(), (QStringList{"Downloading hexfile..Ok", kRunning}));
        QVERIFY(rig.run.currentTerminal());
        QVERIFY(rig.state.serialReady());
        QVERIFY(rig.surface.window);

        // The board's greeting reaches the terminal; its echo of the request comes first.
        QTRY_VERIFY_WITH_TIMEOUT(rig.surface.text().contains("Hello from corvade-board"), 10000);
        QVERIFY(rig.surface.text().startsWith("<3>"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.surface.text().endsWith("\r<10>"), 10000);

        // Typed keys, one at a time so the local echo and the board's cannot interleave.
        TerminalView &view = rig.surface.window->view();
        const TerminalStore &store = rig.surface.window->store();
        const std::pair<Qt::Key, char> keys[] = {{Qt::Key_H, 'h'}, {Qt::Key_I, 'i'}, {Qt::Key_Return, '\r'}};
        for (const auto &[key, c] : keys) {
            const qint64 before = store.size();
            QTest::keyClick(&view, key);
            if (echo) {
                QCOMPARE(store.size(), before + 1);
                QCOMPARE(store.at(before), c);
                QCOMPARE(store.colorAt(before), EchoCol);
            }
            const qint64 expected = before + (echo ? 2 : 1);
            QTRY_COMPARE_WITH_TIMEOUT(store.size(), expected, 10000);
            QCOMPARE(store.at(expected - 1), c);
            QCOMPARE(store.colorAt(expected - 1), ColorRef(0));
        }
        QTRY_COMPARE_WITH_TIMEOUT(receivedAfterRun(log), QByteArray("hi\r"), 10000);
        QVERIFY(rig.prompter.boxes.isEmpty());

        // The user closes the terminal window; the board's next words bring it back.
        delete rig.surface.window;
        QVERIFY(rig.run.sendKey('!'));
        QTRY_VERIFY_WITH_TIMEOUT(rig.surface.window && rig.surface.text() == "!", 10000);
    }

    void externalTerminalGetsThePort()
    {
        const QString log = m_dir.filePath(QStringLiteral("external.log"));
        BoardProcess board;
        LiveRig rig(board.start({"--program", "echo", "--hangup-grace", "60000"}, {}, log),
                    m_dir.filePath(QStringLiteral("external.hex")));
        QVERIFY(rig.ok);
        rig.settings.setUseExternalTerminal(true);

        rig.run.downloadAndRun();
        QCOMPARE(rig.status.lines(), (QStringList{"Downloading hexfile..Ok", kRunning,
                                                  "Closing serial port, to use external terminal"}));
        QVERIFY(!rig.serial.link().isOpen());
        QVERIFY(std::dynamic_pointer_cast<RunRequest>(rig.serial.dispatcher().currentHandler()));
        QVERIFY(rig.state.serialReady());
        // The request went out before the port closed.
        QTRY_VERIFY_WITH_TIMEOUT(QString::fromLatin1(readFile(log)).split(QLatin1Char('\n')).contains("03"), 10000);

        // Another program can now open the line and talk to the running program.
        QSerialPort other;
        other.setPortName(rig.device);
        QVERIFY2(other.open(QIODevice::ReadWrite), qPrintable(other.errorString()));
        other.write("xyz");
        QByteArray back;
        QTRY_VERIFY_WITH_TIMEOUT((back += other.readAll()).contains("xyz"), 10000);
        QVERIFY(!rig.run.sendKey('q'));
    }
};

QTEST_MAIN(TestLinkRunBoard)
#include "tst_link_runboard.moc"
