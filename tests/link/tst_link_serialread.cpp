// SerialByteLink on a pseudo-terminal under load: what a flood delivers, in what pieces,
// and whether a written byte leaves without waiting for the event loop.
#include "link/SerialByteLink.h"

#include <QtTest>

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
QByteArray pattern(qsizetype size)
{
    QByteArray out(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = char((i * 7 + i / 251) & 0xFF); // every byte value, no short period
    return out;
}

// The harness side of the line: the master of a pty whose slave the link opens.
struct Pty {
    int master = -1;
    int slave = -1;
    QString device;

    Pty()
    {
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        device = QString::fromLocal8Bit(::ttyname(slave));
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
    }
    bool writeAll(const QByteArray &bytes) const
    {
        qsizetype off = 0;
        while (off < bytes.size()) {
            const ssize_t n = ::write(master, bytes.constData() + off, size_t(bytes.size() - off));
            if (n <= 0)
                return false;
            off += n;
        }
        return true;
    }
};

struct Reader {
    QByteArray received;
    QList<qsizetype> deliveries;
    explicit Reader(SerialByteLink &link)
    {
        QObject::connect(&link, &ByteLink::bytesArrived, &link, [this, &link] {
            const QByteArray bytes = link.readAll();
            if (!bytes.isEmpty())
                deliveries.append(bytes.size());
            received += bytes;
        });
    }
};
} // namespace

class TestSerialRead : public QObject {
    Q_OBJECT
private slots:
    // Sizes around the pty's 4 KiB read limit, beyond its 64 KiB buffer (the writer has to
    // wait for the reader) and beyond one read-ahead.
    void floodArrivesWholeInOrderAndInBoundedPieces_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::newRow("one byte") << qsizetype(1);
        QTest::newRow("one pty read") << qsizetype(4095);
        QTest::newRow("just over one pty read") << qsizetype(4097);
        QTest::newRow("more than the pty holds") << qsizetype(200 * 1000);
        QTest::newRow("several read-aheads") << qsizetype(3 * 1000 * 1000);
    }

    void floodArrivesWholeInOrderAndInBoundedPieces()
    {
        QFETCH(qsizetype, size);
        Pty pty;
        QVERIFY(!pty.device.isEmpty());
        SerialByteLink link;
        QVERIFY(link.open(pty.device, 115200).ok());
        Reader reader(link);
        const QByteArray data = pattern(size);
        std::thread writer([&] { pty.writeAll(data); });
        QTRY_COMPARE_WITH_TIMEOUT(reader.received.size(), size, 20000);
        writer.join();
        QVERIFY(reader.received == data);
        // A turn of the event loop takes a bounded piece, however much is waiting.
        for (qsizetype n : reader.deliveries)
            QVERIFY2(n <= 2 * SerialByteLink::ReadAhead, qPrintable(QString::number(n)));
    }

    void oneDeliveryTakesEverythingWaiting()
    {
        Pty pty;
        QVERIFY(!pty.device.isEmpty());
        SerialByteLink link;
        QVERIFY(link.open(pty.device, 115200).ok());
        Reader reader(link);
        // As much as the pty takes, well over one pty read, all of it waiting before the
        // event loop looks.
        ::fcntl(pty.master, F_SETFL, ::fcntl(pty.master, F_GETFL) | O_NONBLOCK);
        QByteArray data = pattern(256 * 1024);
        qsizetype written = 0;
        for (ssize_t n = 1; n > 0 && written < data.size(); written += std::max<ssize_t>(n, 0))
            n = ::write(pty.master, data.constData() + written, size_t(data.size() - written));
        data.truncate(written);
        QVERIFY2(written > 2 * 4096, qPrintable(QString::number(written)));
        QTRY_VERIFY(!reader.deliveries.isEmpty());
        QCOMPARE(reader.deliveries.first(), data.size());
        QVERIFY(reader.received == data);
    }

    void writtenByteLeavesWithoutTheEventLoop()
    {
        Pty pty;
        QVERIFY(!pty.device.isEmpty());
        SerialByteLink link;
        QVERIFY(link.open(pty.device, 115200).ok());
        // A typed key goes out while the event loop is busy with incoming data.
        QVERIFY(link.write("k").ok());
        pollfd pfd{pty.master, POLLIN, 0};
        QCOMPARE(::poll(&pfd, 1, 2000), 1);
        char c = 0;
        QCOMPARE(::read(pty.master, &c, 1), ssize_t(1));
        QCOMPARE(c, 'k');
    }
};

QTEST_GUILESS_MAIN(TestSerialRead)
#include "tst_link_serialread.moc"
