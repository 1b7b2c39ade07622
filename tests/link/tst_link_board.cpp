// The serial link against the simulated board over a real pseudo-terminal.
#include "link/KernelLink.h"
#include "link/LinkDispatcher.h"
#include "link/LinkTiming.h"
#include "support/BoardProcess.h"
#include "support/LiveLink.h"
#include "support/TestFiles.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QtTest>

namespace {
const QString kOpened = QStringLiteral("Initializing serielport (Port 2)...Ok");
const QString kGet = QStringLiteral("Getting Kernel Version...");
const QString kCompiled = QStringLiteral("Corvade is compiled for Kernel version 1.0.0");

struct LiveRig : LiveLink {
    using LiveLink::LiveLink;
    SerialByteLink &link = serial.link();
    LinkDispatcher &dispatcher = serial.dispatcher();
    SerialPortSetup &setup = serial.port();
    KernelLink &kernel = serial.kernel();

    // What Main does: open the port, and when it opened, ask for the version.
    void startUp()
    {
        if (setup.openPort())
            kernel.queryKernelVersion();
    }
};
} // namespace

class TestLinkBoard : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Keeps the silent-board case short; the default stays 5000 ms.
        qputenv("CORVADE_TEST_REQUEST_TIMEOUT_MS", "400");
        QCOMPARE(requestTimeoutInterval(), std::chrono::milliseconds(400));
    }

    void startUpQuery_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("lines");

        const QString conflict = QStringLiteral("WARNING: Version conflict! This version of Corvade is compiled for use "
                                                "with another 8051 kernel. Some functions may not work.");
        const QString info = QStringLiteral("INFORMATION: Check out the Readme file or look at the Corvade website "
                                            "(corvade.example.org/kernel), for combatibility information.");
        QTest::newRow("matching version") << QStringList{} << QStringList{kOpened, kGet, "Kernel version 1.0.0", kCompiled};
        QTest::newRow("other version") << QStringList{"--kernel-version", "1.2.3"}
                                       << QStringList{kOpened, kGet, "Kernel version 1.2.3", kCompiled, conflict, info};
        QTest::newRow("mismatching first byte")
            << QStringList{"--first-byte", "0x02"} << QStringList{kOpened, kGet, "ERROR: Commands do not match"};
        QTest::newRow("silent board") << QStringList{"--silent"} << QStringList{kOpened, kGet, "", "ERROR: Request time out"};
        QTest::newRow("reply split into single bytes")
            << QStringList{"--split", "--split-gap", "8"} << QStringList{kOpened, kGet, "Kernel version 1.0.0", kCompiled};
        QTest::newRow("slow and split reply") << QStringList{"--delay", "150", "--split"}
                                              << QStringList{kOpened, kGet, "Kernel version 1.0.0", kCompiled};
    }

    void startUpQuery()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, lines);

        const QString log = m_dir.filePath(QStringLiteral("wire-%1.log").arg(QTest::currentDataTag()));
        BoardProcess board;
        LiveRig rig(board.start(options, {}, log));
        QVERIFY(!rig.device.isEmpty());

        rig.startUp();
        QCOMPARE(rig.status.lines(), lines);
        QVERIFY2(!rig.dispatcher.currentHandler(), "the wait ended and the handler was released");
        QVERIFY(rig.state.serialReady());
        QVERIFY(rig.prompter.boxes.isEmpty());
        QCOMPARE(QString::fromLatin1(readFile(log)).simplified(), QStringLiteral("01"));
    }

    void missingDevice_data()
    {
        QTest::addColumn<bool>("retry");
        QTest::newRow("Ignore") << false;
        QTest::newRow("Retry after plugging it in") << true;
    }

    void missingDevice()
    {
        QFETCH(bool, retry);
        const QString path = m_dir.filePath(QStringLiteral("missing-%1").arg(retry));
        BoardProcess board;
        LiveRig rig(path);
        if (retry) {
            rig.prompter.answers = {Prompter::Answer::Retry};
            rig.prompter.beforeAnswer = [&](int) { QVERIFY(!board.start({}, path).isEmpty()); };
        }

        rig.startUp();
        QCOMPARE(rig.prompter.boxes.size(), 1);
        QCOMPARE(rig.prompter.boxes[0].text, QStringLiteral("The serielport, port 2 is invalid."));
        QCOMPARE(rig.prompter.boxes[0].defaultButton, Prompter::Answer::Ignore);
        if (retry) {
            QCOMPARE(rig.status.lines(), (QStringList{"Initializing serielport (Port 2)...Retrying to initialize seriel port",
                                                      "Ok", kGet, "Kernel version 1.0.0", kCompiled}));
            QVERIFY(rig.state.serialReady());
        } else {
            QCOMPARE(rig.status.lines(),
                     (QStringList{"Initializing serielport (Port 2)...WARNING Serielport not initialized!",
                                  "You will not be able to connect to the 8051, and many Corvade functions will be disabled"}));
            QVERIFY(!rig.state.serialReady());
        }
    }

    void busyDevice()
    {
        BoardProcess board;
        LiveRig rig(board.start({}));
        QVERIFY(!rig.device.isEmpty());

        // Another program holds the device.
        QSerialPort other;
        other.setPortName(rig.device);
        QVERIFY2(other.open(QIODevice::ReadWrite), qPrintable(other.errorString()));

        rig.prompter.answers = {Prompter::Answer::Retry, Prompter::Answer::Retry};
        rig.prompter.beforeAnswer = [&](int box) {
            if (box == 2)
                other.close(); // the other program lets go before the second Retry
        };
        rig.startUp();

        QCOMPARE(rig.prompter.boxes.size(), 2);
        QCOMPARE(rig.prompter.boxes[0].text, SerialPortSetup::inUseText(2));
        QCOMPARE(rig.prompter.boxes[0].defaultButton, Prompter::Answer::Retry);
        QCOMPARE(rig.status.lines(), (QStringList{"Initializing serielport (Port 2)...Retrying to initialize seriel port",
                                                  "Retrying to initialize seriel port", "Ok", kGet,
                                                  "Kernel version 1.0.0", kCompiled}));
    }

    void initialiseWhileOpen()
    {
        BoardProcess board;
        LiveRig rig(board.start({}));
        rig.startUp();
        rig.status.clear();

        rig.setup.initializeSerialPort();
        rig.kernel.queryKernelVersion();
        QCOMPARE(rig.status.lines(), (QStringList{kOpened, kGet, "Kernel version 1.0.0", kCompiled}));
        QVERIFY(rig.link.isOpen());
    }

    void pulledCable()
    {
        const QString path = m_dir.filePath(QStringLiteral("pulled"));
        BoardProcess board;
        // The rig names the stable link, as a user's settings would: the board that comes
        // back later gets another pseudo-terminal under the same name.
        QVERIFY(!board.start({"--pull-at", "1"}, path).isEmpty());
        LiveRig rig(path);
        QVERIFY(rig.setup.openPort());

        QSignalSpy lost(&rig.link, &ByteLink::linkLost);
        QVERIFY(rig.link.write("\x02").ok());
        QVERIFY(rig.link.write(":00000001FF").ok());
        QVERIFY(lost.wait(10000));
        QVERIFY(!rig.state.serialReady());
        QVERIFY(!rig.link.isOpen());
        QVERIFY(rig.status.lines().last().startsWith(QStringLiteral("ERROR: The serielport, port 2 was lost")));

        // A write now is reported, not a failure of the program.
        rig.kernel.queryKernelVersion();
        QCOMPARE(rig.status.lines().last(), QStringLiteral("ERROR: The serial port is not open"));
        QVERIFY(!rig.dispatcher.currentHandler());

        // The cable goes back in: F4 opens the line again. The first board removes its link
        // when it ends, so the new one is started after that.
        QTRY_VERIFY_WITH_TIMEOUT(board.process().state() == QProcess::NotRunning, 10000);
        BoardProcess again;
        QVERIFY(!again.start({}, path).isEmpty());
        rig.status.clear();
        rig.setup.initializeSerialPort();
        rig.kernel.queryKernelVersion();
        QCOMPARE(rig.status.lines(), (QStringList{kOpened, kGet, "Kernel version 1.0.0", kCompiled}));
    }

    void rawBytesBothWays()
    {
        // After the run request the board's program echoes: every byte value must come back
        // as it went, with no line-ending or flow-control translation on the way.
        BoardProcess board;
        SerialByteLink link;
        QVERIFY(!link.write("x").ok());
        QCOMPARE(link.write("x").error, LinkError::NotOpen);
        QVERIFY(link.open(board.start({}), 19200).ok());

        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        const QByteArray expected = "\x03Hello from corvade-board\r\n" + all;
        QByteArray got;
        int events = 0;
        connect(&link, &ByteLink::bytesArrived, this, [&] {
            got += link.readAll();
            ++events;
        });
        QVERIFY(link.write("\x03").ok());
        QVERIFY(link.write(all).ok());
        QVERIFY(link.flush());
        QTRY_VERIFY_WITH_TIMEOUT(got.size() >= expected.size(), 10000);
        QCOMPARE(got, expected);
        QVERIFY(events >= 1);
    }

    void openFailuresByKind_data()
    {
        QTest::addColumn<QSerialPort::SerialPortError>("error");
        QTest::addColumn<bool>("accessible");
        QTest::addColumn<LinkError>("kind");
        QTest::newRow("no such device") << QSerialPort::DeviceNotFoundError << true << LinkError::NoSuchDevice;
        QTest::newRow("held by another program") << QSerialPort::PermissionError << true << LinkError::InUse;
        QTest::newRow("no rights") << QSerialPort::PermissionError << false << LinkError::NoPermission;
        QTest::newRow("opened twice") << QSerialPort::OpenError << true << LinkError::InUse;
        QTest::newRow("anything else") << QSerialPort::UnsupportedOperationError << true << LinkError::Other;
    }

    void openFailuresByKind()
    {
        QFETCH(QSerialPort::SerialPortError, error);
        QFETCH(bool, accessible);
        QFETCH(LinkError, kind);
        QCOMPARE(SerialByteLink::classifyOpenFailure(error, accessible), kind);
    }

    void openOfNonDevices()
    {
        // As the user meets them: a missing device, and something that is no serial line.
        SerialByteLink link;
        QCOMPARE(link.open(m_dir.filePath(QStringLiteral("absent")), 19200).error, LinkError::NoSuchDevice);
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("plain-file")), {}));
        const LinkResult notSerial = link.open(m_dir.filePath(QStringLiteral("plain-file")), 19200);
        QVERIFY(!notSerial.ok());
        QVERIFY(!link.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestLinkBoard)
#include "tst_link_board.moc"
