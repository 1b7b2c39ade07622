// The terminal handler: taking the line at the terminal speed, what it shows, what it sends.
#include "link/TerminalSession.h"
#include "tests/link/RunTestRig.h"

#include <QtTest>

#include <cerrno>

namespace {
constexpr ColorRef Ascii = 0x0000C0;
constexpr ColorRef Other = 0x00C000;

std::unique_ptr<TerminalSession> makeTerminal(RunRig &rig)
{
    return std::make_unique<TerminalSession>(rig.dispatcher, rig.port, rig.state, rig.settings, rig.surface);
}
} // namespace

class TestTerminalHandler : public QObject {
    Q_OBJECT
private slots:
    void takesTheLine_data();
    void takesTheLine();
    void portAlreadyClosed();
    void receiveFollowsSettings_data();
    void receiveFollowsSettings();
    void closedWindowComesBack();
    void send_data();
    void send();
};

void TestTerminalHandler::takesTheLine_data()
{
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QList<LinkResult>>("openFailures");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("ready");
    QTest::addColumn<qint32>("baud");

    const QList<LinkResult> none;
    QTest::newRow("9600") << "9600" << none << QStringList{} << true << 9600;
    QTest::newRow("blanks around") << " 2400 " << none << QStringList{} << true << 2400;
    QTest::newRow("speed the adapter refuses")
        << "250000" << QList<LinkResult>{LinkResult::failure(LinkError::Other, EINVAL, "Invalid argument")}
        << QStringList{"ERROR: Invalid argument"} << false << 0;
    QTest::newRow("vanished device")
        << "9600"
        << QList<LinkResult>{LinkResult::failure(LinkError::NoSuchDevice, ENOENT,
                                                 "The device /dev/fake2 does not exist")}
        << QStringList{"ERROR: The device /dev/fake2 does not exist"} << false << 0;
    const auto notABaudRate = [](const QString &text) {
        return QStringList{QStringLiteral("ERROR: The terminal speed \"%1\" is not a baud rate. Choose another "
                                          "one in the settings")
                               .arg(text)};
    };
    QTest::newRow("word") << "fast" << none << notABaudRate("fast") << false << 0;
    QTest::newRow("zero") << "0" << none << notABaudRate("0") << false << 0;
    QTest::newRow("hex") << "0x2580" << none << notABaudRate("0x2580") << false << 0;
    QTest::newRow("beyond 32 bits") << "4294977296" << none << notABaudRate("4294977296") << false << 0;
    QTest::newRow("with a unit") << "9600 baud" << none << notABaudRate("9600 baud") << false << 0;
}

void TestTerminalHandler::takesTheLine()
{
    QFETCH(QString, speed);
    QFETCH(QList<LinkResult>, openFailures);
    QFETCH(QStringList, lines);
    QFETCH(bool, ready);
    QFETCH(qint32, baud);

    RunRig rig;
    rig.settings.setTerminalSpeed(speed);
    rig.surface.renderer().addText(QStringLiteral("from before"), Other);
    rig.link.failOpens(openFailures);

    auto terminal = makeTerminal(rig);

    QCOMPARE(rig.status.lines(), lines);
    QCOMPARE(rig.state.serialReady(), ready);
    QCOMPARE(terminal->portOpened(), ready);
    QCOMPARE(rig.link.isOpen(), ready);
    if (ready)
        QCOMPARE(rig.link.baud(), baud);
    QVERIFY(rig.prompter.boxes.isEmpty());
    // The terminal is emptied either way, and still shows what arrives or is added.
    QCOMPARE(rig.surface.text(), QByteArray());
    terminal->addText(QStringLiteral("x"), 0);
    QCOMPARE(rig.surface.text(), QByteArray("x"));
}

void TestTerminalHandler::portAlreadyClosed()
{
    // After an external-terminal run the port is closed but still counts as ready.
    RunRig rig;
    rig.link.close();
    rig.link.events.clear();
    rig.settings.setTerminalSpeed(QStringLiteral("4800"));

    auto terminal = makeTerminal(rig);
    QCOMPARE(rig.link.events, QStringList{"open 4800"});
    QVERIFY(rig.state.serialReady());
    QVERIFY(terminal->portOpened());
}

void TestTerminalHandler::receiveFollowsSettings_data()
{
    QTest::addColumn<bool>("printAscii");
    QTest::addColumn<int>("below");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("colours");

    QTest::newRow("defaults") << true << 13 << QByteArray("A\r<10>") << QByteArray("..aaaa");
    QTest::newRow("limit raised past CR") << true << 14 << QByteArray("A<13><10>") << QByteArray(".aaaaaaaa");
    QTest::newRow("PrintASCII off") << false << 14 << QByteArray("A\r\n") << QByteArray("...");
}

void TestTerminalHandler::receiveFollowsSettings()
{
    QFETCH(bool, printAscii);
    QFETCH(int, below);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, colours);

    RunRig rig;
    auto terminal = makeTerminal(rig);
    // Changed after creation, as the settings dialog does: the next delivery follows.
    rig.settings.setPrintAscii(printAscii);
    rig.settings.setAsciiBelow(below);
    rig.settings.setAsciiColor(qint32(Ascii));

    terminal->receive(QByteArray("A\r\n"));
    QCOMPARE(rig.surface.text(), text);
    QCOMPARE(rig.surface.colours(Ascii, 'a'), colours);
}

void TestTerminalHandler::closedWindowComesBack()
{
    RunRig rig;
    auto terminal = makeTerminal(rig);
    QCOMPARE(rig.surface.created, 1);
    terminal->receive(QByteArray("one"));

    rig.surface.closeWindow();
    terminal->receive(QByteArray("two"));
    QCOMPARE(rig.surface.created, 2);
    QCOMPARE(rig.surface.text(), QByteArray("two"));

    rig.surface.closeWindow();
    terminal->addText(QStringLiteral("e"), Other);
    QCOMPARE(rig.surface.created, 3);
    QCOMPARE(rig.surface.colours(Other, 'o'), QByteArray("o"));

    terminal->clear();
    QCOMPARE(rig.surface.text(), QByteArray());
}

void TestTerminalHandler::send_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("failure");

    QTest::newRow("letter") << int('a') << true << QByteArray("a") << QString();
    QTest::newRow("zero byte") << 0 << true << QByteArray(1, '\0') << QString();
    QTest::newRow("255") << 255 << true << QByteArray("\xff") << QString();
    QTest::newRow("256") << 256 << true << QByteArray()
                         << QStringLiteral("%1: The character code 256 cannot be sent as one byte").arg(EINVAL);
    QTest::newRow("negative") << -1 << true << QByteArray()
                              << QStringLiteral("%1: The character code -1 cannot be sent as one byte").arg(EINVAL);
    QTest::newRow("closed port") << int('a') << false << QByteArray() << "The serial port is not open";
}

void TestTerminalHandler::send()
{
    QFETCH(int, code);
    QFETCH(bool, portOpen);
    QFETCH(QByteArray, written);
    QFETCH(QString, failure);

    RunRig rig;
    auto terminal = makeTerminal(rig);
    if (!portOpen)
        rig.link.close();
    rig.link.clearWritten();

    const LinkResult result = terminal->send(code);
    QCOMPARE(result.ok(), failure.isEmpty());
    if (!result.ok())
        QCOMPARE(TerminalSession::sendFailureText(result), failure);
    QCOMPARE(rig.link.written(), written);
    // Nothing is shown and nothing is logged; a failed key does not end the conversation.
    QCOMPARE(rig.surface.text(), QByteArray());
    QVERIFY(rig.status.lines().isEmpty());
    QVERIFY(!terminal->ignoreReceive());
}

QTEST_GUILESS_MAIN(TestTerminalHandler)
#include "tst_handler.moc"
