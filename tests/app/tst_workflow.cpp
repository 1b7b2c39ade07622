// Download+Run from end to end through the main window, for what the window adds to the
// link: the download's progress bar, the terminal's echo in the colour the settings name, and
// F4 opening the open port again. Start-up and the other commands are in the fault matrix.
#include "hexfile/HexDownload.h"
#include "settings/Settings.h"
#include "support/ProgramRig.h"
#include "terminal/TerminalStore.h"
#include "widgets/TerminalWindow.h"

#include <QAction>
#include <QProgressBar>
#include <QStatusBar>
#include <QtTest>

class TestWorkflow : public QObject {
    Q_OBJECT
    ProgramRig m_rig;

private slots:
    void cleanup() { m_rig.stop(); }

    void downloadRunAndTalk()
    {
        MainWindow &w = m_rig.start({}, QStringLiteral(CORVADE_EXAMPLES_DIR "/hello.hex"));
        w.action(QStringLiteral("mnuFileInitSeriel"))->trigger();
        QCOMPARE(statusLines(w.statusText()).last(), "Initializing serielport (Port 2)...Ok");
        bool barShown = false;
        connect(&m_rig.app->download(), &HexDownload::progressChanged, this, [&w, &barShown] {
            if (auto *bar = w.statusBar()->findChild<QProgressBar *>())
                barShown = barShown || bar->isVisible();
        });
        m_rig.app->settings().setEcho(true);
        m_rig.app->settings().setEchoColor(0x0000FF);
        w.action(QStringLiteral("mnuKernelDownloadRun"))->trigger();
        QVERIFY2(w.statusText().endsWith(QStringLiteral("Ok\r\nRunning file on 8051...\r\n")),
                 qPrintable(w.statusText()));
        QVERIFY(barShown && !w.statusBar()->isVisible());
        // The whole greeting, up to its last line end (a line feed shows as <10>).
        TerminalStore &store = w.terminalWindow()->store();
        QTRY_VERIFY_WITH_TIMEOUT(store.text(0, store.size()).contains("Hello from the 8051!"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(store.text(0, store.size()).endsWith("comes back.\r<10>"), 10000);
        // The local echo in its colour, then the program's own echo in the text colour.
        const qint64 before = store.size();
        QVERIFY(w.terminalWindow()->keyPress('x'));
        QCOMPARE(store.text(before, before + 1), QByteArray("x"));
        QCOMPARE(store.colorAt(before), ColorRef(0x0000FF));
        QTRY_VERIFY_WITH_TIMEOUT(store.size() >= before + 2, 5000);
        QCOMPARE(store.text(before + 1, before + 2), QByteArray("x"));
        QCOMPARE(store.colorAt(before + 1), ColorRef(0));
    }
};

QTEST_MAIN(TestWorkflow)
#include "tst_workflow.moc"
