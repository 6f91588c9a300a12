// The modules' answers and the bus's addressing, frame by frame.

#include "link/FrameCodec.h"
#include "module/ModuleRepliesU.h"
#include "module/ModuleRequestsU.h"
#include "tools/module-sim/SimBus.h"

#include <QTest>

namespace {

TCanonicalFrame Canonical(std::initializer_list<std::uint8_t> body)
{
    return BuildFrame(BytesOf(body));
}

TByteString PayloadOf(const TCanonicalFrame& frame)
{
    return frame.mid(3, ByteAt(frame, 1));
}

} // namespace

class TestSimModule : public QObject {
    Q_OBJECT

private slots:
    void statusReplyCarriesCardFlagsAndCode();
    void cardReadBitClearsAfterOneStatusReply();
    void firmwareAndRegisters_data();
    void firmwareAndRegisters();
    void bareAcknowledgementHasNoPayload();
    void unknownRegistersAndCommandsGetNoReply_data();
    void unknownRegistersAndCommandsGetNoReply();
    void registerWriteIsStoredAndReadBack();
    void masterCardsAreStoredMostSignificantFirst();
    void lightningPullsTheRelayForTheStrikeTime();
    void onlyTheAddressedModuleAnswers();
    void framesToAddressZeroAreNeverAnswered();
    void directAssignmentTakesTheAddressInAssignModeOnly_data();
    void directAssignmentTakesTheAddressInAssignModeOnly();
    void followUpEndsAssignmentMode();
    void setByCardTakesTheAddressWhenTheCardMatches();
    void addressClashIsReported();
    void tablesOfToolAndSimulatorAgree_data();
    void tablesOfToolAndSimulatorAgree();
};

void TestSimModule::statusReplyCarriesCardFlagsAndCode()
{
    TSimBus bus;
    TSimModule& module = bus.Modules().front();
    module.SetInput(SimState::Relay, true);
    module.PresentCard({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77});
    module.PresentCode(0x0C);

    const TBusOutcome outcome = bus.Handle(BuildFrame(ModuleRequests::Poll(1)), 0);
    QVERIFY(outcome.reply);
    const TCanonicalFrame& reply = *outcome.reply;
    QCOMPARE(ByteAt(reply, 0), 1);
    QCOMPARE(ByteAt(reply, 1), 11);
    QCOMPARE(ByteAt(reply, 2), 0xB5);
    QCOMPARE(PayloadOf(reply), BytesOf({0x00, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x81, 0x0C}));
    QVERIFY(CheckFrame(reply));
}

void TestSimModule::cardReadBitClearsAfterOneStatusReply()
{
    TSimBus bus;
    TSimModule& module = bus.Modules().front();
    module.PresentCard({0, 0, 0, 0, 0, 0, 0x12, 0x34});
    QCOMPARE(module.StateFlags(0), SimState::CardRead); // looking does not consume it

    const auto first = bus.Handle(BuildFrame(ModuleRequests::Poll(1)), 0).reply;
    const auto second = bus.Handle(BuildFrame(ModuleRequests::Poll(1)), 0).reply;
    QCOMPARE(ByteAt(*first, 3 + 9), 0x80);
    QCOMPARE(ByteAt(*second, 3 + 9), 0x00);
    QCOMPARE(PayloadOf(*second).mid(1, 8), PayloadOf(*first).mid(1, 8)); // the last card stays

    module.PresentCode(0x42); // a code is a read too
    const auto third = bus.Handle(BuildFrame(ModuleRequests::Poll(1)), 0).reply;
    QCOMPARE(ByteAt(*third, 3 + 9), 0x80);
    QCOMPARE(ByteAt(*third, 3 + 10), 0x42);
}

void TestSimModule::firmwareAndRegisters_data()
{
    QTest::addColumn<TCanonicalFrame>("request");
    QTest::addColumn<TCanonicalFrame>("reply");
    QTest::newRow("firmware 2.5") << Canonical({1, 0, 0xFF}) << Canonical({1, 2, 0xFF, 2, 5});
    QTest::newRow("serial reg 6") << Canonical({1, 1, 0x53, 6}) << Canonical({1, 2, 0xB7, 6, 0x00});
    QTest::newRow("serial reg 7") << Canonical({1, 1, 0x53, 7}) << Canonical({1, 2, 0xB7, 7, 0x12});
    QTest::newRow("serial reg 8") << Canonical({1, 1, 0x53, 8}) << Canonical({1, 2, 0xB7, 8, 0xA3});
    QTest::newRow("serial reg 9") << Canonical({1, 1, 0x53, 9}) << Canonical({1, 2, 0xB7, 9, 0xFF});
    QTest::newRow("strike time") << Canonical({1, 1, 0x53, 0}) << Canonical({1, 2, 0xB7, 0, 7});
    QTest::newRow("beep reg 0x0A") << Canonical({1, 1, 0x53, 0x0A}) << Canonical({1, 2, 0xB7, 0x0A, 0});
    // acknowledgements echo the first payload byte
    QTest::newRow("reg write ack") << Canonical({1, 2, 0x52, 2, 1}) << Canonical({1, 1, 0xB6, 2});
    QTest::newRow("lightning ack") << Canonical({1, 3, 0x54, 2, 0, 0}) << Canonical({1, 1, 0xB8, 2});
    QTest::newRow("master card ack") << Canonical({1, 10, 0x00, 1, 0, 1, 2, 3, 4, 5, 6, 7, 8}) << Canonical({1, 1, 0x64, 1});
}

void TestSimModule::firmwareAndRegisters()
{
    QFETCH(TCanonicalFrame, request);
    QFETCH(TCanonicalFrame, reply);
    TSimBus bus;
    const TBusOutcome outcome = bus.Handle(request, 0);
    QVERIFY(outcome.reply);
    QCOMPARE(*outcome.reply, reply);
}

void TestSimModule::bareAcknowledgementHasNoPayload()
{
    TSimBus bus;
    bus.Modules().front().SetBareAcknowledgement(true);
    const TBusOutcome outcome = bus.Handle(Canonical({1, 2, 0x52, 2, 1}), 0);
    QVERIFY(outcome.reply);
    QCOMPARE(*outcome.reply, Canonical({1, 0, 0xB6}));
    QCOMPARE(int(bus.Modules().front().Register(2)), 1);
}

void TestSimModule::unknownRegistersAndCommandsGetNoReply_data()
{
    QTest::addColumn<TCanonicalFrame>("request");
    QTest::newRow("read reg 0x0B") << Canonical({1, 1, 0x53, 0x0B});
    QTest::newRow("read without reg") << Canonical({1, 0, 0x53});
    QTest::newRow("write reg 0xFF") << Canonical({1, 2, 0x52, 0xFF, 1});
    QTest::newRow("write without value") << Canonical({1, 1, 0x52, 0x02});
    QTest::newRow("master card op 2") << Canonical({1, 10, 0x00, 2, 0, 1, 2, 3, 4, 5, 6, 7, 8});
    QTest::newRow("master card short") << Canonical({1, 3, 0x00, 0, 0, 1});
    QTest::newRow("unknown command") << Canonical({1, 0, 0x33});
    QTest::newRow("follow-up code at own address") << Canonical({1, 1, 0x01, 0x01});
}

void TestSimModule::unknownRegistersAndCommandsGetNoReply()
{
    QFETCH(TCanonicalFrame, request);
    TSimBus bus;
    const TBusOutcome outcome = bus.Handle(request, 0);
    QVERIFY(!outcome.reply);
    QCOMPARE(outcome.notes.size(), 1); // and the log says why
    QCOMPARE(bus.Modules().front().Register(2), 0); // nothing written
}

void TestSimModule::registerWriteIsStoredAndReadBack()
{
    TSimBus bus;
    for (std::uint8_t reg = 0x06; reg <= 0x09; ++reg)
        QVERIFY(bus.Handle(Canonical({1, 2, 0x52, reg, std::uint8_t(0xA0 + reg)}), 0).reply);
    QCOMPARE(bus.Modules().front().Serial(), (TSerialNumber{0xA6, 0xA7, 0xA8, 0xA9}));
    QCOMPARE(*bus.Handle(Canonical({1, 1, 0x53, 8}), 0).reply, Canonical({1, 2, 0xB7, 8, 0xA8}));
}

void TestSimModule::masterCardsAreStoredMostSignificantFirst()
{
    TSimBus bus;
    // "+" card 1234 and "-" card 1122334455667788 as the tool sends them
    bus.Handle(Canonical({1, 10, 0x00, 0, 0, 0x34, 0x12, 0, 0, 0, 0, 0, 0}), 0);
    bus.Handle(Canonical({1, 10, 0x00, 1, 0, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}), 0);
    const TSimModule& module = bus.Modules().front();
    QCOMPARE(module.MasterCard(0), (TCardNumber{0, 0, 0, 0, 0, 0, 0x12, 0x34}));
    QCOMPARE(module.MasterCard(1), (TCardNumber{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
}

void TestSimModule::lightningPullsTheRelayForTheStrikeTime()
{
    TSimBus bus;
    bus.Handle(Canonical({1, 2, 0x52, 0x00, 3}), 0); // strike time 3 s
    const TSimModule& module = bus.Modules().front();
    QCOMPARE(module.StateFlags(1000) & SimState::Relay, 0);
    bus.Handle(Canonical({1, 3, 0x54, 2, 0, 0}), 1000);
    QCOMPARE(module.StateFlags(1000) & SimState::Relay, SimState::Relay);
    QCOMPARE(module.StateFlags(3999) & SimState::Relay, SimState::Relay);
    QCOMPARE(module.StateFlags(4000) & SimState::Relay, 0);
}

void TestSimModule::onlyTheAddressedModuleAnswers()
{
    TSimBus bus({TSimModule(1), TSimModule(2)});
    bus.Modules()[1].PresentCode(0x99);

    const auto fromTwo = bus.Handle(BuildFrame(ModuleRequests::Poll(2)), 0).reply;
    QVERIFY(fromTwo);
    QCOMPARE(ByteAt(*fromTwo, 0), 2);
    QCOMPARE(ByteAt(*fromTwo, 3 + 10), 0x99);

    const auto fromOne = bus.Handle(BuildFrame(ModuleRequests::Poll(1)), 0).reply;
    QCOMPARE(ByteAt(*fromOne, 0), 1);
    QCOMPARE(ByteAt(*fromOne, 3 + 9), 0x00); // module 2's code did not reach it

    const TBusOutcome nobody = bus.Handle(BuildFrame(ModuleRequests::Poll(3)), 0);
    QVERIFY(!nobody.reply);
    QCOMPARE(nobody.notes, QStringList{"no module at address 3"});
}

void TestSimModule::framesToAddressZeroAreNeverAnswered()
{
    TSimBus bus;
    bus.Modules().front().SetAssignMode(true);
    QVERIFY(!bus.Handle(BuildFrame(ModuleRequests::AddressAssignment(5)), 0).reply);
    QVERIFY(!bus.Handle(BuildFrame(ModuleRequests::AssignmentFollowUp()), 0).reply);
    QVERIFY(!bus.Handle(Canonical({0, 5, 0x02, 5, 1, 2, 3, 4}), 0).reply);
    QVERIFY(!bus.Handle(Canonical({0, 0, 0x51}), 0).reply);
}

void TestSimModule::directAssignmentTakesTheAddressInAssignModeOnly_data()
{
    QTest::addColumn<bool>("assignMode");
    QTest::addColumn<int>("carried");
    QTest::addColumn<int>("expected");
    QTest::newRow("5") << true << 5 << 5;
    QTest::newRow("0 means 16") << true << 0 << 16;
    QTest::newRow("17 is no address") << true << 17 << 1;
    QTest::newRow("not in assign mode") << false << 5 << 1;
}

void TestSimModule::directAssignmentTakesTheAddressInAssignModeOnly()
{
    QFETCH(bool, assignMode);
    QFETCH(int, carried);
    QFETCH(int, expected);
    TSimBus bus;
    bus.Modules().front().SetAssignMode(assignMode);
    bus.Handle(BuildFrame(ModuleRequests::AddressAssignment(std::uint8_t(carried))), 0);
    QCOMPARE(bus.Modules().front().Address(), expected);
    QVERIFY(bus.Handle(BuildFrame(ModuleRequests::Poll(std::uint8_t(expected))), 0).reply);
}

void TestSimModule::followUpEndsAssignmentMode()
{
    TSimBus bus({TSimModule(1), TSimModule(2)});
    bus.Modules()[0].SetAssignMode(true);
    bus.Handle(BuildFrame(ModuleRequests::AddressAssignment(7)), 0);
    bus.Handle(BuildFrame(ModuleRequests::AssignmentFollowUp()), 0);
    QCOMPARE(bus.Modules()[0].Address(), 7);
    QVERIFY(!bus.Modules()[0].AssignMode());
    QCOMPARE(bus.Modules()[1].Address(), 2);

    bus.Handle(BuildFrame(ModuleRequests::AddressAssignment(9)), 0); // no longer listening
    QCOMPARE(bus.Modules()[0].Address(), 7);
}

void TestSimModule::setByCardTakesTheAddressWhenTheCardMatches()
{
    TSimBus bus;
    TSimModule& module = bus.Modules().front();
    // service card 0000000012345678: its four lowest bytes, lowest first
    const TBusOutcome armed = bus.Handle(Canonical({0, 5, 0x02, 5, 0x78, 0x56, 0x34, 0x12}), 0);
    QCOMPARE(armed.notes, QStringList{"modules wait for a card ending 12345678 to take address 5"});
    QCOMPARE(module.Address(), 1); // armed only

    QVERIFY(!module.PresentCard({0, 0, 0, 0, 0x12, 0x34, 0x56, 0x79}));
    QCOMPARE(module.Address(), 1);
    QVERIFY(module.PresentCard({0xAB, 0xCD, 0xEF, 0x01, 0x12, 0x34, 0x56, 0x78})); // high bytes are not compared
    QCOMPARE(module.Address(), 5);
    QVERIFY(!module.ArmedAddress());

    const auto status = bus.Handle(BuildFrame(ModuleRequests::Poll(5)), 0).reply;
    QVERIFY(status);
    QCOMPARE(ByteAt(*status, 3 + 9), 0x80); // the card read shows as any other

    bus.Handle(Canonical({0, 5, 0x02, 0, 1, 2, 3, 4}), 0);
    QVERIFY(module.PresentCard({0, 0, 0, 0, 4, 3, 2, 1}));
    QCOMPARE(module.Address(), 16);
}

void TestSimModule::addressClashIsReported()
{
    TSimBus bus({TSimModule(1), TSimModule(2)});
    bus.Modules()[1].SetAssignMode(true);
    const TBusOutcome outcome = bus.Handle(BuildFrame(ModuleRequests::AddressAssignment(1)), 0);
    QCOMPARE(outcome.notes.size(), 2);
    QVERIFY(outcome.notes[1].startsWith("warning: 2 modules at address 1"));
    QCOMPARE(bus.ModuleAt(1), &bus.Modules()[0]);
}

// The simulator keeps a table of its own on purpose, as an independent model
// of the module; where the two disagree, one of them misreads the module.
void TestSimModule::tablesOfToolAndSimulatorAgree_data()
{
    using namespace ModuleRequests;
    QTest::addColumn<int>("tool");
    QTest::addColumn<int>("simulator");
    QTest::newRow("master card") << int(Code::MasterCard) << int(SimCommand::MasterCard);
    QTest::newRow("assignment") << int(Code::AddressAssignment) << int(SimCommand::MasterCard);
    QTest::newRow("follow-up") << int(Code::AssignmentFollowUp) << int(SimCommand::AssignmentFollowUp);
    QTest::newRow("set by card") << int(Code::SetByCard) << int(SimCommand::SetAddressByCard);
    QTest::newRow("status") << int(Code::Status) << int(SimCommand::Status);
    QTest::newRow("register write") << int(Code::RegisterWrite) << int(SimCommand::RegisterWrite);
    QTest::newRow("register read") << int(Code::RegisterRead) << int(SimCommand::RegisterRead);
    QTest::newRow("lightning") << int(Code::Lightning) << int(SimCommand::Lightning);
    QTest::newRow("firmware") << int(Code::Firmware) << int(SimCommand::Firmware);
    QTest::newRow("status reply") << int(ModuleReplies::StatusCode) << SimCommand::Status + SimCommand::ReplyOffset;
    QTest::newRow("register reply") << int(ModuleReplies::RegisterCode)
                                    << SimCommand::RegisterRead + SimCommand::ReplyOffset;
    QTest::newRow("strike time") << int(Register::StrikeTime) << int(SimRegister::StrikeTime);
    QTest::newRow("serial number") << int(Register::FirstSerialByte) << int(SimRegister::Serial0);
    QTest::newRow("beep") << int(Register::Beep) << int(SimRegister::Beep);
    QTest::newRow("registers") << Register::Beep + 1 << SimRegister::Count;
    QTest::newRow("relay") << int(ModuleReplies::Flag::Relay) << int(SimState::Relay);
    QTest::newRow("input 1") << int(ModuleReplies::Flag::Input1) << int(SimState::Input1);
    QTest::newRow("input 2") << int(ModuleReplies::Flag::Input2) << int(SimState::Input2);
    QTest::newRow("tamper") << int(ModuleReplies::Flag::Tamper) << int(SimState::Tamper);
    QTest::newRow("door ajar") << int(ModuleReplies::Flag::DoorAjar) << int(SimState::DoorAjar);
    QTest::newRow("forced door") << int(ModuleReplies::Flag::ForcedDoor) << int(SimState::ForcedDoor);
    QTest::newRow("card read") << int(ModuleReplies::Flag::CardRead) << int(SimState::CardRead);
}

void TestSimModule::tablesOfToolAndSimulatorAgree()
{
    QFETCH(int, tool);
    QFETCH(int, simulator);
    QCOMPARE(tool, simulator);
}

QTEST_GUILESS_MAIN(TestSimModule)
#include "test_sim_module.moc"
