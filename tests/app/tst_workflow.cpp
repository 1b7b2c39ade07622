// The program against corvade-board from end to end: start-up, the port and version
// commands, Download+Run and the terminal, and the port handed to an external terminal.
#include "hexfile/HexDownload.h"
#include "link/KernelVersion.h"
#include "settings/Settings.h"
#include "support/ProgramRig.h"
#include "support/TestFiles.h"
#include "terminal/TerminalStore.h"
#include "widgets/TerminalWindow.h"

#include <QAction>
#include <QMenu>
#include <QProgressBar>
#include <QStatusBar>
#include <QtTest>

namespace {
const QString kOpened = QStringLiteral("Initializing serielport (Port 2)...Ok");
QString hello() { return QStringLiteral(CORVADE_EXAMPLES_DIR "/hello.hex"); }
}

class TestWorkflow : public QObject {
    Q_OBJECT
    ProgramRig m_rig;

private slots:
    void init() { qputenv("CORVADE_TEST_REQUEST_TIMEOUT_MS", "1500"); }
    void cleanup() { m_rig.stop(); }

    void startUpAsksForTheVersionAndF4Reopens()
    {
        MainWindow &w = m_rig.start({"--kernel-version", "2.0.0"});
        const QStringList lines = statusLines(w.statusText());
        QCOMPARE(lines.mid(0, 4), (QStringList{kOpened, "Getting Kernel Version...", "Kernel version 2.0.0",
                                               "Corvade is compiled for Kernel version 1.0.0"}));
        QVERIFY(lines.value(4).startsWith(QStringLiteral("WARNING: Version conflict!")));
        QCOMPARE(m_rig.app->link().kernel().version().toString(), QStringLiteral("2.0.0"));
        QVERIFY(m_rig.app->readiness().serialReady());
        QVERIFY(!w.kernelMenu()->menuAction()->isEnabled()); // no file yet

        w.action(QStringLiteral("mnuFileInitSeriel"))->trigger();
        QCOMPARE(statusLines(w.statusText()).last(), kOpened);
        QVERIFY(m_rig.app->readiness().serialReady());
        w.close();
        QCoreApplication::processEvents();
        QCOMPARE(QSettings(m_rig.configFile(), QSettings::IniFormat).value("Ports/COM 2").toString(), m_rig.linkPath());
    }

    void downloadRunAndTalk()
    {
        MainWindow &w = m_rig.start({}, hello());
        bool barShown = false;
        connect(&m_rig.app->download(), &HexDownload::progressChanged, this, [&w, &barShown] {
            if (auto *bar = w.statusBar()->findChild<QProgressBar *>())
                barShown = barShown || bar->isVisible();
        });
        m_rig.app->settings().setEcho(true);
        m_rig.app->settings().setEchoColor(0x0000FF);
        w.action(QStringLiteral("mnuKernelDownloadRun"))->trigger();
        QVERIFY2(w.statusText().contains(QRegularExpression(
                     QStringLiteral("Downloading hexfile\\.+Ok\\r\\nRunning file on 8051\\.\\.\\.\\r\\n"))),
                 qPrintable(w.statusText()));
        QVERIFY(barShown);
        QVERIFY(!w.statusBar()->isVisible());

        // The whole greeting, up to its last line end (a line feed shows as <10>).
        TerminalStore &store = w.terminalWindow()->store();
        const auto text = [&store] { return store.text(0, store.size()); };
        QTRY_VERIFY_WITH_TIMEOUT(text().contains("Hello from the 8051!"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(text().endsWith("comes back.\r<10>"), 10000);
        // The local echo in its colour, then the program's own echo in the text colour.
        const qint64 before = store.size();
        QVERIFY(w.terminalWindow()->keyPress('x'));
        QCOMPARE(store.text(before, before + 1), QByteArray("x"));
        QCOMPARE(store.colorAt(before), ColorRef(0x0000FF));
        QTRY_VERIFY_WITH_TIMEOUT(store.size() >= before + 2, 5000);
        QCOMPARE(store.text(before + 1, before + 2), QByteArray("x"));
        QCOMPARE(store.colorAt(before + 1), ColorRef(0));
    }

    void externalTerminalReleasesThePort()
    {
        MainWindow &w = m_rig.start({"--hangup-grace", "60000"}, hello());
        m_rig.app->settings().setUseExternalTerminal(true);
        w.action(QStringLiteral("mnuKernelRun"))->trigger();
        QVERIFY(w.statusText().endsWith(QStringLiteral(
            "Running file on 8051...\r\nClosing serial port, to use external terminal\r\n")));
        w.action(QStringLiteral("mnuFileInitSeriel"))->trigger();
        QCOMPARE(statusLines(w.statusText()).last(), kOpened);
    }

};

QTEST_MAIN(TestWorkflow)
#include "tst_workflow.moc"
