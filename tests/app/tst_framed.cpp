// The main window under a window manager that draws title bars and borders (openbox on a
// display of the test's own): its size is the same from one run to the next.
#include "app/Application.h"
#include "support/TestDoubles.h"
#include "support/TestFiles.h"

#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

class TestFramed : public QObject {
    Q_OBJECT
    TestFolder m_dir;

private slots:
    void sizeSurvivesRestarts()
    {
        if (qgetenv("QT_QPA_PLATFORM") != "xcb")
            QFAIL("Xvfb with openbox did not start (scripts/install-deps.sh installs both)");
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toLocal8Bit());
        const QString store = m_dir.filePath(QStringLiteral("config/Corvade/Corvade.conf"));
        QSettings(store, QSettings::IniFormat).setValue("Ports/COM 2", m_dir.filePath("no-such-device"));
        QSize outer;
        QStringList stored;
        for (int run = 0; run < 3; ++run) {
            ScriptedPrompter prompts; // the port box: Ignore
            Application app(QString(), &prompts);
            QVERIFY(app.start());
            MainWindow &w = app.mainWindow();
            QTRY_VERIFY(w.frameGeometry().size() != w.geometry().size()); // framed
            if (run == 0)
                outer = w.outerSize();
            else // the stored outer size, frame included
                QTRY_COMPARE(w.outerSize(), outer);
            w.close();
            QSettings s(store, QSettings::IniFormat);
            stored << s.value("Window/Width").toString() + 'x' + s.value("Window/Height").toString();
        }
        QCOMPARE(stored, QStringList(3, stored[0]));
    }
};

int main(int argc, char **argv)
{
    // A display of the test's own, framed by openbox; openbox says when it is up by running
    // its start-up command.
    QProcess xvfb, wm;
    const QString xvfbPath = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString wmPath = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (!xvfbPath.isEmpty() && !wmPath.isEmpty()) {
        xvfb.start(xvfbPath, {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
        if (xvfb.waitForReadyRead(20000)) {
            qputenv("DISPLAY", ':' + xvfb.readAllStandardOutput().trimmed());
            wm.setProcessChannelMode(QProcess::MergedChannels);
            wm.start(wmPath, {"--startup", "echo openbox-ready"});
            while (wm.waitForReadyRead(20000)) {
                if (wm.readAll().contains("openbox-ready")) {
                    qputenv("QT_QPA_PLATFORM", "xcb");
                    break;
                }
            }
        }
    }
    int rc;
    {
        QApplication app(argc, argv);
        TestFramed test;
        rc = QTest::qExec(&test, argc, argv);
    }
    wm.terminate();
    wm.waitForFinished();
    xvfb.terminate();
    xvfb.waitForFinished();
    return rc;
}

#include "tst_framed.moc"
