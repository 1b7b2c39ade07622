#include "support/FullDevice.h"
#include "support/ScriptedPrompter.h"
#include "terminal/TerminalStore.h"
#include "terminal/WindowSave.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Records what each file dialog was opened with.
class DialogRecorder : public ScriptedPrompter {
public:
    QStringList filters;
    QStringList startNames;
    QString saveFileName(const QString &title, const QString &filter, const QString &name) override
    {
        filters << filter;
        startNames << name;
        return ScriptedPrompter::saveFileName(title, filter, name);
    }
};

// A device that refuses writes past a limit, as a full disk does.
QByteArray readFile(const QString &name)
{
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly))
        return "<missing>";
    return f.readAll();
}

const QString StatusFilter = QStringLiteral("Text file (*.txt)|*.txt|All files (*.*)|*.*");
const QString TerminalFilter = QStringLiteral("RTF file (*.rtf)|*.rtf|Text file (*.txt)|*.txt|All files (*.*)|*.*");
} // namespace

class TestTerminalWindowSave : public QObject {
    Q_OBJECT
private slots:
    void statusQuotedForm_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("two lines") << QStringLiteral("a\r\nb") << QByteArray("\"a\r\nb\"\r\n");
        QTest::newRow("closed window") << QString() << QByteArray("\"\"\r\n");
        QTest::newRow("quotes not doubled") << QStringLiteral("say \"hi\"\r\n")
                                            << QByteArray("\"say \"hi\"\r\n\"\r\n");
        QTest::newRow("Latin-1 byte") << QStringLiteral("caf\u00e9") << QByteArray("\"caf\xe9\"\r\n");
        QTest::newRow("beyond Latin-1") << QStringLiteral("a\u20acb") << QByteArray("\"a?b\"\r\n");
        const QString longText = QString(200 * 1024, u'x') + QStringLiteral("\u00ff");
        QTest::newRow("longer than a chunk") << longText << QByteArray("\"" + longText.toLatin1() + "\"\r\n");
    }
    void statusQuotedForm()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, file);
        QTemporaryDir dir;
        DialogRecorder prompts;
        RecordingStatus status;
        const QString name = dir.filePath(QStringLiteral("log.txt"));
        QFile old(name);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(4096, 'z')); // replaced, not overwritten in place
        old.close();
        prompts.fileNames << name;
        QString dialogName;
        saveStatusWindow(text, dialogName, prompts, status);
        QCOMPARE(readFile(name), file);
        QCOMPARE(status.text, QString());
        QCOMPARE(prompts.dialogTitles, QStringList{QStringLiteral("Save Status window")});
        QCOMPARE(prompts.filters, QStringList{StatusFilter});
        QCOMPARE(dialogName, name);
    }

    void terminalFormatByName_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("rtf");
        QTest::newRow(".rtf") << QStringLiteral("t.rtf") << true;
        QTest::newRow(".rtf in the middle") << QStringLiteral("t.rtf.bak") << true;
        QTest::newRow(".RTF") << QStringLiteral("t.RTF") << false;
        QTest::newRow(".RTF in the middle") << QStringLiteral("t.RTF.bak") << false;
        QTest::newRow(".txt") << QStringLiteral("t.txt") << false;
        QTest::newRow("no extension") << QStringLiteral("t") << false;
    }
    void terminalFormatByName()
    {
        QFETCH(QString, fileName);
        QFETCH(bool, rtf);
        QTemporaryDir dir;
        TerminalStore store;
        store.append("hello\r\nworld\xe9", 0x0000FF);
        for (const TerminalStore *terminal : {static_cast<const TerminalStore *>(&store),
                                              static_cast<const TerminalStore *>(nullptr)}) {
            DialogRecorder prompts;
            RecordingStatus status;
            const QString name = dir.filePath(fileName);
            prompts.fileNames << name;
            QString dialogName;
            saveTerminalWindow(terminal, QString(), dialogName, prompts, status);
            const QByteArray saved = readFile(name);
            QCOMPARE(status.text, QString());
            QCOMPARE(prompts.dialogTitles, QStringList{QStringLiteral("Save Terminal window")});
            QCOMPARE(prompts.filters, QStringList{TerminalFilter});
            QCOMPARE(saved.startsWith("{\\rtf"), rtf);
            if (!rtf)
                QCOMPARE(saved, terminal ? QByteArray("hello\r\nworld\xe9") : QByteArray());
            else if (terminal)
                QVERIFY(saved.contains("hello"));
            else
                QVERIFY(!saved.contains("hello")); // a closed window saves as a fresh, empty one
        }
    }

    // Cancelling writes nothing, reports nothing and keeps the shared name; a chosen name
    // is what the next dialog of either command opens with.
    void dialogNameAndCancel()
    {
        QTemporaryDir dir;
        DialogRecorder prompts;
        RecordingStatus status;
        QString dialogName = QStringLiteral("/somewhere/prog.hex");
        saveStatusWindow(QStringLiteral("x"), dialogName, prompts, status); // no name scripted: cancel
        saveTerminalWindow(nullptr, QString(), dialogName, prompts, status);
        QCOMPARE(dialogName, QStringLiteral("/somewhere/prog.hex"));
        QCOMPARE(status.text, QString());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());

        const QString first = dir.filePath(QStringLiteral("a.txt"));
        prompts.fileNames << first << QString();
        saveStatusWindow(QStringLiteral("x"), dialogName, prompts, status);
        saveTerminalWindow(nullptr, QString(), dialogName, prompts, status);
        QCOMPARE(prompts.startNames,
                 (QStringList{QStringLiteral("/somewhere/prog.hex"), QStringLiteral("/somewhere/prog.hex"),
                              QStringLiteral("/somewhere/prog.hex"), first}));
        QCOMPARE(dialogName, first);
    }

    // A save that fails says so, naming the file and the reason, and never leaves a
    // half-written file behind or destroys the earlier one.
    void failuresAreReported_data()
    {
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<QString>("statusText");
        QTest::addColumn<QString>("before"); // what the log gets before the error line
        QTest::newRow("status, log ends with a line end") << false << QStringLiteral("Ok\r\n") << QString();
        QTest::newRow("status, partial progress line") << false << QStringLiteral("Downloading hexfile..")
                                                       << QStringLiteral("\r\n");
        QTest::newRow("terminal, empty log") << true << QString() << QString();
        QTest::newRow("terminal, partial progress line") << true << QStringLiteral("Reading Hex file")
                                                         << QStringLiteral("\r\n");
    }
    void failuresAreReported()
    {
        QFETCH(bool, terminal);
        QFETCH(QString, statusText);
        QFETCH(QString, before);
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("missing/folder/out.txt"));
        DialogRecorder prompts;
        RecordingStatus status;
        prompts.fileNames << name;
        QString dialogName;
        if (terminal)
            saveTerminalWindow(nullptr, statusText, dialogName, prompts, status);
        else
            saveStatusWindow(statusText, dialogName, prompts, status);
        QVERIFY2(status.text.startsWith(before + QStringLiteral("ERROR: Cannot create ") + name + QStringLiteral(": ")),
                 qPrintable(status.text));
        QVERIFY(status.text.endsWith(QLatin1String("\r\n")));
        QVERIFY(status.text.size() > before.size() + 22 + name.size() + 4); // a reason is given
        QVERIFY(!QFile::exists(name));
    }

    void fullDevice()
    {
        FullDevice full(10);
        const WriteResult r = writeStatusText(QStringLiteral("more than ten characters"), full);
        QVERIFY(!r.ok);
        QCOMPARE(r.error, QStringLiteral("No space left on device"));
        FullDevice closing(3); // the text fits, the closing quote does not
        QVERIFY(!writeStatusText(QStringLiteral("ab"), closing).ok);
        FullDevice enough(6); // exactly the quoted form
        QVERIFY(writeStatusText(QStringLiteral("ab"), enough).ok);
    }
};

QTEST_GUILESS_MAIN(TestTerminalWindowSave)
#include "tst_windowsave.moc"
