// The preferences: their texts in the store, the INI file, and the "Corvade - Settings"
// dialog with its colour picker, against a host that records what the dialog does to it.
#include "link/LinkHandler.h"
#include "widgets/ColorPicker.h"
#include "widgets/SettingsDialog.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "support/TestDoubles.h"
#include "support/TestFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

#include <stdexcept>

namespace {
class MemoryStore : public SettingsStore {
public:
    QMap<QString, QString> map; // "section/key" to text
    // g, k: section and key; t: the default, or the text to store.
    QString value(const QString &g, const QString &k, const QString &t) override
    {
        return map.value(g + '/' + k, t);
    }
    void setValue(const QString &g, const QString &k, const QString &t) override { map[g + '/' + k] = t; }
};

struct QuietHandler : LinkHandler {
    void receive(const QByteArray &) override {}
    int packetsToReceive() const override { return 1; }
};

class FakeHost : public SettingsDialogHost {
public:
    Settings prefs;
    ScriptedPrompter prompts;
    QuietHandler handlerA, handlerB;
    LinkHandler *handler = nullptr;
    bool terminal = false, ready = false, failInitRTF = false;
    QStringList calls;

    Settings &settings() override { return prefs; }
    Prompter &prompter() override { return prompts; }
    LinkHandler *currentHandler() override { return handler; }
    bool currentHandlerIsTerminal() override { return terminal; }
    void clearTerminal() override
    {
        calls << "initRTF";
        if (failInitRTF)
            throw std::runtime_error("terminal gone");
    }
    bool serialReady() override { return ready; }
    QList<SerialDevice> serialDevices() override { return {}; }
    void closePort() override { calls << "close"; }
    bool openPort() override
    {
        // The port it opens, and whether reception is still off then.
        const QString hears = !handler ? "none" : handler->ignoreReceive() ? "deaf" : "hearing";
        calls << QStringLiteral("init %1 %2 %3").arg(prefs.serialPort()).arg(prefs.terminalSpeed(), hears);
        return true;
    }
};

// One visit to the dialog: opened on the row's port and speed, every control edited, then
// left by Enter in a control or by a button.
struct Visit {
    int port;
    QString speed;
    int portIndex, speedIndex; // shown on opening
    bool ready;
    QString handler, device, threshold, way; // handler: none, plain, terminal, failing terminal, replaced
    QStringList calls, failures;
    QString settings; // afterwards
};

// What the dialog may change, in one line.
QString written(const Settings &s)
{
    return QString::asprintf("COM %d %s %s, echo %d external %d reload %d/%d print %d below %d, colours %d/%d",
                             s.serialPort(), qPrintable(s.portDevice(s.serialPort())), qPrintable(s.terminalSpeed()),
                             s.echo(), s.useExternalTerminal(), s.reloadHex(), s.reloadHexOnFocus(), s.printAscii(),
                             s.asciiBelow(), s.echoColor(), s.asciiColor());
}

// Check boxes stretch across their frame; the clickable part is the box and its text.
QPoint boxOf(QWidget *w) { return QPoint(qMin(8, w->width() / 2), w->height() / 2); }
} // namespace
Q_DECLARE_METATYPE(Visit)

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        if (SettingsDialog *dlg = SettingsDialog::current())
            dlg->done(QDialog::Rejected);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Each entry "key=stored>saved": what the store holds, as the next save writes it back.
    // Numbers are read from their leading digits and rounded half to even; one that does not
    // fit keeps the default. Only "True" is true.
    void loadThenSave_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("booleans") << QStringList{"Terminal/Echo=true>False", "Terminal/Print ASCII= True>False",
                                                 "Settings/Reload Hex=True>True", "Terminal/Use External=1>False",
                                                 "Settings/Reload Hex on Focus=False>False", "Tools/HexView=True>True",
                                                 "Tools/TimeStamps=true>False"};
        QTest::newRow("number texts") << QStringList{"Terminal/ASCII Below=  +42> 42", "Terminal/Echo Color=12abc> 12",
                                                     "Terminal/ASCII Color=1e5> 1", "Settings/Seriel Port=1 2> 1",
                                                     "Terminal/Memory window MB=-> 64", "Tools/CodeMemoryKB=-> 64"};
        QTest::newRow("rounded") << QStringList{"Terminal/ASCII Below=12.5> 12", "Terminal/Echo Color=-2.5>-2",
                                                "Terminal/ASCII Color=3.5> 4", "Settings/Seriel Port= 2.6> 3",
                                                "Terminal/Memory window MB=.6> 1"};
        QTest::newRow("at the edges") << QStringList{
            "Terminal/ASCII Below=255.4> 255", "Terminal/Echo Color=2147483647> 2147483647",
            "Settings/Seriel Port=-32768>-32768", "Terminal/Memory window MB=1048576> 1048576",
            "Tools/CodeMemoryKB=16384> 16384",
            "Terminal/ASCII Color=-2147483648>-2147483648", "Terminal/Terminal speed=9600 >9600 ",
            "Tools/StampGapMs=3600000> 3600000"};
        QTest::newRow("past the edges") << QStringList{
            "Terminal/ASCII Below=255.5> 13", "Terminal/Echo Color=2147483648> 0", "Settings/Seriel Port=32768> 2",
            "Terminal/Memory window MB=1048577> 64", "Terminal/ASCII Color=-2147483649> 0",
            "Tools/CodeMemoryKB=16385> 64", "Tools/StampGapMs=0> 100"};
        QTest::newRow("line end of Enter") << QStringList{"Tools/EnterSends= crlf>CRLF"};
    }
    void loadThenSave()
    {
        QFETCH(QStringList, entries);
        MemoryStore store, out;
        for (const QString &e : entries)
            store.map[e.section('=', 0, 0)] = e.section('=', 1).section('>', 0, 0);
        Settings s;
        s.load(store, nullptr);
        s.save(out, nullptr);
        for (const QString &e : entries) // the key goes along, to name it when they differ
            QCOMPARE(e.section('=', 0, 0) + '>' + out.map.value(e.section('=', 0, 0)),
                     e.section('=', 0, 0) + '>' + e.section('>', 1));
    }

    void iniFileTakenByADirectory()
    {
        TestFolder dir;
        QString reason;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("taken.conf"))));
        IniSettingsStore taken(dir.filePath(QStringLiteral("taken.conf")));
        QCOMPARE(taken.loadProblem(), QStringLiteral("it is a directory"));
        QVERIFY(!taken.flush(&reason));
        QCOMPARE(reason, QStringLiteral("it is a directory"));
    }

    void visit_data()
    {
        QTest::addColumn<Visit>("visit");
        // Opened on settings other than the defaults, so each control shows what it was given.
        const QString kept = "COM %1 %2 %3, echo 1 external 1 reload 1/0 print 0 below 200, colours 65535/-1";
        const QString edited = "COM 3 %1 9600, echo 0 external 0 reload 0/1 print 1 below %2, colours 65535/255";
        const QString usb = "/dev/ttyUSB9";
        const QStringList closeInit{"close", "initRTF", "init 3 9600 deaf"}, init{"initRTF", "init 3 9600 deaf"};
        QTest::newRow("Enter in a list, ready, terminal current") << Visit{
            1, "110", 0, 0, true, "terminal", usb, " 32 ", "comTerminalSpeed", closeInit, {}, edited.arg(usb).arg(32)};
        // A colour button with the focus leaves Enter to "&Ok".
        QTest::newRow("Enter on a colour button, other handler")
            << Visit{4, "62500", 3, 6, true, "plain", usb, "12.5", "cmdEchoColor", {"close", "init 3 9600 deaf"}, {},
                     edited.arg(usb).arg(12)};
        QTest::newRow("Enter in the device box, port closed, port 0 shown as none") << Visit{
            0, "9600", -1, 4, false, "terminal", usb, "+7", "comPortDevice", init, {}, edited.arg(usb).arg(7)};
        // An emptied device box keeps the device stored before.
        QTest::newRow("Enter in the threshold, no handler, device emptied")
            << Visit{2, "19200", 1, 5, true, "none", "  ", "255.4", "txtASCIIBelow", {"close", "init 3 9600 none"}, {},
                     edited.arg("/dev/ttyS2").arg(255)};
        // "&Ok" acts on the handler current then, not on the one it suspended.
        QTest::newRow("handler replaced meanwhile")
            << Visit{2, "19200", 1, 5, true, "replaced", usb, ".6", "cmdOk", closeInit, {}, edited.arg(usb).arg(1)};
        // A failing step, on opening or on "&Ok", is reported; the steps after it still run.
        QTest::newRow("port 5, threshold over the top") << Visit{
            5, "19200", -1, 5, false, "terminal", usb, "255.5", "cmdOk", init, {"380", "6"}, edited.arg(usb).arg(200)};
        QTest::newRow("speed differs in blanks, threshold not a number") << Visit{
            2, " 9600", 1, -1, false, "terminal", usb, "12abc", "cmdOk", init, {"383", "13"}, edited.arg(usb).arg(200)};
        QTest::newRow("both unknown, terminal clearing throws")
            << Visit{9, "", -1, -1, false, "failing terminal", usb, "40", "cmdOk", init, {"380", "383", "51"},
                     edited.arg(usb).arg(40)};
        QTest::newRow("Cancel") << Visit{4, "4800", 3, 3, true, "plain", usb, "32", "cmdCancel", {}, {},
                                         kept.arg(4).arg("/dev/ttyS3", "4800")};
    }
    void visit()
    {
        QFETCH(Visit, visit);
        FakeHost host;
        MemoryStore store;
        store.map = {{"Settings/Reload Hex", "True"},   {"Settings/Reload Hex on Focus", "False"},
                        {"Terminal/Echo", "True"},         {"Terminal/Use External", "True"},
                        {"Terminal/Print ASCII", "False"}, {"Terminal/ASCII Below", "200"},
                        {"Terminal/Echo Color", "65535"},  {"Terminal/ASCII Color", "-1"}};
        host.prefs.loadPreferences(store);
        host.prefs.setSerialPort(visit.port);
        host.prefs.setTerminalSpeed(visit.speed);
        host.ready = visit.ready;
        host.handler = visit.handler == QLatin1String("none") ? nullptr : &host.handlerA;
        host.terminal = visit.handler.endsWith(QLatin1String("terminal"));
        host.failInitRTF = visit.handler.startsWith(QLatin1String("failing"));
        QPointer<SettingsDialog> dlg = SettingsDialog::open(host);
        QVERIFY(QTest::qWaitForWindowActive(dlg));
        QPointer<ColorPicker> pick = dlg->colorPicker();
        QVERIFY(SettingsDialog::current() == dlg && !dlg->isModal() && !pick->isVisible());
        QVERIFY(host.calls.isEmpty() && (!host.handler || host.handler->ignoreReceive()));
        QCOMPARE(dlg->serialPortCombo()->currentIndex(), visit.portIndex);
        QCOMPARE(dlg->terminalSpeedCombo()->currentIndex(), visit.speedIndex);
        QCOMPARE(dlg->portDeviceCombo()->isEnabled(), visit.portIndex >= 0); // no port, no device to name
        QVERIFY(!dlg->asciiBelowEdit()->isEnabled()); // nothing is printed as a number
        // Opening it again only brings it to the front: no step runs again.
        QCOMPARE(SettingsDialog::open(host), dlg);
        if (visit.handler == QLatin1String("replaced")) {
            host.handler = &host.handlerB;
            host.terminal = true;
            host.handlerB.setIgnoreReceive(true);
        }
        dlg->serialPortCombo()->setCurrentIndex(2);
        QCOMPARE(dlg->portDeviceCombo()->currentText(), QStringLiteral("/dev/ttyS2")); // the chosen port's device
        dlg->portDeviceCombo()->setEditText(visit.device);
        dlg->terminalSpeedCombo()->setCurrentIndex(4);
        for (QCheckBox *box : {dlg->echoBox(), dlg->externalTerminalBox(), dlg->reloadHexBox(), dlg->reloadOnFocusBox(),
                               dlg->printAsciiBox()})
            QTest::mouseClick(box, Qt::LeftButton, {}, boxOf(box));
        QVERIFY(dlg->asciiBelowEdit()->isEnabled());
        dlg->asciiBelowEdit()->setText(visit.threshold);
        // The picker opens just under its button; red sits at column 1, row 0 of its grid.
        QTest::mouseClick(dlg->asciiColorButton(), Qt::LeftButton);
        QCOMPARE(pick->pos(), dlg->asciiColorButton()->mapToGlobal(QPoint(0, dlg->asciiColorButton()->height())));
        const QPoint red(pick->width() / 2, pick->height() / 6);
        QTest::mouseClick(pick->childAt(red), Qt::LeftButton, {}, pick->childAt(red)->mapFrom(pick, red));
        QVERIFY(!pick->isVisible());
        if (visit.way.startsWith(QLatin1String("cmd")) && visit.way != QLatin1String("cmdEchoColor")) {
            QTest::mouseClick(dlg->findChild<QPushButton *>(visit.way), Qt::LeftButton);
        } else {
            QWidget *at = dlg->findChild<QWidget *>(visit.way);
            at->setFocus();
            QTest::keyClick(at, Qt::Key_Return);
        }
        QCOMPARE(host.calls, visit.calls);
        QStringList failures; // each in an OK box as "number: description"
        for (const QString &m : host.prompts.messages)
            failures << m.section(QRegularExpression(QStringLiteral(": (?=\\S)")), 0, 0);
        QCOMPARE(failures, visit.failures);
        QCOMPARE(written(host.prefs), visit.settings);
        QVERIFY(!host.handler || !host.handler->ignoreReceive()); // the handler current now hears again
        QCOMPARE(SettingsDialog::current(), nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(dlg.isNull() && pick.isNull());
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
