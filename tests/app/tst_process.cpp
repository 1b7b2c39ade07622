#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// The program as a user starts it: bad settings stores and being told to stop by a signal.
class TestProcess : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    // True once the process catches `signal` (its handler is installed).
    static bool catches(qint64 pid, int signal)
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("SigCgt:")) {
                const quint64 mask = line.mid(7).trimmed().toULongLong(nullptr, 16);
                return mask & (quint64(1) << (signal - 1));
            }
        }
        return false;
    }

    struct Run {
        int exitCode = -1;
        QProcess::ExitStatus status = QProcess::CrashExit;
        QString errors;
    };

    // Starts the program with its own settings folder, then stops it with `signal`.
    Run runAndStop(const QString &configHome, int signal, const QStringList &args = {})
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(CORVADE_APP_PATH), args);
        Run run;
        if (!p.waitForStarted(10000))
            return run;
        if (!QTest::qWaitFor([&] { return catches(p.processId(), signal); }, 20000))
            return run;
        ::kill(pid_t(p.processId()), signal);
        if (!p.waitForFinished(20000)) {
            p.kill();
            p.waitForFinished();
        }
        run.exitCode = p.exitCode();
        run.status = p.exitStatus();
        run.errors = QString::fromLocal8Bit(p.readAllStandardError());
        return run;
    }

    QString configFile(const QString &home) const { return home + QStringLiteral("/Corvade/Corvade.conf"); }
    QString home(const QString &name)
    {
        const QString path = m_dir.path() + QLatin1Char('/') + name;
        QDir().mkpath(path + QStringLiteral("/Corvade"));
        return path;
    }
    static void write(const QString &file, const QByteArray &bytes)
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private slots:
    void signalsCloseTheOrdinaryWay_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void signalsCloseTheOrdinaryWay()
    {
        QFETCH(int, signal);
        // The port names no device, so the program sits in the port dialog when told to stop.
        const QString h = home(QStringLiteral("sig%1").arg(signal));
        write(configFile(h), "[Ports]\nCOM%202=/nonexistent/tty\n[Terminal]\nEcho=True\n");
        const Run run = runAndStop(h, signal);
        QCOMPARE(run.status, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QSettings saved(configFile(h), QSettings::IniFormat);
        QCOMPARE(saved.value("Terminal/Echo").toString(), QStringLiteral("True"));
        QCOMPARE(saved.value("Settings/Seriel Port").toString(), QStringLiteral(" 2"));
        QCOMPARE(saved.value("Ports/COM 2").toString(), QStringLiteral("/nonexistent/tty"));
    }

    void unreadableStoreKeepsWhatItCan()
    {
        const QString h = home(QStringLiteral("garbage"));
        const QByteArray garbage("[Settings\nSeriel%20Port=\x01\x02\xff\n[Terminal]\nEcho=True\n\xff\xfe", 48);
        write(configFile(h), garbage);
        const Run run = runAndStop(h, SIGTERM);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.errors.count(QStringLiteral("not a valid settings file")), 1);
        QFile kept(configFile(h) + QStringLiteral(".bad"));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), garbage);
        QSettings saved(configFile(h), QSettings::IniFormat);
        QCOMPARE(saved.value("Terminal/Echo").toString(), QStringLiteral("True"));
    }

    void valuesOfTheWrongKind()
    {
        const QString h = home(QStringLiteral("kinds"));
        write(configFile(h), "[Terminal]\nASCII%20Below=-3\nEcho=yes\nEcho%20Color=blue\n"
                             "[Settings]\nReload%20Hex%20on%20Focus=1\n[Ports]\nCOM%202=/nonexistent/tty\n");
        const Run run = runAndStop(h, SIGTERM);
        QCOMPARE(run.exitCode, 0);
        QSettings saved(configFile(h), QSettings::IniFormat);
        QCOMPARE(saved.value("Terminal/ASCII Below").toString(), QStringLiteral(" 13"));
        QCOMPARE(saved.value("Terminal/Echo").toString(), QStringLiteral("False"));
        QCOMPARE(saved.value("Terminal/Echo Color").toString(), QStringLiteral(" 0"));
        QCOMPARE(saved.value("Settings/Reload Hex on Focus").toString(), QStringLiteral("False"));
    }

    void storeThatCannotBeWritten_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("store is a directory") << "directory";
        QTest::newRow("folder is a file") << "file";
    }
    void storeThatCannotBeWritten()
    {
        QFETCH(QString, kind);
        const QString h = m_dir.path() + QStringLiteral("/unwritable-") + kind;
        if (kind == QLatin1String("directory")) {
            QDir().mkpath(configFile(h));
        } else {
            QDir().mkpath(h);
            write(h + QStringLiteral("/Corvade"), "not a folder");
        }
        const Run run = runAndStop(h, SIGTERM);
        QCOMPARE(run.status, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.errors.contains(QStringLiteral("cannot save the settings")), qPrintable(run.errors));
    }

    void helpAndVersionNeedNoDisplay()
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(CORVADE_APP_PATH), {QStringLiteral("--version")});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardOutput().startsWith("corvade "));
        p.start(QStringLiteral(CORVADE_APP_PATH), {QStringLiteral("--help")});
        QVERIFY(p.waitForFinished(10000));
        QVERIFY(p.readAllStandardOutput().contains("Usage: corvade"));
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_process.moc"
