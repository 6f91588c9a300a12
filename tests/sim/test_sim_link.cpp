// The module's end of the line: worked line forms, assembly of requests from
// bytes, and every fault kind, with time passed in by the test.

#include "link/FrameCodec.h"
#include "module/ModuleRequestsU.h"
#include "tools/module-sim/SimLink.h"

#include <QSet>
#include <QTest>

namespace {

const TByteString Poll8 = BytesOf({0xAA, 0x01, 0x51, 0x02, 0x02, 0x01, 0x02, 0xA7, 0xFF});
const TByteString Poll9 = BytesOf({0x01, 0x02, 0x51, 0x01, 0x02, 0xA9, 0xFF});

TByteString Concat(const std::vector<TSimOutput>& outputs)
{
    TByteString bytes;
    for (const TSimOutput& o : outputs)
        bytes += o.bytes;
    return bytes;
}

// The tool's own receivers judge what the module sent.
std::optional<TJudgedReply> Judge(ELineMode mode, const std::vector<TSimOutput>& outputs)
{
    TFramed8Receiver framed8;
    TNineBitReceiver nineBit;
    std::optional<TJudgedReply> judged;
    for (const TSimOutput& o : outputs) {
        judged = mode == ELineMode::Framed8 ? framed8.Feed(o.bytes) : nineBit.Feed(o.bytes);
        if (judged)
            break;
    }
    return judged;
}

TCanonicalFrame GoodFrame(const std::optional<TJudgedReply>& judged)
{
    if (!judged || !std::holds_alternative<TGoodReply>(*judged))
        return {};
    return std::get<TGoodReply>(*judged).frame;
}

struct TFixture {
    explicit TFixture(ELineMode mode = ELineMode::Framed8)
        : link(bus, mode)
    {
    }
    // Sends the request in this mode's line form.
    void Request(const TByteString& body, qint64 nowMs)
    {
        const TCanonicalFrame frame = BuildFrame(body);
        link.Receive(link.Mode() == ELineMode::Framed8 ? EncodeFramed8(frame) : frame, nowMs);
    }
    // ... and takes everything it brings, however late.
    std::vector<TSimOutput> Exchange(const TByteString& body, qint64 nowMs)
    {
        Request(body, nowMs);
        return TakeAll();
    }
    std::vector<TSimOutput> TakeAll()
    {
        std::vector<TSimOutput> all;
        while (const auto due = link.NextDueMs()) {
            for (TSimOutput& o : link.TakeDue(*due))
                all.push_back(std::move(o));
        }
        return all;
    }
    TSimBus bus;
    TSimLink link;
};

} // namespace

class TestSimLink : public QObject {
    Q_OBJECT

private slots:
    void pollToAddressOneInBothLineForms_data();
    void pollToAddressOneInBothLineForms();
    void requestAssembledFromAnyChunking_data();
    void requestAssembledFromAnyChunking();
    void requestWithoutPayloadIsAnswered_data();
    void requestWithoutPayloadIsAnswered();
    void escapedBytesInRequestAndReply();
    void twoRequestsInOneChunkAreBothAnswered();
    void badCheckWordIsIgnored();
    void incompleteRequestIsGivenUpAfterQuietLine();
    void noReplyEveryNth();
    void delayedReply();
    void corruptCheckWordFailsTheToolsCheck_data();
    void corruptCheckWordFailsTheToolsCheck();
    void corruptionNeverCreatesAStartByte();
    void splitReplyGoesOutByteByByte();
    void strayByteBeforeReply();
    void dropAfterNextRequest();
    void resetLineDiscardsPendingOutput();
    void wireLogNamesFrames();
};

void TestSimLink::pollToAddressOneInBothLineForms_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<TByteString>("line");
    QTest::addColumn<int>("chunks");
    QTest::newRow("8-bit framed") << int(ELineMode::Framed8) << Poll8 << 1;
    QTest::newRow("9-bit") << int(ELineMode::NineBit) << Poll9 << 2;
}

void TestSimLink::pollToAddressOneInBothLineForms()
{
    QFETCH(int, mode);
    QFETCH(TByteString, line);
    QFETCH(int, chunks);
    TFixture f(static_cast<ELineMode>(mode));
    f.bus.Modules().front().PresentCard({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77});
    f.bus.Modules().front().PresentCode(0x0C);
    f.bus.Modules().front().SetInput(SimState::Relay, true);

    f.link.Receive(line, 1000);
    const std::vector<TSimOutput> out = f.TakeAll();
    QCOMPARE(int(out.size()), chunks);
    QCOMPARE(out.front().dueMs, 1000);
    if (chunks == 2) {
        QCOMPARE(out[0].bytes, BytesOf({0x01})); // the address byte alone, then the pause
        QCOMPARE(out[1].dueMs, 1000 + TSimLink::NineBitAddressPauseMs);
    }
    const TCanonicalFrame reply = GoodFrame(Judge(static_cast<ELineMode>(mode), out));
    QCOMPARE(reply, BuildFrame(BytesOf({0x01, 0x0B, 0xB5, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x81, 0x0C})));
}

void TestSimLink::requestWithoutPayloadIsAnswered_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("8-bit framed") << int(ELineMode::Framed8);
    // five bytes on a 9-bit line: complete without waiting for a sixth
    QTest::newRow("9-bit") << int(ELineMode::NineBit);
}

void TestSimLink::requestWithoutPayloadIsAnswered()
{
    QFETCH(int, mode);
    TFixture f(static_cast<ELineMode>(mode));
    const TCanonicalFrame reply = GoodFrame(Judge(f.link.Mode(), f.Exchange(BytesOf({0x01, 0x00, 0xFF}), 1000)));
    QCOMPARE(reply, BuildFrame(BytesOf({0x01, 0x02, 0xFF, 0x02, 0x05})));
}

void TestSimLink::requestAssembledFromAnyChunking_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<TByteString>("line");
    QTest::addColumn<int>("split");
    // register write 0x02 = 0xAA: the 8-bit line carries 99 2A for it
    const TCanonicalFrame write = BuildFrame(BytesOf({0x01, 0x02, 0x52, 0x02, 0xAA}));
    const TByteString line8 = EncodeFramed8(write);
    const int afterEscape = int(line8.indexOf(char(0x99))) + 1;
    QTest::newRow("8-bit whole") << int(ELineMode::Framed8) << line8 << 0;
    QTest::newRow("8-bit cut after the escape byte") << int(ELineMode::Framed8) << line8 << afterEscape;
    QTest::newRow("8-bit cut after the start byte") << int(ELineMode::Framed8) << line8 << 1;
    QTest::newRow("9-bit address byte alone") << int(ELineMode::NineBit) << TByteString(write) << 1;
    QTest::newRow("9-bit cut before the last byte") << int(ELineMode::NineBit) << TByteString(write) << int(write.size() - 1);
}

void TestSimLink::requestAssembledFromAnyChunking()
{
    QFETCH(int, mode);
    QFETCH(TByteString, line);
    QFETCH(int, split);
    TFixture f(static_cast<ELineMode>(mode));
    if (split > 0) {
        f.link.Receive(line.left(split), 0);
        QVERIFY(!f.link.NextDueMs());
        f.link.Receive(line.mid(split), 2);
    } else {
        f.link.Receive(line, 2);
    }
    QCOMPARE(f.bus.Modules().front().Register(0x02), 0xAA);
    QCOMPARE(GoodFrame(Judge(static_cast<ELineMode>(mode), f.TakeAll())), BuildFrame(BytesOf({0x01, 0x01, 0xB6, 0x02})));
}

void TestSimLink::escapedBytesInRequestAndReply()
{
    TFixture f;
    f.bus.Modules().front().SetRegister(0x03, 0x99);
    const std::vector<TSimOutput> out = f.Exchange(BytesOf({0x01, 0x01, 0x53, 0x03}), 0);
    QVERIFY(out.front().bytes.contains(BytesOf({0x99, 0x19})));
    QCOMPARE(out.front().bytes.count(char(0xAA)), 1); // the start byte only
    QCOMPARE(GoodFrame(Judge(ELineMode::Framed8, out)), BuildFrame(BytesOf({0x01, 0x02, 0xB7, 0x03, 0x99})));
}

void TestSimLink::twoRequestsInOneChunkAreBothAnswered()
{
    TFixture f;
    f.link.Receive(Poll8 + EncodeFramed8(BuildFrame(BytesOf({0x01, 0x00, 0xFF}))), 0);
    const std::vector<TSimOutput> out = f.link.TakeDue(0);
    QCOMPARE(int(out.size()), 2);
    QCOMPARE(ByteAt(GoodFrame(Judge(ELineMode::Framed8, {out[0]})), 2), 0xB5);
    QCOMPARE(ByteAt(GoodFrame(Judge(ELineMode::Framed8, {out[1]})), 2), 0xFF);
}

void TestSimLink::badCheckWordIsIgnored()
{
    TFixture f;
    TByteString bad = Poll8;
    bad[bad.size() - 2] = char(0xA8);
    f.link.Receive(bad, 0);
    QVERIFY(!f.link.NextDueMs());
    const auto log = f.link.TakeLog();
    QCOMPARE(int(log.size()), 1);
    QCOMPARE(log[0].text, QString("bad check word: ignored"));
    f.link.Receive(Poll8, 1); // and the next good one is answered
    QCOMPARE(int(f.link.TakeDue(1).size()), 1);
}

void TestSimLink::incompleteRequestIsGivenUpAfterQuietLine()
{
    for (ELineMode mode : {ELineMode::Framed8, ELineMode::NineBit}) {
        TFixture f(mode);
        const TByteString line = mode == ELineMode::Framed8 ? Poll8 : Poll9;
        f.link.Receive(line.left(4), 0);
        f.link.Receive(line.mid(4), TSimLink::InterByteTimeoutMs); // still in time
        QVERIFY(!f.TakeAll().empty());

        f.link.Receive(line.left(4), 1000);
        f.link.Receive(line.mid(4), 1001 + TSimLink::InterByteTimeoutMs); // too late: a fragment
        QVERIFY(!f.link.NextDueMs());
        f.link.Receive(line, 2000); // the line is in step again
        QVERIFY(f.link.NextDueMs());
    }
}

void TestSimLink::noReplyEveryNth()
{
    TFixture f;
    f.link.Faults().noReply.SetPeriod(3);
    QList<int> answered;
    for (int i = 1; i <= 6; ++i) {
        if (!f.Exchange(ModuleRequests::Poll(1), i).empty())
            answered << i;
    }
    QCOMPARE(answered, (QList<int>{1, 2, 4, 5}));

    f.link.Faults().noReply.SetPeriod(1); // silent
    QVERIFY(f.Exchange(ModuleRequests::Poll(1), 10).empty());
    QVERIFY(!f.link.NextDueMs());
}

void TestSimLink::delayedReply()
{
    TFixture f;
    f.link.Faults().delayMs = 300;
    f.Request(ModuleRequests::Poll(1), 1000);
    QCOMPARE(*f.link.NextDueMs(), 1300);
    QVERIFY(f.link.TakeDue(1299).empty());
    const std::vector<TSimOutput> out = f.link.TakeDue(1300);
    QCOMPARE(int(out.size()), 1);
    QCOMPARE(ByteAt(GoodFrame(Judge(ELineMode::Framed8, out)), 2), 0xB5);
}

void TestSimLink::corruptCheckWordFailsTheToolsCheck_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("8-bit framed") << int(ELineMode::Framed8);
    QTest::newRow("9-bit") << int(ELineMode::NineBit);
}

void TestSimLink::corruptCheckWordFailsTheToolsCheck()
{
    QFETCH(int, mode);
    TFixture f(static_cast<ELineMode>(mode));
    f.link.Faults().corruptCheck.SetPeriod(2);
    const auto first = Judge(f.link.Mode(), f.Exchange(ModuleRequests::Poll(1), 0));
    const auto second = Judge(f.link.Mode(), f.Exchange(ModuleRequests::Poll(1), 10));
    QVERIFY(first && std::holds_alternative<TGoodReply>(*first));
    QVERIFY(second && std::holds_alternative<TBadReply>(*second));
}

// Spoiling must keep the escaping intact, also where the high byte of the
// check word is, or turns into, 0xAA or 0x99.
void TestSimLink::corruptionNeverCreatesAStartByte()
{
    QSet<int> highBytes;
    for (int k = 0; k < 256; ++k) {
        for (int extra : {0x00, 0x55, 0xAA, 0xFF}) {
            TByteString payload(k, char(0xFF));
            payload.append(char(extra));
            payload = payload.leftJustified(255, '\0');
            const TCanonicalFrame reply = BuildFrame(BytesOf({0x01, 0xFF, 0xB5}) + payload);
            const TByteString plain = BytesOf({0x01, 0xB5, 0xFF, 0xFF}) + payload;
            highBytes << (CheckWord(plain, 0, plain.size()) >> 8);

            TByteString spoilt = EncodeFramed8(reply);
            CorruptFramed8CheckWord(spoilt);
            QCOMPARE(spoilt.count(char(0xAA)), 1);
            QVERIFY(!spoilt.endsWith(char(0x99)));
            TFramed8Receiver receiver;
            const auto judged = receiver.Feed(spoilt);
            QVERIFY(judged && std::holds_alternative<TBadReply>(*judged));
        }
    }
    for (int high : {0xAA, 0x99, 0xAB, 0x98})
        QVERIFY2(highBytes.contains(high), qPrintable(QString::number(high, 16)));
}

void TestSimLink::splitReplyGoesOutByteByByte()
{
    TFixture f;
    f.link.Faults().splitGapMs = 5;
    f.link.Faults().delayMs = 20;
    const std::vector<TSimOutput> out = f.Exchange(ModuleRequests::Poll(1), 100);
    const TByteString whole = Concat(out);
    QCOMPARE(int(out.size()), int(whole.size()));
    for (std::size_t i = 0; i < out.size(); ++i) {
        QCOMPARE(out[i].bytes.size(), 1);
        QCOMPARE(out[i].dueMs, 120 + 5 * qint64(i));
    }
    QCOMPARE(ByteAt(GoodFrame(Judge(ELineMode::Framed8, out)), 2), 0xB5);
}

void TestSimLink::strayByteBeforeReply()
{
    for (ELineMode mode : {ELineMode::Framed8, ELineMode::NineBit}) {
        TFixture f(mode);
        f.link.Faults().strayByte.SetPeriod(1);
        const TByteString bytes = Concat(f.Exchange(ModuleRequests::Poll(1), 0));
        QCOMPARE(ByteAt(bytes, 0), SimFaultLimits::StrayByte);
        QCOMPARE(ByteAt(bytes, 1), mode == ELineMode::Framed8 ? 0xAA : 0x01);
    }
}

void TestSimLink::dropAfterNextRequest()
{
    TFixture f;
    f.link.Faults().dropAfterRequest = true;
    const std::vector<TSimOutput> out = f.Exchange(ModuleRequests::Poll(1), 0);
    QCOMPARE(int(out.size()), 1);
    QVERIFY(out[0].dropConnection);
    QVERIFY(out[0].bytes.isEmpty());
    const std::vector<TSimOutput> next = f.Exchange(ModuleRequests::Poll(1), 10); // one-shot
    QCOMPARE(int(next.size()), 1);
    QVERIFY(!next[0].dropConnection);
}

void TestSimLink::resetLineDiscardsPendingOutput()
{
    TFixture f;
    f.link.Faults().delayMs = 50;
    f.Request(ModuleRequests::Poll(1), 0);
    f.link.Receive(Poll8.left(3), 1);
    f.link.ResetLine();
    QVERIFY(!f.link.NextDueMs());
    f.link.Receive(Poll8.mid(3), 2); // the old fragment is gone
    QVERIFY(!f.link.NextDueMs());
}

void TestSimLink::wireLogNamesFrames()
{
    TFixture f;
    f.bus.Modules().front().PresentCard({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77});
    f.bus.Modules().front().PresentCode(0x0C);
    f.bus.Modules().front().SetInput(SimState::Relay, true);
    f.Exchange(ModuleRequests::Poll(1), 7);
    f.Exchange(BytesOf({0x01, 0x02, 0x52, 0x02, 0x00}), 8);
    f.Exchange(ModuleRequests::AddressAssignment(0), 9);
    const auto log = f.link.TakeLog();
    QStringList lines;
    for (const TWireLogEntry& e : log)
        lines << FormatLogEntry(e);
    QCOMPARE(lines, (QStringList{
                        "       7 rx  AA 01 51 02 02 01 02 A7 FF  poll addr 1",
                        "       7 tx  AA 01 B5 0B 0B 00 00 11 22 33 44 55 66 77 81 0C CB FC  "
                        "status addr 1 flags 0x81 card 0011223344556677 code 0C",
                        "       8 rx  AA 01 52 02 02 02 00 A7 FF  reg write addr 1 0x02=0x00",
                        "       8 tx  AA 01 B6 01 01 02 45 FF  ack 0xB6 addr 1 (0x02)",
                        "       9 rx  AA 00 00 01 01 00 FE FF  assign address 16 (sent as 0)",
                        "       9 --  no module in assignment mode",
                    }));

    // card bytes travel lowest first and are named most significant first
    f.Exchange(BytesOf({0x01, 0x0A, 0x00, 0x00, 0x00, 0x34, 0x12, 0, 0, 0, 0, 0, 0}), 10);
    f.Exchange(BytesOf({0x00, 0x05, 0x02, 0x05, 0x78, 0x56, 0x34, 0x12}), 11);
    QStringList texts;
    for (const TWireLogEntry& e : f.link.TakeLog())
        texts << e.text;
    QCOMPARE(texts, (QStringList{"master card addr 1 + 0000000000001234", "ack 0x64 addr 1 (0x00)",
                                 "set address 5 by card ending 12345678",
                                 "modules wait for a card ending 12345678 to take address 5"}));
}

QTEST_GUILESS_MAIN(TestSimLink)
#include "test_sim_link.moc"
