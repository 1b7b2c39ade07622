#include "app/MainWindow.h"
#include "app/Application.h"
#include "hexfile/HexFile.h"
#include "settings/Settings.h"
#include "support/ScriptedPrompter.h"

#include <QAction>
#include <QFile>
#include <QMdiArea>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QByteArray kGood = ":03000000020003F8\r\n:00000001FF\r\n";
}

class TestFileCommands : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    ScriptedPrompter m_prompts;

    QString writeFile(const QString &name, const QByteArray &content)
    {
        const QString path = m_dir.path() + QLatin1Char('/') + name;
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        f.write(content);
        return path;
    }
    void freshConfig()
    {
        const QString config = m_dir.path() + QStringLiteral("/config");
        QDir(config).removeRecursively();
        qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
    }
    MainWindow &start(const QString &commandLine = QString())
    {
        ResetGlobalsForTest();
        m_prompts = ScriptedPrompter();
        setPrompter(&m_prompts);
        setCommandLinePath(commandLine);
        settings();
        MainWindow &w = MainWindow();
        w.show();
        QCoreApplication::processEvents();
        return w;
    }
    void stop()
    {
        if (MainWindow *w = MainWindowIfExists())
            w->close();
        QCoreApplication::processEvents();
    }
    QSettings store() { return QSettings(m_dir.path() + "/config/Corvade/Corvade.conf", QSettings::IniFormat); }

private slots:
    void init() { freshConfig(); }
    void cleanup() { ResetGlobalsForTest(); }

    void commandLineFileIsLoaded()
    {
        const QString path = writeFile(QStringLiteral("blink.hex"), kGood);
        MainWindow &w = start(path);
        QCOMPARE(w.windowTitle(), QStringLiteral("Corvade - blink.hex"));
        QCOMPARE(w.statusText(), QStringLiteral("Reading Hex file..Ok\r\n"));
        QVERIFY(settings().GlobalState().fileReady());
        QVERIFY(w.action("mnuFileRecentfiles0")->isVisible());
        QCOMPARE(w.action("mnuFileRecentfiles0")->text(), QStringLiteral("blink.hex"));
        QVERIFY(!w.action("mnuFileRecentfiles1")->isVisible());
    }

    void loadDialogAndCancel()
    {
        MainWindow &w = start();
        m_prompts.fileNames << QString(); // cancel
        w.action("mnuFileLoad")->trigger();
        QCOMPARE(m_prompts.dialogTitles, QStringList{"Open Intel Hex file"});
        QCOMPARE(w.statusText(), QString());
        QCOMPARE(w.windowTitle(), QStringLiteral("Corvade - No file loaded"));

        const QString path = writeFile(QStringLiteral("a.hex"), kGood);
        m_prompts.fileNames << path;
        w.action("mnuFileLoad")->trigger();
        QCOMPARE(w.windowTitle(), QStringLiteral("Corvade - a.hex"));
        QCOMPARE(HexFile().recordCount(), 2);
    }

    void reloadWithNothingLoadedAsksForAFile()
    {
        MainWindow &w = start();
        w.action("mnuFileReload")->trigger();
        QCOMPARE(w.statusText(), QStringLiteral("WARNING: No hex file specified. No file loaded\r\n"));
        QCOMPARE(m_prompts.dialogTitles.size(), 1);
    }

    void recentFilesMenu()
    {
        MainWindow &w = start();
        QStringList paths;
        for (int i = 1; i <= 5; ++i) {
            paths << writeFile(QStringLiteral("f%1.hex").arg(i), kGood);
            w.readHexFile(paths.last());
        }
        QCOMPARE(w.action("mnuFileRecentfiles0")->text(), QStringLiteral("f5.hex"));
        QCOMPARE(w.action("mnuFileRecentfiles3")->text(), QStringLiteral("f2.hex"));
        w.action("mnuFileRecentfiles2")->trigger(); // f3 goes on top and stays below too
        QCOMPARE(w.windowTitle(), QStringLiteral("Corvade - f3.hex"));
        QCOMPARE(w.action("mnuFileRecentfiles0")->text(), QStringLiteral("f3.hex"));
        QCOMPARE(w.action("mnuFileRecentfiles3")->text(), QStringLiteral("f3.hex"));

        stop();
        QSettings s = store();
        QCOMPARE(s.value("FileList/Recent 0").toString(), paths[2]);
        QCOMPARE(s.value("FileList/Recent 1").toString(), paths[4]);

        MainWindow &again = start();
        QCOMPARE(again.action("mnuFileRecentfiles0")->text(), QStringLiteral("f3.hex"));
        QCOMPARE(again.action("mnuFileRecentfiles1")->text(), QStringLiteral("f5.hex"));
        QVERIFY(again.action("mnuFileRecentfiles3")->isVisible());
        QCOMPARE(again.windowTitle(), QStringLiteral("Corvade - No file loaded")); // reloadHex is off
    }

    void reloadHexAtStartAndCommandLineWins()
    {
        const QString recent = writeFile(QStringLiteral("recent.hex"), kGood);
        const QString named = writeFile(QStringLiteral("named.hex"), kGood);
        {
            QSettings s = store();
            s.setValue("FileList/Recent 0", recent);
            s.setValue("Settings/Reload Hex", "True");
        }
        MainWindow &w = start();
        QCOMPARE(w.windowTitle(), QStringLiteral("Corvade - recent.hex"));
        stop();
        MainWindow &w2 = start(named);
        QCOMPARE(w2.windowTitle(), QStringLiteral("Corvade - named.hex"));
        QCOMPARE(HexFile().path(), named);
    }

    void windowSizeSurvivesRestart()
    {
        MainWindow &w = start();
        w.resize(700, 500);
        QCoreApplication::processEvents();
        const double height = w.HeightTwips();
        stop();
        MainWindow &again = start();
        QCOMPARE(again.HeightTwips(), height);
    }

    void saveStatusAndTerminal()
    {
        MainWindow &w = start();
        w.appendStatus(QStringLiteral("a"), true);
        w.appendStatus(QStringLiteral("b"), false);
        const QString statusFile = m_dir.path() + QStringLiteral("/status.txt");
        m_prompts.fileNames << statusFile;
        w.action("mnuFileSaveStatus")->trigger();
        QFile f(statusFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("\"a\r\nb\"\r\n"));

        // A folder that does not exist: the user hears of it.
        m_prompts.fileNames << m_dir.path() + QStringLiteral("/missing/folder/t.rtf");
        w.action("mnuFileSaveTerminal")->trigger();
        QVERIFY2(w.statusText().contains(QStringLiteral("ERROR: ")), qPrintable(w.statusText()));
        QVERIFY(w.statusText().contains(QStringLiteral("t.rtf")));
    }

    void activationReloads()
    {
        const QString path = writeFile(QStringLiteral("act.hex"), kGood);
        MainWindow &w = start(path);
        // The first activation at start-up is not a coming back.
        w.applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(w.statusText().count("Reading Hex file"), 1);

        writeFile(QStringLiteral("act.hex"), ":0100000000FF\r\n");
        w.applicationStateChanged(Qt::ApplicationInactive);
        QCOMPARE(w.statusText().count("Reading Hex file"), 1);
        w.applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(w.statusText().count("Reading Hex file"), 2);
        QCOMPARE(HexFile().recordCount(), 1);

        settings().setReloadHexOnFocus(false);
        w.applicationStateChanged(Qt::ApplicationInactive);
        w.applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(w.statusText().count("Reading Hex file"), 2);
    }

    void activationDuringFileDialogOpensNoSecondDialog()
    {
        MainWindow &w = start();
        w.applicationStateChanged(Qt::ApplicationInactive);
        m_prompts.whileDialogOpen = [&w] {
            w.applicationStateChanged(Qt::ApplicationInactive);
            w.applicationStateChanged(Qt::ApplicationActive);
        };
        w.applicationStateChanged(Qt::ApplicationActive); // nothing loaded: the dialog opens
        QCOMPARE(m_prompts.dialogTitles.size(), 1);
    }
};

QTEST_MAIN(TestFileCommands)
#include "tst_filecommands.moc"
