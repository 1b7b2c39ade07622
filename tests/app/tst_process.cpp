// The program as a user starts it: settings stores it cannot read or write, and being told
// to stop by a signal while it asks about a port that names no device.
#include "support/TestFiles.h"

#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <csignal>
#include <sys/inotify.h>
#include <unistd.h>

class TestProcess : public QObject {
    Q_OBJECT
    TestFolder m_dir;

private slots:
    void stopsTheOrdinaryWay_data()
    {
        QTest::addColumn<QByteArray>("store"); // the settings file; empty: a directory in its place
        QTest::addColumn<int>("signal");
        QTest::addColumn<QStringList>("saved"); // "section/key=text" read back afterwards
        QTest::addColumn<QString>("error");     // said once on standard error
        const QByteArray port = "[Ports]\nCOM%202=/nonexistent/tty\n";
        const QStringList kept{"Terminal/Echo=True", "Settings/Seriel Port= 2", "Ports/COM 2=/nonexistent/tty"};
        QTest::newRow("SIGTERM") << port + "[Terminal]\nEcho=True\n" << int(SIGTERM) << kept << QString();
        QTest::newRow("SIGINT") << port + "[Terminal]\nEcho=True\n" << int(SIGINT) << kept << QString();
        QTest::newRow("unreadable store keeps what it can")
            << port + QByteArray("[Settings\nSeriel%20Port=\x01\x02\xff\n[Terminal]\nEcho=True\n\xff\xfe", 48)
            << int(SIGTERM) << QStringList{"Terminal/Echo=True"} << "not a valid settings file";
        QTest::newRow("store is a directory") << QByteArray() << int(SIGTERM) << QStringList()
                                              << "cannot save the settings";
    }
    void stopsTheOrdinaryWay()
    {
        QFETCH(QByteArray, store);
        QFETCH(int, signal);
        QFETCH(QStringList, saved);
        QFETCH(QString, error);
        const QString home = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        const QString file = home + QStringLiteral("/Corvade/Corvade.conf");
        QVERIFY(QDir().mkpath(store.isEmpty() ? file : home + "/Corvade"));
        QVERIFY(store.isEmpty() || writeFile(file, store));
        const QString hex = m_dir.file(QStringLiteral("stop.hex"), ":00000001FF\r\n");

        // The program opens the file named on its command line while it builds its main window;
        // the signal comes then, in the middle of the start procedure.
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(::inotify_add_watch(watch, QFile::encodeName(hex).constData(), IN_OPEN) >= 0);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home));
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QProcess p;
        p.start(QStringLiteral(CORVADE_APP_PATH), {hex});
        char events[4096];
        const bool opened = QTest::qWaitFor([&] { return ::read(watch, events, sizeof events) > 0; }, 30000);
        ::close(watch);
        QVERIFY(opened);
        ::kill(pid_t(p.processId()), signal);
        if (!p.waitForFinished(30000))
            p.kill();
        QVERIFY(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0);

        const QString errors = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(error.isEmpty() || errors.count(error) == 1, qPrintable(errors));
        if (!error.isEmpty() && !saved.isEmpty()) // the unreadable file is kept aside as it was
            QCOMPARE(readFile(file + QStringLiteral(".bad")), store);
        QSettings back(file, QSettings::IniFormat);
        for (const QString &entry : saved)
            QCOMPARE(entry.section('=', 0, 0) + '=' + back.value(entry.section('=', 0, 0)).toString(), entry);
    }

    void helpAndVersionNeedNoDisplay()
    {
        qunsetenv("DISPLAY");
        qunsetenv("QT_QPA_PLATFORM");
        for (const auto &[option, start] : {std::pair{"--version", "corvade "}, {"--help", "Usage: corvade"}}) {
            QProcess p;
            p.start(QStringLiteral(CORVADE_APP_PATH), {QString::fromLatin1(option)});
            QVERIFY(p.waitForFinished(10000) && p.exitCode() == 0 && p.readAllStandardOutput().startsWith(start));
        }
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_process.moc"
