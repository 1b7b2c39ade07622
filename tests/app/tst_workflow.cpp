// Download+Run from end to end through the main window, for what the window adds to the
// link: the download's progress bar, the terminal's echo in the colour the settings name, and
// F4 opening the open port again. Start-up and the other commands are in the fault matrix.
#include "hexfile/HexDownload.h"
#include "settings/Settings.h"
#include "support/ProgramRig.h"
#include "terminal/TerminalStore.h"
#include "widgets/TerminalWindow.h"

#include <QAction>
#include <QRegularExpression>
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

    // The Terminal menu's views while counter.hex counts: what is held is shown again as
    // hex rows, then plain, then stamped, and lines that come later are stamped as well.
    void viewsRenderAgain()
    {
        MainWindow &w = m_rig.start({}, QStringLiteral(CORVADE_EXAMPLES_DIR "/counter.hex"));
        w.action(QStringLiteral("mnuKernelDownloadRun"))->trigger();
        TerminalStore &store = w.terminalWindow()->store();
        const auto text = [&store] { return store.text(0, store.size()); };
        QTRY_VERIFY_WITH_TIMEOUT(text().contains("Counting seconds\r<10>1\r"), 10000);
        w.action(QStringLiteral("mnuTerminalHexView"))->trigger();
        // The run request's answer 0x03 comes first; the LF after "1" may still be on its way.
        QVERIFY(text().startsWith("00000000  03 43 6F 75 6E 74 69 6E  67 20 73 65 63 6F 6E 64  .Counting second\r"
                                  "00000010  73 0D 0A 31 0D"));
        w.action(QStringLiteral("mnuTerminalHexView"))->trigger();
        QVERIFY(text().startsWith("<3>Counting seconds\r<10>1\r"));
        w.action(QStringLiteral("mnuTerminalTimeStamps"))->trigger();
        // The line feed after each number waits a second for the next: the pause begins a line.
        const qint64 lines = store.lineCount();
        QTRY_VERIFY_WITH_TIMEOUT(store.lineCount() > lines + 1, 5000);
        const QRegularExpression stamped(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] (<3>Counting seconds|(<10>)?\\d*)$"));
        for (qint64 i = 0; i + 1 < store.lineCount(); ++i) {
            const QString line = QString::fromLatin1(store.text(store.line(i).begin, store.line(i).end));
            QVERIFY2(stamped.match(line).hasMatch(), qPrintable(line));
        }
        QVERIFY(m_rig.app->settings().timeStamps() && !m_rig.app->settings().hexView());
    }
};

QTEST_MAIN(TestWorkflow)
#include "tst_workflow.moc"
