// The simulated kernel's protocol, byte by byte, without a pseudo-terminal.
#include "board/KernelSim.h"

#include <QtTest>

namespace {
// Records of a tiny program: 3 bytes at 0x0000, 2 bytes at 0x0100, then end of file.
const QByteArray kRec1 = ":0300000002000BF0";
const QByteArray kRec2 = ":02010000E4F326";
const QByteArray kEof = ":00000001FF";

struct Sim {
    QByteArray replies;
    QByteArray output;
    int pulls = 0;
    KernelSim kernel;
    explicit Sim(KernelFaults faults = {}, quint8 major = 1,
                 std::unique_ptr<BoardProgram> program = std::make_unique<EchoProgram>())
        : kernel(major, 0, 0, faults,
                 {[this](const QByteArray &b) { replies += b; }, [this](const QByteArray &b) { output += b; },
                  [this] { ++pulls; }},
                 std::move(program))
    {
    }
    QByteArray take()
    {
        QByteArray out;
        out.swap(replies);
        return out;
    }
};

// Says who it is when started.
struct NamedProgram : BoardProgram {
    QByteArray name;
    explicit NamedProgram(QByteArray n) : name(std::move(n)) {}
    void start(const BoardMemory &, BoardOutput &out) override { out.send(name); }
    void receive(const QByteArray &, BoardOutput &) override {}
};

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}
} // namespace

class TestBoardKernel : public QObject {
    Q_OBJECT
private slots:
    void requests_data();
    void requests();
    void download_data();
    void download();
    void recordSplitOverReads();
    void downloadFillsMemory();
    void requestAfterAbandonedDownload();
    void runHandsTheLineToTheProgram();
    void startAddressRecords_data();
    void startAddressRecords();
    void runStartsTheDownloadOrTheStandIn_data();
    void runStartsTheDownloadOrTheStandIn();
    void pullClosesAtRecord();
};

void TestBoardKernel::requests_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("firstByte");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("version") << 1 << false << -1 << bytes({1}) << bytes({1, 1, 0, 0});
    QTest::newRow("other version") << 7 << false << -1 << bytes({1}) << bytes({1, 7, 0, 0});
    QTest::newRow("version, wrong first byte") << 1 << false << 2 << bytes({1}) << bytes({2, 1, 0, 0});
    QTest::newRow("download ready") << 1 << false << -1 << bytes({2}) << bytes({2});
    QTest::newRow("silent") << 1 << true << -1 << bytes({1}) << QByteArray();
    QTest::newRow("unknown byte ignored") << 1 << false << -1 << bytes({0x55, 1}) << bytes({1, 1, 0, 0});
    QTest::newRow("two requests in one read") << 1 << false << -1 << bytes({1, 1}) << bytes({1, 1, 0, 0, 1, 1, 0, 0});
}

void TestBoardKernel::requests()
{
    QFETCH(int, major);
    QFETCH(bool, silent);
    QFETCH(int, firstByte);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, expected);

    KernelFaults faults;
    faults.silent = silent;
    faults.firstByte = firstByte;
    Sim sim(faults, quint8(major));
    sim.kernel.receive(sent);
    QCOMPARE(sim.take(), expected);
}

void TestBoardKernel::download_data()
{
    QTest::addColumn<QByteArray>("faultName");
    QTest::addColumn<int>("at");
    QTest::addColumn<QList<QByteArray>>("records");
    QTest::addColumn<QByteArray>("answers");

    const QList<QByteArray> good{kRec1, kRec2, kEof};
    QTest::newRow("all accepted, end record completes") << QByteArray() << 0 << good << bytes({2, 2, 2, 3});
    QTest::newRow("lower-case hex") << QByteArray() << 0 << QList<QByteArray>{":0300000002000bf0", kEof}
                                    << bytes({2, 2, 3});
    QTest::newRow("bad checksum asks for a resend")
        << QByteArray() << 0 << QList<QByteArray>{":0300000002000BF1", kRec1, kEof} << bytes({2, 4, 2, 3});
    QTest::newRow("not a record is refused") << QByteArray() << 0 << QList<QByteArray>{"hello"} << bytes({2, 6});
    QTest::newRow("non-hex inside a record is refused")
        << QByteArray() << 0 << QList<QByteArray>{":03000000020G0BF0"} << bytes({2, 6});
    QTest::newRow("refuse record 2") << QByteArray("refuse") << 2 << good << bytes({2, 2, 6});
    QTest::newRow("resend record 2 once")
        << QByteArray("resend") << 2 << QList<QByteArray>{kRec1, kRec2, kRec2, kEof} << bytes({2, 2, 4, 2, 3});
}

void TestBoardKernel::download()
{
    QFETCH(QByteArray, faultName);
    QFETCH(int, at);
    QFETCH(QList<QByteArray>, records);
    QFETCH(QByteArray, answers);

    KernelFaults faults;
    if (faultName == "refuse")
        faults.refuseAt = at;
    else if (faultName == "resend")
        faults.resendAt = at;
    Sim sim(faults);
    sim.kernel.receive(bytes({2}));
    for (const QByteArray &record : records) {
        if (sim.kernel.mode() != KernelSim::Mode::Download)
            break;
        sim.kernel.receive(record);
    }
    QCOMPARE(sim.take(), answers);
    QCOMPARE(sim.kernel.mode(), KernelSim::Mode::Command);
}

void TestBoardKernel::recordSplitOverReads()
{
    Sim sim;
    sim.kernel.receive(bytes({2}));
    const QByteArray all = kRec1 + kRec2 + kEof; // and no terminators in between
    for (char c : all)
        sim.kernel.receive(QByteArray(1, c));
    QCOMPARE(sim.take(), bytes({2, 2, 2, 3}));

    sim.kernel.receive(bytes({2}) + all); // or everything in one read
    QCOMPARE(sim.take(), bytes({2, 2, 2, 3}));
}

void TestBoardKernel::downloadFillsMemory()
{
    Sim sim;
    sim.kernel.receive(bytes({2}) + kRec1 + kRec2 + kEof);
    const QByteArray &code = sim.kernel.memory().code;
    QCOMPARE(code.size(), 0x10000);
    QCOMPARE(code.left(4), bytes({0x02, 0x00, 0x0B, 0xFF}));
    QCOMPARE(code.mid(0x100, 3), bytes({0xE4, 0xF3, 0xFF}));
    QCOMPARE(sim.kernel.recordsAccepted(), 3);
}

void TestBoardKernel::requestAfterAbandonedDownload()
{
    // The host timed out mid-download and asks for the version: it is answered, not refused.
    Sim sim;
    sim.kernel.receive(bytes({2}) + kRec1);
    sim.take();
    sim.kernel.receive(bytes({1}));
    QCOMPARE(sim.take(), bytes({1, 1, 0, 0}));
    QCOMPARE(sim.kernel.mode(), KernelSim::Mode::Command);
}

void TestBoardKernel::runHandsTheLineToTheProgram()
{
    Sim sim;
    sim.kernel.receive(bytes({3}) + "ab");
    QCOMPARE(sim.take(), bytes({3}));
    QCOMPARE(sim.output, EchoProgram::greeting() + "ab");
    QCOMPARE(sim.kernel.mode(), KernelSim::Mode::Running);

    sim.output.clear();
    sim.kernel.receive(bytes({1, 2, 3})); // requests mean nothing to the program
    QCOMPARE(sim.output, bytes({1, 2, 3}));
    QVERIFY(sim.take().isEmpty());
}

void TestBoardKernel::startAddressRecords_data()
{
    QTest::addColumn<QByteArrayList>("downloads"); // each one's records, end record added
    QTest::addColumn<int>("entry");                // -1: none
    QTest::addColumn<bool>("loaded");

    const QByteArray linear = ":0400000500000123D3"; // EIP 0x00000123
    const QByteArray segment = ":0400000300100004E5"; // CS:IP 0010:0004 is 0x0104
    QTest::newRow("none named") << QByteArrayList{kRec1} << -1 << true;
    QTest::newRow("linear start address") << QByteArrayList{kRec1 + linear} << 0x123 << true;
    QTest::newRow("segment start address") << QByteArrayList{segment + kRec1} << 0x104 << true;
    QTest::newRow("a later file without one") << QByteArrayList{kRec1 + linear, kRec2} << -1 << true;
    QTest::newRow("no data at all") << QByteArrayList{QByteArray()} << -1 << false;
}

void TestBoardKernel::startAddressRecords()
{
    QFETCH(QByteArrayList, downloads);
    QFETCH(int, entry);
    QFETCH(bool, loaded);
    Sim sim;
    for (const QByteArray &records : downloads) {
        sim.kernel.receive(bytes({2}) + records + kEof);
        QCOMPARE(sim.take().right(1), bytes({3}));
    }
    const BoardMemory &memory = sim.kernel.memory();
    QCOMPARE(memory.entry ? int(*memory.entry) : -1, entry);
    QCOMPARE(memory.loaded, loaded);
    QCOMPARE(memory.code.left(3), loaded ? bytes({2, 0, 0x0B}) : bytes({0xFF, 0xFF, 0xFF}));
}

void TestBoardKernel::runStartsTheDownloadOrTheStandIn_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("started");
    QTest::newRow("run right away") << QByteArray() << QByteArray("stand-in");
    QTest::newRow("after a download") << bytes({2}) + kRec1 + kEof << QByteArray("downloaded");
    QTest::newRow("after a download of no data") << bytes({2}) + kEof << QByteArray("stand-in");
}

void TestBoardKernel::runStartsTheDownloadOrTheStandIn()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, started);
    Sim sim({}, 1,
            std::make_unique<DownloadedOrStandIn>(std::make_unique<NamedProgram>("downloaded"),
                                                  std::make_unique<NamedProgram>("stand-in")));
    sim.kernel.receive(before + bytes({3}));
    QCOMPARE(sim.output, started);
}

void TestBoardKernel::pullClosesAtRecord()
{
    KernelFaults faults;
    faults.pullAt = 2;
    Sim sim(faults);
    sim.kernel.receive(bytes({2}) + kRec1 + kRec2 + kEof);
    QCOMPARE(sim.pulls, 1);
    QCOMPARE(sim.take(), bytes({2, 2}));
    QCOMPARE(sim.kernel.mode(), KernelSim::Mode::Pulled);
    sim.kernel.receive(bytes({1}));
    QVERIFY(sim.take().isEmpty());
}

QTEST_GUILESS_MAIN(TestBoardKernel)
#include "tst_board_kernel.moc"
