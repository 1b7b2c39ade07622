#include "hexfile/HexFile.h"
#include "hexfile/HexLoad.h"

#include "support/TestDoubles.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

class HexLoadTest : public QObject {
    Q_OBJECT

    TestFolder m_dir;

    QString file(const QString &name, const QByteArray &content) { return m_dir.file(name, content); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Each row: what was loaded before (nothing, or good.hex), the path asked for, and the
    // journal of boxes, status lines and window changes that must follow, in that order.
    void outcome_data()
    {
        QTest::addColumn<bool>("preload");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("log");
        QTest::addColumn<bool>("fileReady");
        QTest::addColumn<int>("records");

        const QString corrupt = QStringLiteral("The hex file is corrupt, try reloading or re compile the hex file");
        const QString invalid = QStringLiteral("This is not a valid Intel Hex file, or file is corrupt");
        const QString notLoaded = QStringLiteral("caption:Corvade - No File loaded");

        QTest::newRow("good file")
            << false << "good.hex"
            << QStringList{"line:Ok", "caption:Corvade - good.hex", "recent:@good.hex", "kernel:on"}
            << "Reading Hex file..Ok\r\n" << true << 2;
        QTest::newRow("checksum error")
            << true << "sum.hex"
            << QStringList{"box:" + corrupt, "line:", "line:ERROR: Hex file is corrupt. Checksum error.",
                           notLoaded, "kernel:off"}
            << "Reading Hex file.\r\nERROR: Hex file is corrupt. Checksum error.\r\n" << false << 1;
        QTest::newRow("colon missing")
            << false << "colon.hex"
            << QStringList{"box:" + invalid, "line:",
                           "line:ERROR: Hex file is corrupt. ':' missing at beginning of line.", notLoaded,
                           "kernel:off"}
            << "Reading Hex file\r\nERROR: Hex file is corrupt. ':' missing at beginning of line.\r\n" << false
            << 0;
        QTest::newRow("missing file after a good one keeps the readiness")
            << true << "missing.hex" << QStringList{"line:", "line:ERROR: File not found."}
            << "Reading Hex file\r\nERROR: File not found.\r\n" << true << 0;
        QTest::newRow("other file error")
            << true << "."
            << QStringList{"line:", QStringLiteral("line:ERROR: 21 ") + QString::fromLocal8Bit(strerror(21)),
                           "line:Warning: No hex file loaded", notLoaded, "kernel:off"}
            << QStringLiteral("Reading Hex file\r\nERROR: 21 ") + QString::fromLocal8Bit(strerror(21))
                   + "\r\nWarning: No hex file loaded\r\n"
            << false << 0;
        QTest::newRow("reload with no file ever named")
            << false << ""
            << QStringList{"line:WARNING: No hex file specified. No file loaded", "load command"}
            << "WARNING: No hex file specified. No file loaded\r\n" << false << 0;
        QTest::newRow("reload of the current file")
            << true << ""
            << QStringList{"line:Ok", "caption:Corvade - good.hex", "recent:@good.hex", "kernel:on"}
            << "Reading Hex file..Ok\r\n" << true << 2;
    }
    void outcome()
    {
        QFETCH(bool, preload);
        QFETCH(QString, path);
        QFETCH(QStringList, events);
        QFETCH(QString, log);
        QFETCH(bool, fileReady);
        QFETCH(int, records);

        const QString good = file(QStringLiteral("good.hex"), ":0100000041BE\r\n:00000001FF\r\n");
        file(QStringLiteral("sum.hex"), ":0100000041BE\r\n:00000001FE\r\n");
        file(QStringLiteral("colon.hex"), "0100000041BE\r\n");
        QFile::remove(m_dir.filePath(QStringLiteral("missing.hex")));

        Journal journal;
        RecordingStatus sink(&journal);
        ScriptedPrompter prompter(&journal);
        RecordingView view(&journal);
        Readiness state(&view);
        state.setSerialReady();
        HexFile hex;
        auto load = [&]() { journal.events << QStringLiteral("load command"); };

        if (preload) {
            HexLoad::readHexFile(hex, good, sink, prompter, state, load);
            QVERIFY(state.fileReady());
        }
        journal.events.clear();
        sink.text.clear();

        const QString asked = path.isEmpty() || path == QLatin1String(".") ? path : m_dir.filePath(path);
        HexLoad::readHexFile(hex, asked == QLatin1String(".") ? m_dir.path() : asked, sink, prompter, state,
                             load);

        events.replaceInStrings(QStringLiteral("@"), m_dir.path() + QLatin1Char('/'));
        QCOMPARE(journal.events, events);
        QCOMPARE(sink.text, log);
        QCOMPARE(state.fileReady(), fileReady);
        QCOMPARE(hex.recordCount(), records);
        for (Prompter::Icon icon : prompter.icons)
            QCOMPARE(icon, Prompter::Icon::Exclamation);
        // The path named is kept whatever the outcome; an empty one changes nothing.
        if (!path.isEmpty() && path != QLatin1String("."))
            QCOMPARE(hex.path(), m_dir.filePath(path));
        else if (path.isEmpty())
            QCOMPARE(hex.path(), preload ? good : QString());
    }

    // The Load command picks a file and loads it through the same entry: the recursion the
    // warning case starts must end with the file loaded.
    void reloadWithoutFileRunsLoad()
    {
        const QString good = file(QStringLiteral("pick.hex"), ":00000001FF\r\n");
        Journal journal;
        RecordingStatus sink(&journal);
        ScriptedPrompter prompter(&journal);
        Readiness state;
        HexFile hex;
        std::function<void()> load;
        load = [&]() { HexLoad::readHexFile(hex, good, sink, prompter, state, load); };
        HexLoad::readHexFile(hex, QString(), sink, prompter, state, load);
        QCOMPARE(sink.text, QStringLiteral("WARNING: No hex file specified. No file loaded\r\nReading Hex file.Ok\r\n"));
        QVERIFY(state.fileReady());
        QCOMPARE(hex.path(), good);
    }
};

QTEST_GUILESS_MAIN(HexLoadTest)
#include "tst_hexfile_load.moc"
