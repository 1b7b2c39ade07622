// SerialByteLink on a pseudo-terminal this test holds the other side of: how opens fail, a
// line that goes away, what a flood delivers and in what pieces, and that written bytes
// leave at once, untranslated.
#include "link/SerialByteLink.h"
#include "link/SerialDeviceList.h"
#include "support/TestFiles.h"

#include <QRandomGenerator>
#include <QSerialPort>
#include <QSignalSpy>
#include <QtTest>

#include <poll.h>
#include <pty.h>
#include <thread>
#include <unistd.h>

namespace {
// The line settings are left to the link: a cooked line would translate or swallow bytes.
struct Pty {
    int master = -1, slave = -1;
    QString device;
    Pty()
    {
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0)
            device = QString::fromLocal8Bit(::ttyname(slave));
    }
    ~Pty()
    {
        ::close(master);
        ::close(slave);
    }
};

struct Reader {
    SerialByteLink link;
    QByteArray received;
    QList<qsizetype> deliveries;
    explicit Reader(const QString &device)
    {
        QObject::connect(&link, &ByteLink::bytesArrived, &link, [this] {
            const QByteArray bytes = link.readAll();
            deliveries.append(bytes.size());
            received += bytes;
        });
        link.open(device, 115200);
    }
};
} // namespace

class TestLinkSerial : public QObject {
    Q_OBJECT
private slots:
    // The device box's entries for ports ttyUSB0 (telling what it is) and ttyS0 (absent) with
    // by-id links: two to ttyUSB0, a dangling one, one to a device no port stands for.
    void deviceList()
    {
        TestFolder dir;
        const QString home = QFileInfo(dir.path()).canonicalFilePath() + '/', byId = home + "by-id/";
        QVERIFY(QDir().mkpath(byId) && writeFile(home + "ttyUSB0", {}) && writeFile(home + "pts3", {}));
        for (const QString &link : QStringList{"usb-z>../ttyUSB0", "usb-FTDI>../ttyUSB0", "usb-Gone>../ttyUSB7", "usb-B>../pts3"})
            QVERIFY(QFile::link(link.section('>', 1), byId + link.section('>', 0, 0)));
        const QList<SerialDevice> list = SerialDeviceList::devices(
            {{home + "ttyUSB0", "FT232R USB UART", "A50285BI"}, {home + "ttyS0", {}, {}}}, byId);
        QStringList labels;
        for (const SerialDevice &device : list)
            labels << QString(device.label).replace(home, "~/");
        QCOMPARE(labels, QStringList({"~/by-id/usb-B (~/pts3)", "~/by-id/usb-FTDI \u2014 FT232R USB UART, serial "
                                                                "A50285BI (~/ttyUSB0)", "~/ttyS0"}));
        // A stored device opens the list at its entry, under its by-id name if it has one.
        for (const QString &row : QStringList{"ttyUSB0 1", "by-id/usb-z 1", "pts3 0", "ttyUSB7 -1"})
            QVERIFY2(SerialDeviceList::indexOf(list, home + row.section(' ', 0, 0)) == row.section(' ', 1).toInt(),
                     qPrintable(row));
    }

    // How opening fails, and a line that goes away while open.
    void openAndLoseTheDevice()
    {
        TestFolder dir;
        SerialByteLink link;
        QCOMPARE(link.write("x").error, LinkError::NotOpen);
        QCOMPARE(link.open(dir.filePath("absent"), 19200).error, LinkError::NoSuchDevice);
        QVERIFY(!link.open(dir.file("plain-file", {}), 19200).ok());
        Pty pty;
        QSerialPort other; // another program holds the device
        other.setPortName(pty.device);
        QVERIFY2(other.open(QIODevice::ReadWrite), qPrintable(other.errorString()));
        QCOMPARE(link.open(pty.device, 19200).error, LinkError::InUse);
        other.close();
        const QString name = dir.filePath("ttyLINK");
        QVERIFY(QFile::link(pty.device, name) && link.open(name, 19200).ok());
        QSignalSpy lost(&link, &ByteLink::linkLost);
        QFile::remove(name); // the adapter is pulled
        QVERIFY(lost.wait(5000));
        QVERIFY(!link.isOpen());

        // The library says "permission" both for a held device and for one this user may not use.
        using E = QSerialPort::SerialPortError;
        const std::tuple<E, bool, LinkError> kinds[] = {
            {E::DeviceNotFoundError, true, LinkError::NoSuchDevice}, {E::PermissionError, true, LinkError::InUse},
            {E::PermissionError, false, LinkError::NoPermission},    {E::OpenError, true, LinkError::InUse},
            {E::UnsupportedOperationError, true, LinkError::Other}};
        for (const auto &[error, accessible, kind] : kinds)
            QCOMPARE(SerialByteLink::classifyOpenFailure(error, accessible), kind);
    }

    // The port's own thread takes a flood off the line while this thread is busy, up to a
    // limit; then the writer waits until deliveries, each a bounded piece, make room.
    void flood()
    {
        Pty pty;
        Reader reader(pty.device);
        const qsizetype size = 5 * SerialByteLink::ReadAhead;
        QByteArray data(size, Qt::Uninitialized);
        QRandomGenerator(15).fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
        std::thread writer([&] {
            for (qsizetype off = 0, n = 1; n > 0 && off < size; off += n)
                n = ::write(pty.master, data.constData() + off, size_t(size - off));
        });
        // No event is processed here: only the port thread can be reading.
        const QDeadlineTimer deadline(20000);
        while (reader.link.bytesWaiting() < SerialByteLink::MaxWaiting && !deadline.hasExpired())
            std::this_thread::yield();
        QCOMPARE_GE(reader.link.bytesWaiting(), SerialByteLink::MaxWaiting);
        QVERIFY(reader.received.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(reader.received.size(), size, 20000);
        writer.join();
        QVERIFY(reader.received == data);
        for (qsizetype n : reader.deliveries)
            QVERIFY2(n <= SerialByteLink::ReadAhead, qPrintable(QString::number(n)));

        // Written bytes leave without a turn of this thread's event loop, as a typed key
        // while input floods in, every value as it is.
        QByteArray all;
        for (int c = 0; c < 256; ++c)
            all += char(c);
        QVERIFY(reader.link.write(all).ok());
        QByteArray got;
        char buf[512];
        pollfd pfd{pty.master, POLLIN, 0};
        while (got.size() < all.size() && ::poll(&pfd, 1, 5000) == 1)
            got.append(buf, std::max<ssize_t>(::read(pty.master, buf, sizeof buf), 0));
        QCOMPARE(got, all);
    }
};

QTEST_GUILESS_MAIN(TestLinkSerial)
#include "tst_link_serial.moc"
