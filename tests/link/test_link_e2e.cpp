// The link through the real ports against the module simulator, with the
// worker thread and the real clock: TCP (8-bit framed) and a pty in both
// line forms, faults of the peer, and open/close stress.
#include "LinkEventLog.h"
#include "tests/support/DeadServer.h"
#include "tests/support/SimProcess.h"

#include "link/CommThreadU.h"
#include "ports/ClientSocket.h"
#include "ports/ComPort.h"

#include <QTcpServer>
#include <QTest>
#include <QThread>

#include <chrono>

namespace {

bool IsStatusReply(const TCanonicalFrame& f)
{
    return f.size() >= 16 && ByteAt(f, 1) == 11 && ByteAt(f, 2) == 0xB5 && CheckFrame(f);
}

// The simulator on a free TCP port and a link opened to it.
struct TTcpRig {
    TSimProcess sim;
    TCommThread link;
    TLinkEventLog ev;

    bool Start(const QStringList& simArgs = {})
    {
        if (!sim.Start(QStringList{"--tcp", "127.0.0.1:0"} + simArgs))
            return false;
        ev.Attach(link);
        link.SetIPAddress("127.0.0.1");
        link.SetIPPort(sim.TcpPort());
        link.SetLANMode(true);
        link.Open();
        return true;
    }
};

} // namespace

class TestLinkEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void tcpPollsAndDeliversOnMainThread();
    void tcpSilentPeerTimesOutThenRecovers();
    void tcpCorruptedCheckWord();
    void tcpQueuedCommandsComplete();
    void tcpLateRepliesAreNotTakenForTheNextOnes();
    void tcpRefusedConnection();
    void tcpConnectTimesOutAndStopAbandonsIt();
    void tcpStopDuringTheLookup();
    void tcpPeerCloseEndsTheSession();
    void ptyBothLineForms_data();
    void ptyBothLineForms();
    void ptyUnplugged();
    void destroyAfterCloseReturnsAtOnce();
    void openCloseStress();
};

void TestLinkEndToEnd::tcpPollsAndDeliversOnMainThread()
{
    TTcpRig rig;
    QVERIFY(rig.Start());
    auto& [sim, link, ev] = rig;
    QTRY_COMPARE(ev.Count("open"), 1);
    QTRY_VERIFY(ev.replies.size() >= 3);
    for (const auto& r : ev.replies)
        QVERIFY(IsStatusReply(r));
    QVERIFY(!ev.offMainThread);
    QCOMPARE(ev.Count("timeout") + ev.Count("checksum") + ev.Count("error"), 0);
    link.Close();
    QTRY_COMPARE(ev.Count("close"), 1);
}

void TestLinkEndToEnd::tcpSilentPeerTimesOutThenRecovers()
{
    TTcpRig rig;
    QVERIFY(rig.Start());
    auto& [sim, link, ev] = rig;
    QTRY_VERIFY(!ev.replies.isEmpty());
    sim.Command("silent on");
    QTRY_VERIFY(ev.Count("timeout") >= 2);
    sim.Command("silent off");
    const int before = ev.replies.size();
    QTRY_VERIFY(ev.replies.size() > before);
    link.Close();
}

void TestLinkEndToEnd::tcpCorruptedCheckWord()
{
    TTcpRig rig;
    QVERIFY(rig.Start({"--corrupt", "1"}));
    auto& [sim, link, ev] = rig;
    QTRY_VERIFY(ev.Count("checksum") >= 2);
    QVERIFY(ev.replies.isEmpty());
    link.Close();
}

void TestLinkEndToEnd::tcpQueuedCommandsComplete()
{
    TTcpRig rig;
    QVERIFY(rig.Start());
    auto& [sim, link, ev] = rig;
    QTRY_COMPARE(ev.Count("open"), 1);
    link.AddCommand(QByteArray::fromHex("0100ff"));
    for (int reg = 6; reg <= 9; ++reg)
        link.AddCommand(BytesOf({1, 1, 0x53, std::uint8_t(reg)}));
    QTRY_COMPARE(ev.Count("done"), 5);
    QCOMPARE(ev.Count("commandtimeout"), 0);
    bool firmware = false;
    QByteArray serial;
    for (const auto& r : ev.replies) {
        if (ByteAt(r, 2) == 0xFF)
            firmware = ByteAt(r, 3) == 2 && ByteAt(r, 4) == 5;
        if (ByteAt(r, 2) == 0xB7)
            serial.append(r[4]);
    }
    QVERIFY(firmware);
    QCOMPARE(serial.toHex().toUpper(), QByteArray("0012A3FF"));
    link.Close();
}

// Every reply comes after the time-out, so each arrives while the request
// sent next is outstanding: neither the firmware request nor a poll may be
// answered by the other's reply.
void TestLinkEndToEnd::tcpLateRepliesAreNotTakenForTheNextOnes()
{
    TTcpRig rig;
    QVERIFY(rig.Start({"--delay", "900"}));
    auto& [sim, link, ev] = rig;
    QTRY_COMPARE(ev.Count("open"), 1);
    link.AddCommand(QByteArray::fromHex("0100ff"));
    QTRY_COMPARE(ev.Count("commandtimeout"), 1);
    // the firmware reply has arrived once the poll sent after it has timed out too
    const int timeouts = ev.Count("timeout");
    QTRY_VERIFY(ev.Count("timeout") > timeouts);
    QCOMPARE(ev.Count("done"), 0);
    for (const auto& r : ev.replies)
        QVERIFY(IsStatusReply(r));
    link.Close();
}

void TestLinkEndToEnd::tcpRefusedConnection()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const int port = probe.serverPort();
    probe.close(); // nobody listens there now
    TCommThread link;
    TLinkEventLog ev;
    ev.Attach(link);
    link.SetIPAddress("127.0.0.1");
    link.SetIPPort(port);
    link.Open();
    QTRY_COMPARE(ev.Count("error"), 1);
    QCOMPARE(ev.Count("open"), 0);
    QVERIFY(!link.IsActive());
}

void TestLinkEndToEnd::tcpConnectTimesOutAndStopAbandonsIt()
{
    TDeadServer dead;
    QVERIFY(dead.Filled());
    TCommThread link;
    TLinkEventLog ev;
    ev.Attach(link);
    link.ClientSocket().SetConnectTimeout(300);
    link.SetIPAddress("127.0.0.1");
    link.SetIPPort(dead.Port());
    link.Open();
    QTRY_COMPARE(ev.events, QStringList{"error"});
    QVERIFY(!link.IsActive());

    QVERIFY(!link.IsOpening());

    ev.events.clear();
    link.Open();
    QTest::qWait(50); // the lookup of a numeric address is done: the connect waits
    // no transport change under a connection being made
    QVERIFY(link.IsOpening());
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, link.SetIPAddress("10.1.2.3"));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, link.SetIPPort(dead.Port() + 1));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, link.SetLANMode(false));
    QCOMPARE(link.GetIPAddress(), QString("127.0.0.1"));
    link.Close();
    QVERIFY(!link.IsOpening());
    QCOMPARE(ev.events, QStringList{"close"});
    QTest::qWait(500); // well past the time-out: the attempt is gone, not timing out
    QCOMPARE(ev.events, QStringList{"close"});
    link.SetLANMode(false);
    QVERIFY(!link.LANMode());
}

void TestLinkEndToEnd::tcpStopDuringTheLookup()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    TCommThread link;
    TLinkEventLog ev;
    ev.Attach(link);
    link.SetIPAddress("127.0.0.1");
    link.SetIPPort(server.serverPort());
    link.Open();
    link.Close();
    QTest::qWait(200); // a lookup and a loopback connect take far less
    QCOMPARE(ev.events, QStringList{"close"});
    QVERIFY(!server.hasPendingConnections());
    QVERIFY(!link.IsActive());
}

void TestLinkEndToEnd::tcpPeerCloseEndsTheSession()
{
    TTcpRig rig;
    QVERIFY(rig.Start());
    auto& [sim, link, ev] = rig;
    QTRY_VERIFY(!ev.replies.isEmpty());
    for (int i = 0; i < 20; ++i)
        link.AddCommand(BytesOf({1, 2, 0x52, 0, std::uint8_t(i)}));
    ev.events.clear();
    sim.Command("drop now");
    QTRY_VERIFY(ev.events.contains("close"));
    QVERIFY(!link.IsActive());
    const int done = ev.Count("done");
    // nothing of that session follows: no time-out, no request kept for the next one
    QTest::qWait(1000);
    QCOMPARE(ev.events.last(), QString("close"));
    QCOMPARE(ev.Count("timeout") + ev.Count("commandtimeout") + ev.Count("error"), 0);
    link.Open();
    QTRY_VERIFY(ev.Count("reply") > 3);
    QCOMPARE(ev.Count("done"), done);
}

void TestLinkEndToEnd::ptyBothLineForms_data()
{
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<int>("ackLength");
    QTest::newRow("8-bit framed") << 8 << QStringList{} << 1;
    QTest::newRow("9-bit") << 9 << QStringList{} << 1;
    QTest::newRow("9-bit, bare acknowledgements") << 9 << QStringList{"--bare-ack"} << 0;
}

// Polls, the firmware request and a configuration write (register writes,
// each acknowledged) in both line forms.
void TestLinkEndToEnd::ptyBothLineForms()
{
    QFETCH(int, dataBits);
    QFETCH(QStringList, simArgs);
    QFETCH(int, ackLength);
    TSimProcess sim;
    QVERIFY(sim.Start(QStringList{"--pty", "--mode", QString::number(dataBits)} + simArgs));
    TCommThread link;
    TLinkEventLog ev;
    ev.Attach(link);
    link.SetLANMode(false);
    link.DataBits = std::uint8_t(dataBits);
    link.ComPort().SetPort(sim.Where());
    link.Open();
    QCOMPARE(ev.Count("open"), 1);
    QTRY_VERIFY(ev.replies.size() >= 3);
    for (const auto& r : ev.replies)
        QVERIFY(IsStatusReply(r));
    ev.replies.clear();
    link.AddCommand(QByteArray::fromHex("0100ff"));
    for (int reg = 0; reg < 3; ++reg)
        link.AddCommand(BytesOf({1, 2, 0x52, std::uint8_t(reg), std::uint8_t(10 + reg)}));
    QTRY_COMPARE(ev.Count("done"), 4);
    QCOMPARE(ev.Count("commandtimeout") + ev.Count("timeout") + ev.Count("checksum") + ev.Count("error"), 0);
    int acks = 0;
    for (const auto& r : ev.replies) {
        if (ByteAt(r, 2) == 0xB6) {
            QCOMPARE(int(ByteAt(r, 1)), ackLength);
            ++acks;
        }
    }
    QCOMPARE(acks, 3);
    link.Close();
    QCOMPARE(ev.Count("close"), 1);
}

void TestLinkEndToEnd::ptyUnplugged()
{
    TSimProcess sim;
    QVERIFY(sim.Start({"--pty"}));
    TCommThread link;
    TLinkEventLog ev;
    ev.Attach(link);
    link.SetLANMode(false);
    link.DataBits = 8;
    link.ComPort().SetPort(sim.Where());
    link.Open();
    QTRY_VERIFY(!ev.replies.isEmpty());
    sim.Kill(); // the far end of the line goes away
    QTRY_COMPARE(ev.Count("error"), 1);
    QTRY_COMPARE(ev.Count("close"), 1);
    QVERIFY(!link.IsActive());
}

void TestLinkEndToEnd::destroyAfterCloseReturnsAtOnce()
{
    TSimProcess sim;
    QVERIFY(sim.Start({"--tcp", "127.0.0.1:0"}));
    auto link = std::make_unique<TCommThread>();
    TLinkEventLog ev;
    ev.Attach(*link);
    link->SetIPAddress("127.0.0.1");
    link->SetIPPort(sim.TcpPort());
    link->Open();
    QTRY_VERIFY(!ev.replies.isEmpty());
    link->Close();
    const auto start = std::chrono::steady_clock::now();
    link.reset();
    // a generous bound: the point is that it does not wait for anything
    QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::milliseconds(500));
}

void TestLinkEndToEnd::openCloseStress()
{
    TSimProcess sim;
    QVERIFY(sim.Start({"--tcp", "127.0.0.1:0"}));
    TCommThread link;
    TLinkEventLog ev;
    ev.Attach(link);
    link.SetIPAddress("127.0.0.1");
    link.SetIPPort(sim.TcpPort());
    link.SetLANMode(true);
    for (int round = 0; round < 8; ++round) {
        link.Open();
        QTRY_COMPARE(ev.Count("open"), round + 1);
        for (int i = 0; i < 20; ++i)
            link.AddCommand(BytesOf({1, 2, 0x52, std::uint8_t(i % 6), std::uint8_t(i)}));
        const int done = ev.Count("done");
        QTRY_VERIFY(ev.Count("done") > done);
        link.Close();
        QTRY_COMPARE(ev.Count("close"), round + 1);
    }
    QVERIFY(!ev.offMainThread);
}

QTEST_GUILESS_MAIN(TestLinkEndToEnd)
#include "test_link_e2e.moc"
