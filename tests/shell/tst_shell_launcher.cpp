#include "shell/DesktopShell.h"
#include "shell/TextEditor.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <sys/stat.h>

class ShellLauncherTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_script;
    QString m_out;
    QList<QUrl> m_opened;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    void write(const QString &file, const QByteArray &content)
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(file));
        f.write(content);
    }

    // The arguments the recording script received, one per entry.
    QStringList recorded() const
    {
        QFile f(m_out);
        if (!f.open(QIODevice::ReadOnly))
            return {QStringLiteral("<nothing recorded>")};
        QStringList args;
        const QString text = QString::fromUtf8(f.readAll());
        for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            args << line.mid(1, line.size() - 2);
        return args;
    }

public slots:
    void openHandler(const QUrl &url) { m_opened << url; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Desktop lookups must see only what this test installs.
        qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toUtf8());
        qputenv("XDG_DATA_HOME", path(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_DIRS", path(QStringLiteral("nodirs")).toUtf8());
        qputenv("XDG_DATA_DIRS", path(QStringLiteral("nodirs")).toUtf8());
        qunsetenv("XDG_CURRENT_DESKTOP");
        m_script = path(QStringLiteral("record.sh"));
        m_out = path(QStringLiteral("args.txt"));
        write(m_script, "#!/bin/sh\nout=\"$1\"; shift\n: > \"$out\"\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\" >> \"$out\"; done\n");
        QVERIFY(QFile::setPermissions(m_script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    void returnCodes_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<bool>("wait");
        QTest::addColumn<int>("result");
        QTest::newRow("true, waiting") << "true" << true << 1;
        QTest::newRow("failing program still started") << "false" << true << 1;
        QTest::newRow("missing program, waiting") << "corvade-no-such-program --x" << true << 0;
        QTest::newRow("missing program, not waiting") << "corvade-no-such-program" << false << 0;
        QTest::newRow("not executable") << "/etc/hostname" << true << 0;
        QTest::newRow("empty command line") << "" << false << 0;
        QTest::newRow("quoted program name") << "\"sleep\" 0" << true << 1;
        // A program that reads its input must see its end, not wait on us forever.
        QTest::newRow("reads its input") << "cat" << true << 1;
    }
    void returnCodes()
    {
        QFETCH(QString, commandLine);
        QFETCH(bool, wait);
        QFETCH(int, result);
        DesktopShell shell;
        QCOMPARE(int(shell.runOp(commandLine, wait, 1)), result);
        shell.setWaitForClose(wait);
        QCOMPARE(int(shell.run(commandLine)), result);
        // runOp leaves the object's own settings alone.
        QCOMPARE(shell.show(), int16_t(1));
    }

    // The wait ends only with the program, and the program's windows (events) stay live.
    void runWaitsForTheEnd()
    {
        const QString done = path(QStringLiteral("done"));
        QFile::remove(done);
        bool timerFired = false;
        QTimer::singleShot(0, this, [&] { timerFired = true; });
        DesktopShell shell;
        shell.setWaitForClose(true);
        QCOMPARE(shell.run(QStringLiteral("sh -c \"sleep 0.3; touch '%1'; exit 3\"").arg(done)), 1);
        QVERIFY(QFile::exists(done));
        QVERIFY(timerFired);
        QCOMPARE(shell.exitCode(), 3);
        QVERIFY(shell.processId() > 0);
    }

    // Without the wait the call returns while the program is still blocked on a pipe that
    // only this test can release.
    void runOpDoesNotWait()
    {
        const QString fifo = path(QStringLiteral("gate"));
        const QString done = path(QStringLiteral("released"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        DesktopShell shell;
        shell.setWaitForClose(true); // must not matter to runOp
        QCOMPARE(shell.runOp(QStringLiteral("sh -c \"cat '%1' >/dev/null; touch '%2'\"").arg(fifo, done)), 1);
        QVERIFY(!QFile::exists(done));
        QFile gate(fifo);
        QVERIFY(gate.open(QIODevice::WriteOnly));
        gate.close();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(done), 20000);
    }

    void openActions()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), this, "openHandler");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openHandler");
        // The address and subject go in as written: nothing escaped, the equals sign kept.
        QCOMPARE(DesktopShell::mailtoText("a b@c", "x & y"), QStringLiteral("mailto:a b@c?subject=x & y"));
        DesktopShell shell;
        QVERIFY(shell.mailto(QStringLiteral("me@example.org")) > 32);
        QVERIFY(shell.mailto(QStringLiteral("me@example.org"), QStringLiteral("a & b")) > 32);
        QVERIFY(shell.runUrl(QStringLiteral("https://example.org/corvade")) > 32);
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(m_opened.size(), 3);
        QCOMPARE(m_opened[0].toString(), QStringLiteral("mailto:me@example.org?subject="));
        QCOMPARE(m_opened[1].path(), QStringLiteral("me@example.org"));
        QCOMPARE(m_opened[1].query(QUrl::FullyDecoded), QStringLiteral("subject=a & b"));
        QCOMPARE(m_opened[2], QUrl(QStringLiteral("https://example.org/corvade")));
    }

    void editorCommand_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("args");
        QTest::newRow("plain") << "mousepad" << "/h/a.hex" << QStringList{"mousepad", "/h/a.hex"};
        QTest::newRow("quoted program with options")
            << "\"/opt/my editor/ed\" --new -x" << "/h/a b.hex" << QStringList{"/opt/my editor/ed", "--new", "-x", "/h/a b.hex"};
        QTest::newRow("no file loaded") << "gedit --wait" << "" << QStringList{"gedit", "--wait"};
        QTest::newRow("no command") << "  " << "/h/a.hex" << QStringList();
        QTest::newRow("shell characters stay in the path")
            << "ed" << "/h/x;rm -rf ~ $(id) 'q\".hex" << QStringList{"ed", "/h/x;rm -rf ~ $(id) 'q\".hex"};
    }
    void editorCommand()
    {
        QFETCH(QString, command);
        QFETCH(QString, file);
        QFETCH(QStringList, args);
        QCOMPARE(TextEditor::editorCommandLine(command, file), args);
    }

    void desktopExec_data()
    {
        QTest::addColumn<QString>("exec");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("args");
        QTest::newRow("file code") << "gedit %U" << "/h/a b.hex" << QStringList{"gedit", "/h/a b.hex"};
        QTest::newRow("file code, no file") << "mousepad %F" << "" << QStringList{"mousepad"};
        QTest::newRow("quoted program")
            << "\"/opt/my app/ed\" --new-window %f" << "/h/a.hex" << QStringList{"/opt/my app/ed", "--new-window", "/h/a.hex"};
        QTest::newRow("escapes inside quotes") << "sh -c \"echo \\\"\\$x\\\"\" %f" << ""
                                               << QStringList{"sh", "-c", "echo \"$x\""};
        QTest::newRow("icon and name codes dropped, percent kept")
            << "ed %i %c --p=100%% %k %f" << "/a" << QStringList{"ed", "--p=100%", "/a"};
        QTest::newRow("no code: file appended") << "vim" << "/a" << QStringList{"vim", "/a"};
    }
    void desktopExec()
    {
        QFETCH(QString, exec);
        QFETCH(QString, file);
        QFETCH(QStringList, args);
        QCOMPARE(TextEditor::desktopExecCommand(exec, file), args);
    }

    // The configured editor receives the path as one argument, whatever it holds.
    void configuredEditorGetsOneArgument()
    {
        const QString file = path(QStringLiteral("my \"odd\" file's $(touch pwned); name.hex"));
        const QString command = QStringLiteral("\"%1\" \"%2\"").arg(m_script, m_out);
        QCOMPARE(TextEditor::open(command, file, true), 1);
        QCOMPARE(recorded(), QStringList{file});
        QVERIFY(!QFile::exists(QStringLiteral("pwned")));
        QVERIFY(!QFile::exists(path(QStringLiteral("pwned"))));

        QCOMPARE(TextEditor::open(command, QString(), true), 1);
        QCOMPARE(recorded(), QStringList());
    }

    // With no editor set, the desktop's choice for plain text is used: the user's
    // mimeapps list names an entry that is not installed first, then ours.
    void defaultEditorFromDesktop()
    {
        QVERIFY(QDir().mkpath(path(QStringLiteral("config"))));
        QVERIFY(QDir().mkpath(path(QStringLiteral("data/applications"))));
        write(path(QStringLiteral("config/mimeapps.list")),
              "[Added Associations]\ntext/plain=wrong.desktop;\n"
              "[Default Applications]\ntext/html=wrong.desktop;\ntext/plain=not-installed.desktop;corvade-rec.desktop;\n");
        write(path(QStringLiteral("data/applications/corvade-rec.desktop")),
              QStringLiteral("[Desktop Entry]\nType=Application\nName=Recorder\nExec=\"%1\" \"%2\" --line %f\n")
                  .arg(m_script, m_out).toUtf8());
        write(path(QStringLiteral("data/applications/wrong.desktop")), "[Desktop Entry]\nExec=false\n");

        QCOMPARE(TextEditor::defaultTextEntry(), QStringLiteral("corvade-rec.desktop"));
        const QString file = path(QStringLiteral("a b.hex"));
        QCOMPARE(TextEditor::open(QString(), file, true), 1);
        QCOMPARE(recorded(), (QStringList{"--line", file}));
        QCOMPARE(TextEditor::open(QString(), QString(), true), 1);
        QCOMPARE(recorded(), QStringList{"--line"});
    }
};

QTEST_MAIN(ShellLauncherTest)
#include "tst_shell_launcher.moc"
