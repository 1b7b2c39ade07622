// Starting other programs and editors, and the About box.
#include "link/KernelVersion.h"
#include "shell/AboutText.h"
#include "shell/DesktopShell.h"
#include "widgets/AboutDialog.h"
#include "shell/TextEditor.h"
#include "support/TestDoubles.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>

class TestShell : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }
    static void write(const QString &file, const QByteArray &content)
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
    }
    // What the recording editor was given, one argument a line.
    QStringList recorded() const
    {
        QFile f(path("args.txt"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts) : QStringList();
    }

private slots:
    void kernelDescription_data()
    {
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<QString>("text");
        const QString compiled = QStringLiteral("\r\nCompiled for use with Kernel version: 1.0.0");
        const QString warning = QStringLiteral("\r\nWARNING: Versions do not match");
        QTest::newRow("match") << QByteArray("\1\0\0", 3) << "Kernel version: 1.0.0" + compiled;
        QTest::newRow("first part zero") << QByteArray("\0\3\1", 3) << "Kernel version: Unknown" + compiled + warning;
        QTest::newRow("third part differs") << QByteArray("\1\0\1", 3) << "Kernel version: 1.0.1" + compiled + warning;
    }
    void kernelDescription()
    {
        QFETCH(QByteArray, version);
        QFETCH(QString, text);
        const KernelVersion kernel = KernelVersion::of(quint8(version[0]), quint8(version[1]), quint8(version[2]));
        QCOMPARE(AboutText::description(kernel), text);
        // The box's system information button says when no tool is found, and starts the
        // first one that is.
        ScriptedPrompter prompts;
        AboutDialog about(kernel, prompts);
        const QStringList tools = AboutDialog::sysInfoPrograms();
        AboutDialog::sysInfoPrograms() = {QStringLiteral("corvade-no-such-program")};
        about.startSysInfo();
        AboutDialog::sysInfoPrograms() << QStringLiteral("true");
        about.startSysInfo();
        AboutDialog::sysInfoPrograms() = tools;
        QCOMPARE(prompts.messages, QStringList{"System Information Is Unavailable At This Time"});
        QCOMPARE(AboutText::version(QStringLiteral("0.1")), QStringLiteral("Version 0.1.0"));
    }

    void run_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<bool>("wait");
        QTest::addColumn<int>("result");
        QTest::newRow("missing program, waiting") << "corvade-no-such-program --x" << true << 0;
        QTest::newRow("missing program, not waiting") << "corvade-no-such-program" << false << 0;
        QTest::newRow("empty command line") << "" << false << 0;
        QTest::newRow("quoted, failing program still started") << "\"sh\" -c \"exit 4\"" << true << 1;
        QTest::newRow("reads its input, which ends") << "cat" << true << 1;
    }
    void run()
    {
        QFETCH(QString, commandLine);
        QFETCH(bool, wait);
        QFETCH(int, result);
        DesktopShell shell;
        QCOMPARE(shell.runOp(commandLine, wait, 1), result);
        shell.setWaitForClose(wait);
        QCOMPARE(shell.run(commandLine), result);
    }

    // Waiting ends only with the program, and events are handled meanwhile: here the one
    // that lets the program end. Without the wait the call returns while it still runs.
    void waitForClose()
    {
        const QString gate = path("gate");
        QVERIFY(::mkfifo(QFile::encodeName(gate).constData(), 0600) == 0);
        const QString command = QStringLiteral("sh -c \"cat '%1' >/dev/null; touch '%1.done'; exit 3\"").arg(gate);
        const auto release = [&gate] {
            QFile f(gate);
            QVERIFY(f.open(QIODevice::WriteOnly)); // returns once the program has opened its end
        };
        DesktopShell shell;
        shell.setWaitForClose(true);
        QTimer::singleShot(0, this, release);
        QCOMPARE(shell.run(command), 1);
        QVERIFY(QFile::exists(gate + ".done") && shell.exitCode() == 3 && shell.processId() > 0);
        QVERIFY(QFile::remove(gate + ".done"));
        QCOMPARE(shell.runOp(command), 1); // no wait, whatever the object's setting
        QVERIFY(!QFile::exists(gate + ".done"));
        release();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(gate + ".done"), 20000);
    }

    // A desktop entry's Exec line, split by its own quoting, with the file in place of its
    // field code or after it all.
    void desktopExec_data()
    {
        QTest::addColumn<QString>("exec");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("args");
        QTest::newRow("file code, no file") << "mousepad %F" << "" << QStringList{"mousepad"};
        QTest::newRow("quotes, escapes, codes") << "\"/my ed\"  -c \"echo \\\"\\$x\\\"\" %i --p=100%% %k %U" << "/h/a b"
                                                << QStringList{"/my ed", "-c", "echo \"$x\"", "--p=100%", "/h/a b"};
        QTest::newRow("no code: file appended") << "vim" << "/a" << QStringList{"vim", "/a"};
    }
    void desktopExec()
    {
        QFETCH(QString, exec);
        QFETCH(QString, file);
        QFETCH(QStringList, args);
        QCOMPARE(TextEditor::desktopExecCommand(exec, file), args);
    }

    // The configured editor gets the path as one argument, whatever it holds. With none
    // set, the desktop's choice for plain text is used: the first installed entry of the
    // user's defaults.
    void editorStarts()
    {
        // Desktop lookups see only what this test installs.
        qputenv("XDG_CONFIG_HOME", path("config").toUtf8());
        qputenv("XDG_DATA_HOME", path("data").toUtf8());
        qputenv("XDG_CONFIG_DIRS", path("none").toUtf8());
        qputenv("XDG_DATA_DIRS", path("none").toUtf8());
        qunsetenv("XDG_CURRENT_DESKTOP");
        write(path("record.sh"), "#!/bin/sh\no=\"$1\"; shift\n: > \"$o\"\nfor a; do printf '%s\\n' \"$a\" >> \"$o\"; done\n");
        QVERIFY(QFile::setPermissions(path("record.sh"), QFile::ReadOwner | QFile::ExeOwner));
        const QString file = path("my \"odd\" file's $(touch pwned); name.hex");
        const QString recorder = QStringLiteral("\"%1\" \"%2\"").arg(path("record.sh"), path("args.txt"));
        QCOMPARE(TextEditor::open(recorder, file, true), 1);
        QCOMPARE(recorded(), QStringList{file});
        QVERIFY(!QFile::exists(QStringLiteral("pwned")) && !QFile::exists(path("pwned")));
        QCOMPARE(TextEditor::open(recorder, QString(), true), 1);
        QCOMPARE(recorded(), QStringList());
        QVERIFY(QDir().mkpath(path("config")) && QDir().mkpath(path("data/applications")));
        write(path("config/mimeapps.list"), "[Added Associations]\ntext/plain=wrong.desktop;\n[Default Applications]\n"
                                            "text/html=wrong.desktop;\ntext/plain=not-installed.desktop;rec.desktop;\n");
        write(path("data/applications/rec.desktop"), "[Desktop Entry]\nExec=" + recorder.toUtf8() + " --line %f\n");
        write(path("data/applications/wrong.desktop"), "[Desktop Entry]\nExec=false\n");
        QCOMPARE(TextEditor::defaultTextEntry(), QStringLiteral("rec.desktop"));
        QCOMPARE(TextEditor::open(QStringLiteral("  "), file, true), 1);
        QCOMPARE(recorded(), (QStringList{"--line", file}));
        QCOMPARE(TextEditor::open(QString(), QString(), true), 1);
        QCOMPARE(recorded(), QStringList{"--line"});
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
