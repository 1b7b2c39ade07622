// Download+Run from end to end through the main window, for what the window adds to the
// link: the download's progress bar, the terminal's echo in the colour the settings name, and
// F4 opening the open port again; a device chosen under its by-id name in the settings.
// Start-up and the other commands are in the fault matrix.
#include "hexfile/HexDownload.h"
#include "settings/Settings.h"
#include "support/ProgramRig.h"
#include "terminal/TerminalStore.h"
#include "widgets/SettingsDialog.h"
#include "widgets/TerminalWindow.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
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

    // The settings name the board's pseudo-terminal; the user chooses its by-id link instead.
    void chooseByIdName()
    {
        const QString byId = m_rig.byIdFolder() + "/usb-Corvade_Board_0001-if00";
        QVERIFY(m_rig.startBoard({}) && QDir().mkpath(m_rig.byIdFolder()) && QFile::link(m_rig.board.device(), byId));
        m_rig.configure(m_rig.board.device());
        MainWindow &w = m_rig.startProgram();
        w.action(QStringLiteral("mnuFileSettings"))->trigger();
        QComboBox *box = SettingsDialog::current()->portDeviceCombo();
        QCOMPARE(box->currentText(), m_rig.board.device()); // offered, not rewritten unasked
        box->showPopup();
        QTest::keyClick(box->view(), Qt::Key_Return);
        QCOMPARE(box->currentText(), byId);
        const qsizetype from = w.statusText().size();
        QTest::keyClick(SettingsDialog::current(), Qt::Key_Return);
        w.queryKernelVersion(); // through the link, which the INI file keeps
        QVERIFY2(statusLines(w.statusText(), from).contains("Kernel version 1.0.0"), qPrintable(w.statusText()));
        w.close();
        QCOMPARE(QSettings(m_rig.configFile(), QSettings::IniFormat).value("Ports/COM 2").toString(), byId);
    }
};

QTEST_MAIN(TestWorkflow)
#include "tst_workflow.moc"
