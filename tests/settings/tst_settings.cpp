#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"

#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

using namespace SettingsText;

namespace {
// A store in memory that records the order of every read and write.
class RecordingStore : public SettingsStore {
public:
    QMap<QString, QString> values;
    QStringList reads, writes;

    QString value(const QString &section, const QString &key, const QString &defaultText) override
    {
        reads << section + QLatin1Char('/') + key;
        return values.value(section + QLatin1Char('/') + key, defaultText);
    }
    void setValue(const QString &section, const QString &key, const QString &text) override
    {
        writes << section + QLatin1Char('/') + key;
        values[section + QLatin1Char('/') + key] = text;
    }
};

class RecordingHost : public WorkspaceHost {
public:
    QStringList calls;
    QStringList recent; // newest first
    double height = 7000, width = 9000;

    void addRecentFile(const QString &path) override
    {
        calls << QStringLiteral("add ") + path;
        recent.prepend(path);
    }
    QString recentPath(int index) override { return index < recent.size() ? recent[index] : QString(); }
    void restoreHexFile(const QString &path) override { calls << QStringLiteral("read ") + path; }
    double HeightTwips() override { return height; }
    double WidthTwips() override { return width; }
    void setHeightTwips(double t) override { calls << QStringLiteral("height %1").arg(t); }
    void setWidthTwips(double t) override { calls << QStringLiteral("width %1").arg(t); }
    void tileHorizontally() override { calls << QStringLiteral("tileH"); }
    void tileVertically() override { calls << QStringLiteral("tileV"); }
};
} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void numberText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("positive") << 13.0 << " 13";
        QTest::newRow("zero") << 0.0 << " 0";
        QTest::newRow("negative") << -5.0 << "-5";
        QTest::newRow("large") << 16777215.0 << " 16777215";
        QTest::newRow("fraction") << 2.5 << " 2.5";
        QTest::newRow("negative fraction") << -0.25 << "-0.25";
    }
    void numberText()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(numberText(value), text);
        QCOMPARE(numberValue(text), value); // written values read back unchanged
    }

    void numberValue_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("leading blank") << " 3" << 3.0;
        QTest::newRow("several blanks") << "   42" << 42.0;
        QTest::newRow("sign") << "-17" << -17.0;
        QTest::newRow("trailing text") << "12abc" << 12.0;
        QTest::newRow("no number") << "abc" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("fraction") << "1.75" << 1.75;
        QTest::newRow("bare fraction") << ".5" << 0.5;
        QTest::newRow("no exponent") << "1e5" << 1.0;
        QTest::newRow("blank inside") << "1 2" << 1.0;
        QTest::newRow("lone sign") << "-" << 0.0;
    }
    void numberValue()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(numberValue(text), value);
    }

    void integerRounding_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("2.5 to even") << "2.5" << 2;
        QTest::newRow("3.5 to even") << "3.5" << 4;
        QTest::newRow("-2.5 to even") << "-2.5" << -2;
        QTest::newRow("2.6 up") << "2.6" << 3;
        QTest::newRow("0.5 to zero") << "0.5" << 0;
    }
    void integerRounding()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(integerValue(text, -1000, 1000).value(), qint64(value));
    }

    void integerOutOfRange()
    {
        QVERIFY(!integerValue(QStringLiteral("256"), 0, 255));
        QVERIFY(!integerValue(QStringLiteral("-1"), 0, 255));
        QCOMPARE(integerValue(QStringLiteral("255.4"), 0, 255).value(), qint64(255));
        QVERIFY(!integerValue(QStringLiteral("255.5"), 0, 255)); // rounds to 256
    }

    void booleanText()
    {
        QVERIFY(booleanValue(QStringLiteral("True")));
        QVERIFY(!booleanValue(QStringLiteral("true")));
        QVERIFY(!booleanValue(QStringLiteral("TRUE")));
        QVERIFY(!booleanValue(QStringLiteral(" True")));
        QVERIFY(!booleanValue(QStringLiteral("1")));
    }

    void defaultsOnEmptyStore()
    {
        RecordingStore store;
        Settings s;
        s.load(store, nullptr);
        QCOMPARE(s.serialPort(), 2);
        QCOMPARE(s.terminalSpeed(), QStringLiteral("19200"));
        QCOMPARE(s.asciiBelow(), 13);
        QCOMPARE(s.echoColor(), 0);
        QCOMPARE(s.asciiColor(), 0);
        QVERIFY(!s.reloadHex());
        QVERIFY(s.reloadHexOnFocus());
        QVERIFY(s.printAscii());
        QVERIFY(!s.echo());
        QVERIFY(!s.useExternalTerminal());
        QCOMPARE(s.portDevice(2), QStringLiteral("/dev/ttyS1"));
        QCOMPARE(s.portDevice(1), QStringLiteral("/dev/ttyS0"));
    }

    void storedValuesAndBadValues()
    {
        RecordingStore store;
        store.values[QStringLiteral("Settings/Seriel Port")] = QStringLiteral(" 3");
        store.values[QStringLiteral("Terminal/Echo")] = QStringLiteral("true");
        store.values[QStringLiteral("Settings/Reload Hex on Focus")] = QStringLiteral("False");
        store.values[QStringLiteral("Terminal/ASCII Below")] = QStringLiteral("300");
        store.values[QStringLiteral("Terminal/Echo Color")] = QStringLiteral("99999999999");
        store.values[QStringLiteral("Terminal/ASCII Color")] = QStringLiteral(" 255");
        store.values[QStringLiteral("Terminal/Terminal speed")] = QStringLiteral("9600");
        store.values[QStringLiteral("Ports/COM 3")] = QStringLiteral("/dev/ttyUSB0");
        Settings s;
        s.load(store, nullptr);
        QCOMPARE(s.serialPort(), 3);
        QVERIFY(!s.echo());
        QVERIFY(!s.reloadHexOnFocus());
        QCOMPARE(s.asciiBelow(), 13); // out of range keeps the default
        QCOMPARE(s.echoColor(), 0);
        QCOMPARE(s.asciiColor(), 255);
        QCOMPARE(s.terminalSpeed(), QStringLiteral("9600"));
        QCOMPARE(s.portDevice(3), QStringLiteral("/dev/ttyUSB0"));
    }

    void loadAndSaveOrder()
    {
        RecordingStore store;
        RecordingHost host;
        Settings s;
        s.load(store, &host);
        const QStringList preferences = {
            "Settings/Seriel Port", "Terminal/Terminal speed", "Terminal/ASCII Below", "Terminal/Echo Color",
            "Terminal/ASCII Color", "Settings/Reload Hex", "Settings/Reload Hex on Focus", "Terminal/Print ASCII",
            "Terminal/Echo", "Terminal/Use External"};
        QCOMPARE(store.reads.mid(0, preferences.size()), preferences);
        const QStringList workspace = {"FileList/Recent 3", "FileList/Recent 2", "FileList/Recent 1",
                                       "FileList/Recent 0", "Window/Height", "Window/Width", "Window/Tile"};
        QCOMPARE(store.reads.mid(store.reads.size() - workspace.size()), workspace);

        store.writes.clear();
        s.save(store, &host);
        const QStringList saved = {
            "Settings/Reload Hex", "Settings/Seriel Port", "Settings/Reload Hex on Focus", "Terminal/Echo",
            "Terminal/Print ASCII", "Terminal/Use External", "Terminal/ASCII Below", "Terminal/Echo Color",
            "Terminal/ASCII Color", "Terminal/Terminal speed"};
        QCOMPARE(store.writes.mid(0, saved.size()), saved);
        QCOMPARE(store.writes.mid(store.writes.size() - 3),
                 QStringList({"Window/Height", "Window/Width", "Window/Tile"}));
        QCOMPARE(store.values.value("Settings/Seriel Port"), QStringLiteral(" 2"));
        QCOMPARE(store.values.value("Terminal/ASCII Below"), QStringLiteral(" 13"));
        QCOMPARE(store.values.value("Settings/Reload Hex on Focus"), QStringLiteral("True"));
    }

    void saveThenLoadKeepsEveryText()
    {
        RecordingStore store;
        Settings a;
        a.setSerialPort(4);
        a.setEchoColor(-5);
        a.setAsciiColor(65535);
        a.setAsciiBelow(0);
        a.setEcho(true);
        a.setPrintAscii(false);
        a.setTerminalSpeed(QStringLiteral("115200"));
        a.save(store, nullptr);
        const auto first = store.values;
        Settings b;
        b.load(store, nullptr);
        b.save(store, nullptr);
        QCOMPARE(store.values, first);
        QCOMPARE(store.values.value("Terminal/Echo Color"), QStringLiteral("-5"));
    }

    void workspaceRestore()
    {
        RecordingStore store;
        store.values["FileList/Recent 0"] = "/w/a.hex";
        store.values["FileList/Recent 1"] = "";
        store.values["FileList/Recent 2"] = "/w/c.hex";
        store.values["Settings/Reload Hex"] = "True";
        store.values["Window/Height"] = "0";
        store.values["Window/Width"] = " 0";
        store.values["Window/Tile"] = "vertical";
        RecordingHost host;
        Settings s;
        s.load(store, &host);
        QCOMPARE(host.calls, QStringList({"add /w/c.hex", "add /w/a.hex", "read /w/a.hex", "width 0", "tileH"}));

        store.values["Window/Tile"] = "Vertical";
        RecordingHost host2;
        Settings s2;
        s2.load(store, &host2);
        QCOMPARE(host2.calls.last(), QStringLiteral("tileV"));
    }

    void workspaceSaveStopsAtFirstEmpty()
    {
        RecordingStore store;
        store.values["FileList/Recent 2"] = "/stale/two.hex";
        store.values["FileList/Recent 3"] = "/stale/three.hex";
        RecordingHost host;
        host.recent = {"/w/new.hex", "/w/old.hex"};
        Settings s;
        s.save(store, &host);
        QCOMPARE(store.values.value("FileList/Recent 0"), QStringLiteral("/w/new.hex"));
        QCOMPARE(store.values.value("FileList/Recent 1"), QStringLiteral("/w/old.hex"));
        QCOMPARE(store.values.value("FileList/Recent 2"), QStringLiteral("/stale/two.hex"));
        QCOMPARE(store.values.value("Window/Height"), QStringLiteral(" 7000"));
        QVERIFY(!store.writes.contains("FileList/Recent 2"));
    }

    void iniFileOnDisk()
    {
        QTemporaryDir dir;
        qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
        {
            IniSettingsStore store;
            Settings s;
            s.setSerialPort(3);
            s.save(store, nullptr);
            QString reason;
            QVERIFY2(store.flush(&reason), qPrintable(reason));
            QCOMPARE(store.fileName(), dir.path() + QStringLiteral("/Corvade/Corvade.conf"));
        }
        QFile f(dir.path() + QStringLiteral("/Corvade/Corvade.conf"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QVERIFY2(text.contains("[Settings]"), text.constData());
        QVERIFY2(text.contains("Seriel%20Port=\" 3\""), text.constData());
        QVERIFY(text.contains("[Terminal]"));
        IniSettingsStore store;
        Settings s;
        s.load(store, nullptr);
        QCOMPARE(s.serialPort(), 3);
        QCOMPARE(store.value("Settings", "Seriel Port", {}), QStringLiteral(" 3"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
