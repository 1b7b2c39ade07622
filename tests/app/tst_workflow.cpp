#include "app/FrmMain.h"
#include "app/ModGlobal.h"
#include "hexfile/HexDownload.h"
#include "link/BoardProcess.h"
#include "settings/FrmSettings.h"
#include "settings/Settings.h"
#include "support/ScriptedPrompter.h"
#include "terminal/TerminalStore.h"
#include "terminal/frmTerminal.h"

#include <QAction>
#include <QFile>
#include <QProgressBar>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

// The main job from end to end: load, Download+Run on the simulated board, talk to the
// program the emulated 8051 runs.
class TestWorkflow : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    ScriptedPrompter m_prompts;
    BoardProcess m_board;

    QString linkPath() const { return m_dir.path() + QStringLiteral("/ttyBOARD"); }
    static QString hello() { return QStringLiteral(CORVADE_EXAMPLES_DIR "/hello.hex"); }

    FrmMain &start(const QStringList &boardOptions, const QString &hex = hello())
    {
        m_board.stop();
        QFile::remove(linkPath());
        if (m_board.start(boardOptions, linkPath()).isEmpty())
            qFatal("corvade-board did not start");
        const QString config = m_dir.path() + QStringLiteral("/config");
        QDir(config).removeRecursively();
        qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
        QSettings(config + QStringLiteral("/Corvade/Corvade.conf"), QSettings::IniFormat)
            .setValue(QStringLiteral("Ports/COM 2"), linkPath());
        ResetGlobalsForTest();
        m_prompts = ScriptedPrompter();
        setPrompter(&m_prompts);
        setCommandLinePath(hex);
        Main();
        return MainWindow();
    }
    static QByteArray terminalText(FrmMain &w)
    {
        if (!w.terminalWindow())
            return {};
        TerminalStore &store = w.terminalWindow()->store();
        return store.text(0, store.size());
    }

private slots:
    void init() { qputenv("CORVADE_TEST_REQUEST_TIMEOUT_MS", "1500"); }
    void cleanup()
    {
        ResetGlobalsForTest();
        m_board.stop();
    }

    void downloadRunAndTalk()
    {
        FrmMain &w = start({});
        QVERIFY(w.action(QStringLiteral("mnuKernelDownloadRun"))->isEnabled());
        bool barShown = false;
        connect(&Downloader(), &HexDownload::progressChanged, this, [&w, &barShown] {
            if (auto *bar = w.statusBar()->findChild<QProgressBar *>())
                barShown = barShown || bar->isVisible();
        });
        AppSettings().setEcho(true);
        AppSettings().setEchoColor(0x0000FF); // red
        w.action(QStringLiteral("mnuKernelDownloadRun"))->trigger();

        const QString log = w.statusText();
        QVERIFY2(log.contains(QRegularExpression(QStringLiteral("Downloading hexfile\\.+Ok\\r\\nRunning file on 8051\\.\\.\\.\\r\\n"))),
                 qPrintable(log));
        QVERIFY(barShown);
        QVERIFY(!w.statusBar()->isVisible());

        // The whole greeting, up to its last line end (a line feed shows as <10>).
        QTRY_VERIFY_WITH_TIMEOUT(terminalText(w).contains("Hello from the 8051!"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(terminalText(w).endsWith("comes back.\r<10>"), 10000);
        const qint64 before = w.terminalWindow()->store().size();
        QVERIFY(w.terminalWindow()->KeyPress('x'));
        // The local echo in its colour, then the program's own echo in the text colour.
        TerminalStore &store = w.terminalWindow()->store();
        QCOMPARE(store.text(before, before + 1), QByteArray("x"));
        QCOMPARE(store.colorAt(before), ColorRef(0x0000FF));
        QTRY_VERIFY_WITH_TIMEOUT(store.size() >= before + 2, 5000);
        QCOMPARE(store.text(before + 1, before + 2), QByteArray("x"));
        QCOMPARE(store.colorAt(before + 1), ColorRef(0));
    }

    void failedDownloadSendsNoRun()
    {
        FrmMain &w = start({QStringLiteral("--refuse-at"), QStringLiteral("1")});
        w.action(QStringLiteral("mnuKernelDownloadRun"))->trigger();
        const QString log = w.statusText();
        QVERIFY2(log.contains(QStringLiteral("ERROR: The file was not downloaded")), qPrintable(log));
        QVERIFY(!log.contains(QStringLiteral("Running file on 8051...")));
    }

    void externalTerminalReleasesThePort()
    {
        FrmMain &w = start({QStringLiteral("--hangup-grace"), QStringLiteral("60000")});
        AppSettings().setUseExternalTerminal(true);
        w.action(QStringLiteral("mnuKernelRun"))->trigger();
        QVERIFY(w.statusText().endsWith(QStringLiteral(
            "Running file on 8051...\r\nClosing serial port, to use external terminal\r\n")));
        // F4 takes the port back.
        w.action(QStringLiteral("mnuFileInitSeriel"))->trigger();
        QVERIFY(w.statusText().endsWith(QStringLiteral("Initializing serielport (Port 2)...Ok\r\n")));
    }

    void settingsOkReopensThePort()
    {
        FrmMain &w = start({});
        w.action(QStringLiteral("mnuFileSettings"))->trigger();
        frmSettings *dialog = frmSettings::Current();
        QVERIFY(dialog);
        dialog->cmdOk_Click();
        QVERIFY2(w.statusText().endsWith(QStringLiteral("Initializing serielport (Port 2)...Ok\r\n")),
                 qPrintable(w.statusText()));
        QVERIFY(AppSettings().GlobalState().SerielReady());
    }
};

QTEST_MAIN(TestWorkflow)
#include "tst_workflow.moc"
