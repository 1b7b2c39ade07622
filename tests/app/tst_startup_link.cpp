#include "app/FrmMain.h"
#include "app/ModGlobal.h"
#include "link/BoardProcess.h"
#include "settings/Settings.h"
#include "support/ScriptedPrompter.h"

#include <QAction>
#include <QMenu>
#include "link/KernelVersion.h"
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

// The program's start-up and its port and version commands against the simulated board.
class TestStartupLink : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    ScriptedPrompter m_prompts;
    BoardProcess m_board;

    QString linkPath() const { return m_dir.path() + QStringLiteral("/ttyBOARD"); }

    void configure(const QString &device)
    {
        const QString config = m_dir.path() + QStringLiteral("/config");
        QDir(config).removeRecursively();
        qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
        QSettings s(config + QStringLiteral("/Corvade/Corvade.conf"), QSettings::IniFormat);
        s.setValue(QStringLiteral("Ports/COM 2"), device);
    }
    FrmMain &startProgram(const QString &commandLine = QString())
    {
        ResetGlobalsForTest();
        m_prompts = ScriptedPrompter();
        setPrompter(&m_prompts);
        setCommandLinePath(commandLine);
        Main();
        return MainWindow();
    }
    void startBoard(const QStringList &options)
    {
        m_board.stop();
        QFile::remove(linkPath());
        QVERIFY(!m_board.start(options, linkPath()).isEmpty());
        configure(linkPath());
    }

private slots:
    void init() { qputenv("CORVADE_TEST_REQUEST_TIMEOUT_MS", "800"); }
    void cleanup()
    {
        ResetGlobalsForTest();
        m_board.stop();
    }

    void startsAndAsksForTheVersion_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("warning");
        QTest::newRow("matching") << QStringList() << "1.0.0" << false;
        QTest::newRow("other") << QStringList{"--kernel-version", "2.0.0"} << "2.0.0" << true;
    }
    void startsAndAsksForTheVersion()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, version);
        QFETCH(bool, warning);
        startBoard(options);
        FrmMain &w = startProgram();
        const QStringList lines = w.statusText().split(QStringLiteral("\r\n"));
        QCOMPARE(lines.value(0), QStringLiteral("Initializing serielport (Port 2)...Ok"));
        QCOMPARE(lines.value(1), QStringLiteral("Getting Kernel Version..."));
        QCOMPARE(lines.value(2), QStringLiteral("Kernel version ") + version);
        QCOMPARE(lines.value(3), QStringLiteral("Corvade is compiled for Kernel version 1.0.0"));
        QCOMPARE(lines.value(4).startsWith(QStringLiteral("WARNING: Version conflict!")), warning);
        QVERIFY(AppSettings().GlobalState().SerielReady());
        QVERIFY(!w.mnuKernel()->menuAction()->isEnabled()); // no file yet
        QCOMPARE(TheKernelVersion().toString(), version);
    }

    void missingDeviceIgnored()
    {
        configure(m_dir.path() + QStringLiteral("/no-such-device"));
        ResetGlobalsForTest();
        m_prompts = ScriptedPrompter();
        m_prompts.answers << Prompter::Answer::Ignore;
        setPrompter(&m_prompts);
        setCommandLinePath(QString());
        Main();
        FrmMain &w = MainWindow();
        QCOMPARE(m_prompts.messages, QStringList{"The serielport, port 2 is invalid."});
        QCOMPARE(w.statusText(),
                 QStringLiteral("Initializing serielport (Port 2)...WARNING Serielport not initialized!\r\n"
                                "You will not be able to connect to the 8051, and many Corvade functions will be "
                                "disabled\r\n"));
        QVERIFY(!AppSettings().GlobalState().SerielReady());
    }

    void initialiseAgainAndExit()
    {
        startBoard({});
        FrmMain &w = startProgram();
        w.action(QStringLiteral("mnuFileInitSeriel"))->trigger();
        QVERIFY(w.statusText().endsWith(QStringLiteral("Initializing serielport (Port 2)...Ok\r\n")));
        QVERIFY(AppSettings().GlobalState().SerielReady());
        w.close();
        QCoreApplication::processEvents();
        QVERIFY(!AppSettingsExists());
        QSettings stored(m_dir.path() + "/config/Corvade/Corvade.conf", QSettings::IniFormat);
        QCOMPARE(stored.value("Ports/COM 2").toString(), linkPath());
    }

    void versionCommandWithFileAndDeferredReload()
    {
        startBoard({"--delay", "300"});
        const QString hex = m_dir.path() + QStringLiteral("/a.hex");
        QFile f(hex);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(":00000001FF\r\n");
        f.close();
        FrmMain &w = startProgram(hex);
        QVERIFY(w.mnuKernel()->menuAction()->isEnabled());
        QVERIFY(w.action(QStringLiteral("mnuKernelKrnlVersion"))->isEnabled());

        const int before = w.statusText().count(QStringLiteral("Reading Hex file"));
        // Coming back to the program while the kernel is answering reads the file after.
        w.applicationStateChanged(Qt::ApplicationInactive);
        QTimer::singleShot(100, &w, [&w] { w.applicationStateChanged(Qt::ApplicationActive); });
        w.action(QStringLiteral("mnuKernelKrnlVersion"))->trigger();
        const QString log = w.statusText();
        QCOMPARE(log.count(QStringLiteral("Reading Hex file")), before + 1);
        QVERIFY(log.lastIndexOf(QStringLiteral("Reading Hex file")) > log.lastIndexOf(QStringLiteral("Kernel version 1.0.0")));
    }
};

QTEST_MAIN(TestStartupLink)
#include "tst_startup_link.moc"
