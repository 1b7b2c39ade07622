#include "link/LinkHandler.h"
#include "widgets/ColorPicker.h"
#include "widgets/SettingsDialog.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "support/ScriptedPrompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QtTest>

#include <stdexcept>

namespace {
class EmptyStore : public SettingsStore {
public:
    QString value(const QString &, const QString &, const QString &defaultText) override { return defaultText; }
    void setValue(const QString &, const QString &, const QString &) override {}
};

class QuietHandler : public LinkHandler {
public:
    void receive(const QByteArray &) override {}
    int packetsToReceive() const override { return 1; }
};

// Records what the dialog does to the program around it, in order.
class FakeHost : public SettingsDialogHost {
public:
    Settings settings;
    ScriptedPrompter prompter;
    QuietHandler handlerA, handlerB;
    LinkHandler *handler = nullptr;
    bool terminal = false;
    bool ready = false;
    bool failInitRTF = false;
    QStringList calls;

    FakeHost()
    {
        EmptyStore store;
        settings.loadPreferences(store);
    }
    Settings &settings() override { return settings; }
    Prompter &prompter() override { return prompter; }
    LinkHandler *currentHandler() override { return handler; }
    bool currentHandlerIsTerminal() override { return terminal; }
    void clearTerminal() override
    {
        calls << QStringLiteral("initRTF");
        if (failInitRTF)
            throw std::runtime_error("terminal gone");
    }
    bool serialReady() override { return ready; }
    void closePort() override
    {
        calls << QStringLiteral("close");
        ready = false;
    }
    bool openPort() override
    {
        // What the set-up sees: the port it opens and whether reception is still off.
        calls << QStringLiteral("init %1 %2 %3")
                     .arg(settings.serialPort())
                     .arg(settings.terminalSpeed(),
                          handler ? (handler->ignoreReceive() ? QStringLiteral("deaf") : QStringLiteral("hearing"))
                                  : QStringLiteral("none"));
        ready = true;
        return true;
    }
};

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Check boxes stretch across their frame; their clickable part is the box and text.
QPoint boxOf(QWidget *w)
{
    return QPoint(qMin(8, w->width() / 2), w->height() / 2);
}

void tick(QAbstractButton *box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, boxOf(box));
}

// Clicks the picker at the middle of grid place (column, row).
void clickGrid(ColorPicker *pick, int column, int row)
{
    const QPoint at((2 * column + 1) * pick->width() / 6, (2 * row + 1) * pick->height() / 6);
    QWidget *cell = pick->childAt(at);
    QVERIFY(cell);
    QTest::mouseClick(cell, Qt::LeftButton, {}, cell->mapFrom(pick, at));
}

SettingsDialog *openShown(FakeHost &host)
{
    SettingsDialog *dlg = SettingsDialog::open(host);
    if (!QTest::qWaitForWindowActive(dlg))
        qWarning("settings dialog did not become active");
    return dlg;
}
} // namespace

class TestSettingsDialog : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        if (SettingsDialog *dlg = SettingsDialog::current())
            dlg->done(QDialog::Rejected);
        flushDeletes();
    }

    void openingSuspendsReceptionAndFillsFromSettings()
    {
        FakeHost host;
        host.handler = &host.handlerA;
        SettingsDialog *dlg = openShown(host);
        QCOMPARE(SettingsDialog::current(), dlg);
        QCOMPARE(dlg->windowTitle(), QStringLiteral("Corvade - Settings"));
        QVERIFY(!dlg->isModal());
        QCOMPARE(dlg->serialPortCombo()->currentText(), QStringLiteral("COM 2"));
        QCOMPARE(dlg->portDeviceCombo()->currentText(), Settings::defaultPortDevice(2));
        QVERIFY(host.handlerA.ignoreReceive());
        // The picker is loaded but hidden.
        QVERIFY(dlg->colorPicker() && !dlg->colorPicker()->isVisible());
        QVERIFY(host.calls.isEmpty());
        QVERIFY(host.prompter.messages.isEmpty());
    }

    // The texts are the program's own, misspellings included; labels show them as written.
    void captionsAndLists()
    {
        FakeHost host;
        SettingsDialog dlg(host);
        const QList<QPair<const char *, QString>> captions = {
            {"Frame1", "General"}, {"Frame2", "Terminal"},
            {"chkReloadHex", "&Reload last opened hex file on startup"},
            {"chkReloadOnFocus", "Reload &hex file when receiving focus"}, {"Label1", "&Seriel port:"},
            {"chkExternalTerminal", "&Use external termianl after run"}, {"chkEcho", "&Echo on"},
            {"chkPrintASCII", "&Print ASCII characters below"}, {"Label5", "As <ASCII number>"},
            {"Label3", "Echo &Color"}, {"Label4", "Special &ASCII characters color"},
            {"Label2", "&Terminal speed:"}, {"cmdOk", "&Ok"}, {"cmdCancel", "&Cancel"},
            {"cmdEchoColor", ""}, {"cmdASCIIColor", ""}};
        for (const auto &[name, caption] : captions) {
            QWidget *w = dlg.findChild<QWidget *>(QLatin1String(name));
            QVERIFY2(w, name);
            auto *l = qobject_cast<QLabel *>(w);
            auto *g = qobject_cast<QGroupBox *>(w);
            auto *b = qobject_cast<QAbstractButton *>(w);
            QCOMPARE(l ? l->text() : g ? g->title() : b ? b->text() : QStringLiteral("?"), caption);
            QVERIFY(!l || l->textFormat() == Qt::PlainText);
        }
        auto items = [](QComboBox *c) {
            QStringList l;
            for (int i = 0; i < c->count(); ++i)
                l << c->itemText(i);
            return l;
        };
        QCOMPARE(items(dlg.serialPortCombo()), (QStringList{"COM 1", "COM 2", "COM 3", "COM 4"}));
        QCOMPARE(items(dlg.terminalSpeedCombo()), (QStringList{"110", "1200", "2400", "4800", "9600", "19200", "62500"}));
        QVERIFY(!dlg.serialPortCombo()->isEditable());
        QVERIFY(!dlg.terminalSpeedCombo()->isEditable());
        QVERIFY(dlg.okButton()->isDefault());
    }

    void accessKeysMoveTheFocus_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("focus");
        QTest::newRow("R") << int(Qt::Key_R) << "chkReloadHex";
        QTest::newRow("H") << int(Qt::Key_H) << "chkReloadOnFocus";
        QTest::newRow("S") << int(Qt::Key_S) << "comSerielPort";
        QTest::newRow("D") << int(Qt::Key_D) << "comPortDevice";
        QTest::newRow("U") << int(Qt::Key_U) << "chkExternalTerminal";
        QTest::newRow("E") << int(Qt::Key_E) << "chkEcho";
        QTest::newRow("P") << int(Qt::Key_P) << "chkPrintASCII";
        QTest::newRow("A") << int(Qt::Key_A) << "cmdASCIIColor";
        QTest::newRow("T") << int(Qt::Key_T) << "comTerminalSpeed";
    }
    void accessKeysMoveTheFocus()
    {
        QFETCH(int, key);
        QFETCH(QString, focus);
        FakeHost host;
        SettingsDialog *dlg = openShown(host);
        dlg->okButton()->setFocus();
        QTest::keyClick(dlg->okButton(), Qt::Key(key), Qt::AltModifier);
        QWidget *now = QApplication::focusWidget();
        while (now && now->objectName().isEmpty())
            now = now->parentWidget(); // the editable list's own line edit
        QVERIFY(now);
        QCOMPARE(now->objectName(), focus);
    }

    void fillsControlsFromSettings_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<int>("portIndex");
        QTest::addColumn<int>("speedIndex");
        QTest::addColumn<QStringList>("numbers"); // of the reported failures, in order
        QTest::newRow("COM 1, 110") << 1 << "110" << 0 << 0 << QStringList();
        QTest::newRow("COM 4, 62500") << 4 << "62500" << 3 << 6 << QStringList();
        QTest::newRow("port 0 selects nothing silently") << 0 << "9600" << -1 << 4 << QStringList();
        QTest::newRow("port 5") << 5 << "19200" << -1 << 5 << QStringList{"380"};
        QTest::newRow("unknown speed") << 2 << "12345" << 1 << -1 << QStringList{"383"};
        QTest::newRow("speed differs in blanks") << 2 << " 9600" << 1 << -1 << QStringList{"383"};
        QTest::newRow("both, each reported") << 9 << "" << -1 << -1 << QStringList{"380", "383"};
    }
    void fillsControlsFromSettings()
    {
        QFETCH(int, port);
        QFETCH(QString, speed);
        QFETCH(int, portIndex);
        QFETCH(int, speedIndex);
        QFETCH(QStringList, numbers);
        FakeHost host;
        host.settings.setSerialPort(port);
        host.settings.setTerminalSpeed(speed);
        // Values after the failing steps, so a failure must not stop the filling.
        host.settings.setReloadHex(true);
        host.settings.setReloadHexOnFocus(false);
        host.settings.setEcho(true);
        host.settings.setUseExternalTerminal(true);
        host.settings.setPrintAscii(false);
        host.settings.setAsciiBelow(200);
        host.settings.setEchoColor(65535);
        host.settings.setAsciiColor(-1);
        SettingsDialog dlg(host);
        dlg.initialize();

        QCOMPARE(dlg.serialPortCombo()->currentIndex(), portIndex);
        QCOMPARE(dlg.terminalSpeedCombo()->currentIndex(), speedIndex);
        QStringList got;
        for (const QString &m : host.prompter.messages)
            got << m.section(QLatin1Char(':'), 0, 0);
        QCOMPARE(got, numbers);
        for (const QString &m : host.prompter.messages)
            QVERIFY2(QRegularExpression(QStringLiteral("^\\d+: \\S")).match(m).hasMatch(), qPrintable(m));

        QVERIFY(dlg.reloadHexBox()->isChecked());
        QVERIFY(!dlg.reloadOnFocusBox()->isChecked());
        QVERIFY(dlg.echoBox()->isChecked());
        QVERIFY(dlg.externalTerminalBox()->isChecked());
        QVERIFY(!dlg.printAsciiBox()->isChecked());
        QCOMPARE(dlg.asciiBelowEdit()->text(), QStringLiteral("200"));
        QVERIFY(!dlg.asciiBelowEdit()->isEnabled());
        QCOMPARE(dlg.echoColorButton()->color(), ColorRef(65535));
        QCOMPARE(dlg.asciiColorButton()->color(), ColorRef(0xFFFFFFFFu));
        // No port chosen: nothing to name a device for.
        QCOMPARE(dlg.portDeviceCombo()->isEnabled(), portIndex >= 0);
    }

    void printBoxEnablesThreshold()
    {
        FakeHost host;
        SettingsDialog *dlg = openShown(host);
        tick(dlg->printAsciiBox());
        QVERIFY(!dlg->printAsciiBox()->isChecked());
        QVERIFY(!dlg->asciiBelowEdit()->isEnabled());
        QTest::keyClick(dlg->printAsciiBox(), Qt::Key_Space);
        QVERIFY(dlg->printAsciiBox()->isChecked());
        QVERIFY(dlg->asciiBelowEdit()->isEnabled());
    }

    void pickerCellsInTheirPlaces_data()
    {
        QTest::addColumn<bool>("forEcho");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("row");
        QTest::addColumn<quint32>("color");
        QTest::newRow("black") << true << 0 << 0 << 0u;
        QTest::newRow("navy") << true << 2 << 0 << 8388608u;
        QTest::newRow("dark green") << false << 0 << 1 << 16384u;
        QTest::newRow("cyan") << true << 2 << 2 << 16776960u;
    }
    void pickerCellsInTheirPlaces()
    {
        QFETCH(bool, forEcho);
        QFETCH(int, column);
        QFETCH(int, row);
        QFETCH(quint32, color);
        FakeHost host;
        host.settings.setEchoColor(0x123456);
        host.settings.setAsciiColor(0x654321);
        SettingsDialog *dlg = openShown(host);
        ColorButton *target = forEcho ? dlg->echoColorButton() : dlg->asciiColorButton();
        ColorButton *other = forEcho ? dlg->asciiColorButton() : dlg->echoColorButton();
        const ColorRef otherBefore = other->color();

        QTest::mouseClick(target, Qt::LeftButton);
        ColorPicker *pick = dlg->colorPicker();
        QVERIFY(pick->isVisible());
        QCOMPARE(dlg->echoColor, forEcho);
        // Just under its button.
        QCOMPARE(pick->pos(), target->mapToGlobal(QPoint(0, target->height())));

        clickGrid(pick, column, row);
        QVERIFY(!pick->isVisible());
        QCOMPARE(target->color(), ColorRef(color));
        QCOMPARE(other->color(), otherBefore);
        // Only "&Ok" changes the settings.
        QCOMPARE(host.settings.echoColor(), 0x123456);
        QCOMPARE(host.settings.asciiColor(), 0x654321);
    }

    void pickerKeys()
    {
        FakeHost host;
        SettingsDialog *dlg = openShown(host);
        QTest::mouseClick(dlg->echoColorButton(), Qt::LeftButton);
        ColorPicker *pick = dlg->colorPicker();
        QVERIFY(QTest::qWaitForWindowActive(pick));
        // The first arrow lights the top left cell; Left wraps to the right column.
        QTest::keyClick(pick, Qt::Key_Down);
        QTest::keyClick(pick, Qt::Key_Left);
        QTest::keyClick(pick, Qt::Key_Down);
        QTest::keyClick(pick, Qt::Key_Return);
        QVERIFY(!pick->isVisible());
        QCOMPARE(dlg->echoColorButton()->color(), ColorRef(12583104)); // purple

        QTest::mouseClick(dlg->echoColorButton(), Qt::LeftButton);
        QVERIFY(pick->isVisible());
        QTest::keyClick(pick, Qt::Key_Escape);
        QVERIFY(!pick->isVisible());
        QCOMPARE(dlg->echoColorButton()->color(), ColorRef(12583104));
        // Esc reached only the picker.
        QCOMPARE(SettingsDialog::current(), dlg);
        QVERIFY(dlg->isVisible());
    }

    void clickElsewhereClosesPickerWithoutChange()
    {
        FakeHost host;
        SettingsDialog *dlg = openShown(host);
        QTest::mouseClick(dlg->asciiColorButton(), Qt::LeftButton);
        ColorPicker *pick = dlg->colorPicker();
        QVERIFY(pick->isVisible());
        const QPoint onEcho = dlg->echoBox()->mapTo(dlg, boxOf(dlg->echoBox()));
        QVERIFY(!pick->geometry().contains(dlg->mapToGlobal(onEcho)));
        // Through the window system, as a real click comes, so the open pop-up sees it.
        QTest::mouseClick(dlg->windowHandle(), Qt::LeftButton, {}, onEcho);
        QVERIFY(!pick->isVisible());
        QCOMPARE(dlg->asciiColorButton()->color(), ColorRef(0));
        // The click only closed the picker.
        QVERIFY(!dlg->echoBox()->isChecked());
        QVERIFY(dlg->isVisible());
    }

    void thresholdText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");   // when accepted
        QTest::addColumn<int>("failure"); // 0 when accepted
        QTest::newRow("plain") << "13" << 13 << 0;
        QTest::newRow("blanks around") << "  42 \t" << 42 << 0;
        QTest::newRow("half down to even") << "12.5" << 12 << 0;
        QTest::newRow("just under the top") << "255.4" << 255 << 0;
        QTest::newRow("plus sign") << "+7" << 7 << 0;
        QTest::newRow("leading point") << ".6" << 1 << 0;
        QTest::newRow("empty") << "" << 0 << 13;
        QTest::newRow("trailing junk") << "12abc" << 0 << 13;
        QTest::newRow("blank inside") << "1 2" << 0 << 13;
        QTest::newRow("hex") << "0x10" << 0 << 13;
        QTest::newRow("300") << "300" << 0 << 6;
        QTest::newRow("minus one") << "-1" << 0 << 6;
        QTest::newRow("half over the top") << "255.5" << 0 << 6;
        QTest::newRow("huge") << "99999999999999999999999" << 0 << 6;
    }
    void thresholdText()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QFETCH(int, failure);
        try {
            const int v = SettingsDialog::asciiBelowValue(text);
            QCOMPARE(failure, 0);
            QCOMPARE(v, value);
        } catch (const SettingsStepError &e) {
            QCOMPARE(int(e.failure), failure);
            QVERIFY(e.text().startsWith(QString::number(failure) + QStringLiteral(": ")));
        }
    }

    void okStepsInOrder_data()
    {
        QTest::addColumn<bool>("ready");
        QTest::addColumn<QString>("handler"); // none, plain, terminal
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("ready, terminal current")
            << true << "terminal" << QStringList{"close", "initRTF", "init 3 9600 deaf"};
        QTest::newRow("ready, other handler") << true << "plain" << QStringList{"close", "init 3 9600 deaf"};
        QTest::newRow("not ready, terminal") << false << "terminal" << QStringList{"initRTF", "init 3 9600 deaf"};
        QTest::newRow("no handler: skipped silently") << true << "none" << QStringList{"close", "init 3 9600 none"};
    }
    void okStepsInOrder()
    {
        QFETCH(bool, ready);
        QFETCH(QString, handler);
        QFETCH(QStringList, calls);
        FakeHost host;
        host.ready = ready;
        host.handler = handler == QLatin1String("none") ? nullptr : &host.handlerA;
        host.terminal = handler == QLatin1String("terminal");
        QPointer<SettingsDialog> dlg = openShown(host);

        dlg->serialPortCombo()->setCurrentIndex(2);
        dlg->terminalSpeedCombo()->setCurrentIndex(4);
        tick(dlg->echoBox());
        tick(dlg->externalTerminalBox());
        tick(dlg->reloadHexBox());
        tick(dlg->reloadOnFocusBox());
        tick(dlg->printAsciiBox());
        dlg->asciiBelowEdit()->setText(QStringLiteral(" 32 "));
        dlg->asciiColorButton()->setColor(255);
        // Enter presses "&Ok".
        QTest::keyClick(dlg->terminalSpeedCombo(), Qt::Key_Return);

        QCOMPARE(host.calls, calls);
        QVERIFY(host.prompter.messages.isEmpty());
        QVERIFY(!host.handlerA.ignoreReceive());
        QCOMPARE(host.settings.serialPort(), 3);
        QCOMPARE(host.settings.terminalSpeed(), QStringLiteral("9600"));
        QVERIFY(host.settings.echo());
        QVERIFY(host.settings.useExternalTerminal());
        QVERIFY(host.settings.reloadHex());
        QVERIFY(!host.settings.reloadHexOnFocus());
        QVERIFY(!host.settings.printAscii());
        QCOMPARE(host.settings.asciiBelow(), 32);
        QCOMPARE(host.settings.asciiColor(), 255);
        QCOMPARE(host.settings.echoColor(), 0);

        QCOMPARE(SettingsDialog::current(), nullptr);
        flushDeletes();
        QVERIFY(dlg.isNull());
    }

    void okReportsAFailedStepAndGoesOn_data()
    {
        QTest::addColumn<QString>("threshold");
        QTest::addColumn<bool>("failInitRTF");
        QTest::addColumn<QString>("number");
        QTest::newRow("threshold 300") << "300" << false << "6";
        QTest::newRow("threshold empty") << "" << false << "13";
        QTest::newRow("terminal clearing throws") << "40" << true << "51";
    }
    void okReportsAFailedStepAndGoesOn()
    {
        QFETCH(QString, threshold);
        QFETCH(bool, failInitRTF);
        QFETCH(QString, number);
        FakeHost host;
        host.handler = &host.handlerA;
        host.terminal = true;
        host.failInitRTF = failInitRTF;
        SettingsDialog *dlg = openShown(host);
        dlg->asciiBelowEdit()->setText(threshold);
        tick(dlg->echoBox());
        dlg->echoColorButton()->setColor(65280);
        QTest::mouseClick(dlg->okButton(), Qt::LeftButton);

        QCOMPARE(host.prompter.messages.size(), 1);
        QVERIFY2(host.prompter.messages[0].startsWith(number + QStringLiteral(": ")),
                 qPrintable(host.prompter.messages[0]));
        QCOMPARE(host.prompter.icons[0], Prompter::Icon::None);
        QCOMPARE(host.settings.asciiBelow(), failInitRTF ? 40 : 13);
        // Everything else was applied and the later steps ran.
        QVERIFY(host.settings.echo());
        QCOMPARE(host.settings.echoColor(), 65280);
        QCOMPARE(host.calls, (QStringList{"initRTF", "init 2 19200 deaf"}));
        QVERIFY(!host.handlerA.ignoreReceive());
        QCOMPARE(SettingsDialog::current(), nullptr);
        QVERIFY(!dlg->isVisible());
    }

    void okActsOnTheHandlerCurrentThen()
    {
        FakeHost host;
        host.ready = true;
        host.handler = &host.handlerA;
        SettingsDialog *dlg = openShown(host);
        QVERIFY(host.handlerA.ignoreReceive());
        // Another command installed its own handler meanwhile.
        host.handler = &host.handlerB;
        host.terminal = true;
        host.handlerB.setIgnoreReceive(true);
        // Enter in the device box presses "&Ok" too; nothing changed, the port is
        // still closed and set up again.
        QTest::keyClick(dlg->portDeviceCombo(), Qt::Key_Return);
        QCOMPARE(host.calls, (QStringList{"close", "initRTF", "init 2 19200 deaf"}));
        QVERIFY(!host.handlerB.ignoreReceive());
    }

    void closingWithoutOk_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("Cancel") << "cancel";
        QTest::newRow("Esc") << "esc";
        QTest::newRow("close button") << "close";
    }
    void closingWithoutOk()
    {
        QFETCH(QString, way);
        FakeHost host;
        host.ready = true;
        host.handler = &host.handlerA;
        QPointer<SettingsDialog> dlg = openShown(host);
        QPointer<ColorPicker> pick = dlg->colorPicker();
        dlg->serialPortCombo()->setCurrentIndex(0);
        dlg->portDeviceCombo()->setEditText(QStringLiteral("/dev/ttyUSB9"));
        tick(dlg->echoBox());
        dlg->asciiBelowEdit()->setText(QStringLiteral("99"));
        dlg->echoColorButton()->setColor(255);

        if (way == QLatin1String("cancel"))
            QTest::mouseClick(dlg->cancelButton(), Qt::LeftButton);
        else if (way == QLatin1String("esc"))
            QTest::keyClick(dlg->asciiBelowEdit(), Qt::Key_Escape);
        else
            QVERIFY(dlg->close());

        QCOMPARE(SettingsDialog::current(), nullptr);
        flushDeletes();
        QVERIFY(dlg.isNull());
        QVERIFY(pick.isNull());
        QVERIFY(host.calls.isEmpty());
        QVERIFY(host.prompter.messages.isEmpty());
        QCOMPARE(host.settings.serialPort(), 2);
        QCOMPARE(host.settings.portDevice(1), Settings::defaultPortDevice(1));
        QVERIFY(!host.settings.echo());
        QCOMPARE(host.settings.asciiBelow(), 13);
        QCOMPARE(host.settings.echoColor(), 0);
        // The terminal hears again after the dialog is gone.
        QVERIFY(!host.handlerA.ignoreReceive());
    }

    void openingAgainOnlyRaises()
    {
        FakeHost host;
        host.settings.setSerialPort(7);
        host.handler = &host.handlerA;
        SettingsDialog *dlg = openShown(host);
        QCOMPARE(host.prompter.messages.size(), 1);
        dlg->asciiBelowEdit()->setText(QStringLiteral("77"));
        host.handlerA.setIgnoreReceive(false);

        QCOMPARE(SettingsDialog::open(host), dlg);
        QCOMPARE(dlg->asciiBelowEdit()->text(), QStringLiteral("77"));
        QCOMPARE(host.prompter.messages.size(), 1);
        QVERIFY(!host.handlerA.ignoreReceive());

        // Once closed, the next opening is a fresh dialog.
        dlg->cancel();
        SettingsDialog *again = SettingsDialog::open(host);
        QCOMPARE(again->asciiBelowEdit()->text(), QStringLiteral("13"));
        QCOMPARE(host.prompter.messages.size(), 2);
    }

    void portDeviceFollowsTheChosenPort()
    {
        FakeHost host;
        const QStringList devices{"/dev/ttyA", "/dev/ttyB", "/dev/ttyC", "/dev/ttyD"};
        for (int n = 1; n <= 4; ++n)
            host.settings.setPortDevice(n, devices[n - 1]);
        SettingsDialog *dlg = openShown(host);
        QComboBox *device = dlg->portDeviceCombo();
        QCOMPARE(device->currentText(), QStringLiteral("/dev/ttyB"));

        QStringList offered;
        for (int i = 0; i < device->count(); ++i)
            offered << device->itemText(i);
        QStringList system;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            system << info.systemLocation();
        system.sort();
        QCOMPARE(offered, system);

        dlg->serialPortCombo()->setCurrentIndex(3);
        QCOMPARE(device->currentText(), QStringLiteral("/dev/ttyD"));
        device->setEditText(QStringLiteral("/dev/pts/7"));
        dlg->serialPortCombo()->setCurrentIndex(2);
        device->setEditText(QStringLiteral("  "));
        dlg->serialPortCombo()->setCurrentIndex(0);
        QCOMPARE(device->currentText(), QStringLiteral("/dev/ttyA"));
        dlg->serialPortCombo()->setCurrentIndex(3);
        QCOMPARE(device->currentText(), QStringLiteral("/dev/pts/7"));
        // The "COM n" items stay as they are.
        QCOMPARE(dlg->serialPortCombo()->itemText(3), QStringLiteral("COM 4"));

        QTest::mouseClick(dlg->okButton(), Qt::LeftButton);
        QCOMPARE(host.settings.serialPort(), 4);
        QCOMPARE(host.settings.portDevice(4), QStringLiteral("/dev/pts/7"));
        // An emptied box keeps the device stored before.
        QCOMPARE(host.settings.portDevice(3), QStringLiteral("/dev/ttyC"));
        QCOMPARE(host.settings.portDevice(1), QStringLiteral("/dev/ttyA"));
        QCOMPARE(host.settings.portDevice(2), QStringLiteral("/dev/ttyB"));
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "tst_settings_dialog.moc"
