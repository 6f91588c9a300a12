// The simulator's stdin commands: what they change, and that bad input of
// any kind is answered with a message.

#include "link/FrameCodec.h"
#include "module/ModuleRequestsU.h"
#include "tools/module-sim/SimConsole.h"

#include <QTest>

namespace {

struct TFixture {
    TFixture()
        : bus({TSimModule(1), TSimModule(2)})
        , link(bus, ELineMode::Framed8)
        , console(bus, link)
    {
    }
    TConsoleReply Run(const QString& line) { return console.Execute(line, 0); }
    TByteString StatusPayload(std::uint8_t address)
    {
        const auto reply = bus.Handle(BuildFrame(ModuleRequests::Poll(address)), 0).reply;
        return reply ? reply->mid(3, 11) : TByteString();
    }
    TSimBus bus;
    TSimLink link;
    TSimConsole console;
};

} // namespace

class TestSimConsole : public QObject {
    Q_OBJECT

private slots:
    void badInputGetsAMessage_data();
    void badInputGetsAMessage();
    void blankAndCommentLinesSayNothing();
    void switchesSetTheirStatusBit_data();
    void switchesSetTheirStatusBit();
    void cardAndCodeReachTheSelectedModule();
    void cardTakesAnArmedAddress();
    void addressMovesAModuleButNotOntoAnother();
    void faultCommandsSetTheLinkFaults();
    void quitAndDrop();
    void statusListsEveryModule();
};

void TestSimConsole::badInputGetsAMessage_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("unknown") << "open sesame";
    QTest::newRow("missing argument") << "card";
    QTest::newRow("extra argument") << "status now";
    QTest::newRow("card not hex") << "card 12G4";
    QTest::newRow("card too long") << "card 12345678901234567";
    QTest::newRow("code too big") << "code 100";
    QTest::newRow("flags with card bit") << "flags 80";
    QTest::newRow("switch maybe") << "relay maybe";
    QTest::newRow("address out of range") << "address 1 17";
    QTest::newRow("address zero") << "address 0 3";
    QTest::newRow("no module there") << "address 5 6";
    QTest::newRow("select absent") << "select 9";
    QTest::newRow("delay negative") << "delay -1";
    QTest::newRow("delay too long") << "delay 60001";
    QTest::newRow("split not a number") << "split fast";
    QTest::newRow("noreply junk") << "noreply 1x";
    QTest::newRow("drop later") << "drop later";
    QTest::newRow("faults on") << "faults on";
    QTest::newRow("binary") << QString::fromLatin1("\x01\xff\x7f card");
    QTest::newRow("very long") << QString(5000, u'a');
}

void TestSimConsole::badInputGetsAMessage()
{
    QFETCH(QString, line);
    TFixture f;
    const TConsoleReply reply = f.Run(line);
    QVERIFY(reply.error);
    QVERIFY(!reply.text.isEmpty());
    QVERIFY(!reply.quit && !reply.dropNow);
    QCOMPARE(f.link.Faults().Describe(), QString("none"));
    QCOMPARE(ByteAt(f.StatusPayload(1), 9), 0); // no card read, no input changed
}

void TestSimConsole::blankAndCommentLinesSayNothing()
{
    TFixture f;
    for (const QString& line : {QString(), QString("   \t "), QString("# card 1234")}) {
        const TConsoleReply reply = f.Run(line);
        QVERIFY(!reply.error);
        QVERIFY(reply.text.isEmpty());
    }
    QVERIFY(!f.Run("relay on  # door opener").error);
}

void TestSimConsole::switchesSetTheirStatusBit_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("bit");
    QTest::newRow("relay") << "relay" << 0x01;
    QTest::newRow("input2") << "input2" << 0x02;
    QTest::newRow("input1") << "input1" << 0x04;
    QTest::newRow("tamper") << "tamper" << 0x08;
    QTest::newRow("ajar") << "ajar" << 0x10;
    QTest::newRow("forced") << "forced" << 0x20;
}

void TestSimConsole::switchesSetTheirStatusBit()
{
    QFETCH(QString, name);
    QFETCH(int, bit);
    TFixture f;
    QVERIFY(!f.Run("flags 40").error);
    QVERIFY(!f.Run(name + " ON").error); // commands ignore case
    QCOMPARE(int(ByteAt(f.StatusPayload(1), 9)), 0x40 | bit);
    QVERIFY(!f.Run(name + " off").error);
    QCOMPARE(int(ByteAt(f.StatusPayload(1), 9)), 0x40);
}

void TestSimConsole::cardAndCodeReachTheSelectedModule()
{
    TFixture f;
    QVERIFY(!f.Run("select 2").error);
    QVERIFY(!f.Run("card 1a2b").error);
    QVERIFY(!f.Run("code 0c").error);
    QCOMPARE(f.StatusPayload(2), BytesOf({0, 0, 0, 0, 0, 0, 0, 0x1A, 0x2B, 0x80, 0x0C}));
    QCOMPARE(ByteAt(f.StatusPayload(1), 9), 0);
}

void TestSimConsole::cardTakesAnArmedAddress()
{
    TFixture f;
    f.bus.Handle(BuildFrame(BytesOf({0, 5, 0x02, 7, 0x44, 0x33, 0x22, 0x11})), 0);
    QVERIFY(f.Run("status").text.contains("assign off, armed for 7 by card ending 11223344"));
    const TConsoleReply reply = f.Run("card 9911223344");
    QVERIFY(!reply.error);
    QVERIFY(reply.text.contains("module at 1 takes address 7 (service card)"));
    QCOMPARE(f.bus.Modules()[0].Address(), 7);
    QCOMPARE(f.bus.Modules()[1].Address(), 2); // card went to module 1 only
}

void TestSimConsole::addressMovesAModuleButNotOntoAnother()
{
    TFixture f;
    QVERIFY(f.Run("address 1 2").error);
    QVERIFY(!f.Run("address 1 16").error);
    QCOMPARE(f.bus.Modules()[0].Address(), 16);
    QVERIFY(f.StatusPayload(16).size() == 11);
    QVERIFY(f.StatusPayload(1).isEmpty());
    QVERIFY(!f.Run("select 16").error);
}

void TestSimConsole::faultCommandsSetTheLinkFaults()
{
    TFixture f;
    const TSimFaults& faults = f.link.Faults();
    for (const char* line : {"noreply 3", "corrupt on", "stray 2", "delay 250", "split 4", "drop next"})
        QVERIFY2(!f.Run(line).error, line);
    QCOMPARE(faults.noReply.Period(), 3);
    QCOMPARE(faults.corruptCheck.Period(), 1);
    QCOMPARE(faults.strayByte.Period(), 2);
    QCOMPARE(faults.delayMs, 250);
    QCOMPARE(faults.splitGapMs, 4);
    QVERIFY(faults.dropAfterRequest);
    QVERIFY(!f.Run("silent on").error);
    QCOMPARE(faults.noReply.Period(), 1);
    QCOMPARE(f.Run("faults off").text, QString("faults: none"));
    QCOMPARE(faults.delayMs, 0);
}

void TestSimConsole::quitAndDrop()
{
    TFixture f;
    QVERIFY(f.Run("quit").quit);
    QVERIFY(f.Run("drop now").dropNow);
    QVERIFY(!f.Run("help").text.isEmpty());
}

void TestSimConsole::statusListsEveryModule()
{
    TFixture f;
    f.Run("assign on");
    const QStringList lines = f.Run("status").text.split(u'\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[1].startsWith("addr 1 (selected): flags 0x00"));
    QVERIFY(lines[1].contains("serial 0012A3FF; regs 07 14 00 1E 1E 1E 00 12 A3 FF 00; "));
    QVERIFY(lines[1].contains("assign on"));
    QVERIFY(lines[2].startsWith("addr 2: "));
}

QTEST_GUILESS_MAIN(TestSimConsole)
#include "test_sim_console.moc"
