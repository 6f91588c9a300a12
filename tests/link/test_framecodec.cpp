#include "link/FrameCodec.h"
#include "module/ModuleRequestsU.h"

#include <QTest>

namespace {

TByteString Hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// Feeds the chunks in order and collects every judged reply.
template <class Receiver>
std::vector<TJudgedReply> FeedAll(Receiver& rx, const QList<TByteString>& chunks)
{
    std::vector<TJudgedReply> out;
    for (const auto& c : chunks)
        if (auto r = rx.Feed(c))
            out.push_back(*r);
    return out;
}

bool IsGood(const TJudgedReply& r, const TByteString& frame)
{
    auto* good = std::get_if<TGoodReply>(&r);
    return good && good->frame == frame;
}

} // namespace

class TestFrameCodec : public QObject {
    Q_OBJECT
private slots:
    void buildFrame_data();
    void buildFrame();
    void buildFrameRejectsShortBody_data();
    void buildFrameRejectsShortBody();
    void buildFrameDropsBytesBeyondLength();
    void framed8Line_data();
    void framed8Line();
    void nineBitLine();
    void escapesCheckWord();
    void checkFrame_data();
    void checkFrame();

    void framed8ReplyWhole();
    void framed8ReplySplitAtEveryBoundary();
    void framed8EmptyPayloadCompleteAtSevenBytes();
    void framed8BadCheckClearsBuffer();
    void framed8EscapeSurvivesChunks();
    void framed8StrayByteBeforeReplyRecovered();
    void framed8StreamWithoutStartByteBehavesAsBefore();
    void framed8TrailingBytesDiscarded();

    void nineBitWithoutPayloadCompletesAtFiveBytes();
    void nineBitJudgedOnLastByte();
    void nineBitHandsOnWholeBuffer();
    void nineBitTakesOnlyItsFrameWhenAsked();
    void nineBitLengthAbove251IsBad();
};

void TestFrameCodec::buildFrame_data()
{
    QTest::addColumn<TByteString>("body");
    QTest::addColumn<TByteString>("frame");
    QTest::newRow("poll addr 1") << ModuleRequests::Poll(1) << Hex("01025101 02a9ff");
    QTest::newRow("assign 5") << ModuleRequests::AddressAssignment(5) << Hex("00010005faff");
    QTest::newRow("follow-up") << ModuleRequests::AssignmentFollowUp() << Hex("00010101fdff");
    QTest::newRow("firmware, N=0") << Hex("0300ff") << Hex("0300fffe fe");
    QTest::newRow("sum wraps to 0") << Hex("000000") << Hex("0000000000");
}

void TestFrameCodec::buildFrame()
{
    QFETCH(TByteString, body);
    QFETCH(TByteString, frame);
    QCOMPARE(BuildFrame(body).toHex(' '), frame.toHex(' '));
}

void TestFrameCodec::buildFrameRejectsShortBody_data()
{
    QTest::addColumn<TByteString>("body");
    QTest::newRow("empty") << TByteString();
    QTest::newRow("no length byte") << Hex("01");
    QTest::newRow("N=2, one payload byte") << Hex("01025101");
    QTest::newRow("N=255, nothing") << Hex("01ff51");
}

void TestFrameCodec::buildFrameRejectsShortBody()
{
    QFETCH(TByteString, body);
    QVERIFY_THROWS_EXCEPTION(EFrameError, BuildFrame(body));
}

void TestFrameCodec::buildFrameDropsBytesBeyondLength()
{
    QCOMPARE(BuildFrame(Hex("01025101 02 eeee")), Hex("0102510102a9ff"));
}

void TestFrameCodec::framed8Line_data()
{
    QTest::addColumn<TByteString>("body");
    QTest::addColumn<TByteString>("line");
    QTest::newRow("poll addr 1") << ModuleRequests::Poll(1) << Hex("aa015102020102a7ff");
    QTest::newRow("assign 5") << ModuleRequests::AddressAssignment(5) << Hex("aa0000010105f9ff");
    QTest::newRow("follow-up") << ModuleRequests::AssignmentFollowUp() << Hex("aa0001010101fcff");
    // payload 0xAA and 0x99 are escaped; the start byte never is
    QTest::newRow("payload AA") << Hex("010152aa") << Hex("aa01520101992a01ff");
    QTest::newRow("payload 99") << Hex("01015299") << Hex("aa015201019919 12ff");
}

void TestFrameCodec::framed8Line()
{
    QFETCH(TByteString, body);
    QFETCH(TByteString, line);
    QCOMPARE(EncodeFramed8(BuildFrame(body)).toHex(' '), line.toHex(' '));
}

void TestFrameCodec::nineBitLine()
{
    const TNineBitLineForm form = EncodeNineBit(BuildFrame(ModuleRequests::Poll(1)));
    QCOMPARE(form.markPart, Hex("01"));
    QCOMPARE(form.spacePart, Hex("025101 02a9ff"));
    const TNineBitLineForm assign = EncodeNineBit(BuildFrame(ModuleRequests::AddressAssignment(5)));
    QCOMPARE(assign.markPart, Hex("00"));
    QCOMPARE(assign.spacePart, Hex("010005faff"));
}

void TestFrameCodec::escapesCheckWord()
{
    // 84 x F8 + 4 x C1 with N = 0x58 makes the covered bytes sum to 0x5567,
    // so the check word is 0xAA99: low byte 0x99, high byte 0xAA.
    TByteString body = Hex("015852");
    body.append(TByteString(84, char(0xF8)));
    body.append(TByteString(4, char(0xC1)));
    const TByteString line = EncodeFramed8(BuildFrame(body));
    QCOMPARE(line.right(4).toHex(' '), Hex("9919992a").toHex(' '));
    QCOMPARE(line.count(char(0xAA)), 1);
    QCOMPARE(ByteAt(line, 0), std::uint8_t(0xAA));
}

void TestFrameCodec::checkFrame_data()
{
    QTest::addColumn<TByteString>("buffer");
    QTest::addColumn<bool>("ok");
    QTest::newRow("poll frame") << Hex("0102510102a9ff") << true;
    QTest::newRow("with trailing bytes") << Hex("0102510102a9ff0000") << true;
    QTest::newRow("bad low byte") << Hex("0102510102a8ff") << false;
    QTest::newRow("bad high byte") << Hex("0102510102a9fe") << false;
    QTest::newRow("N above 251") << (Hex("01fc51") + TByteString(254, '\0')) << false;
    QTest::newRow("too short for its N") << Hex("010251") << false;
}

void TestFrameCodec::checkFrame()
{
    QFETCH(TByteString, buffer);
    QFETCH(bool, ok);
    QCOMPARE(CheckFrame(buffer), ok);
}

namespace {
// Status reply of address 1 with a payload that needs escaping (AA and 99).
TByteString StatusBody()
{
    return Hex("010bb5 00 aa11229933445566 77 81 0c");
}
}

void TestFrameCodec::framed8ReplyWhole()
{
    const TByteString frame = BuildFrame(StatusBody());
    TFramed8Receiver rx;
    auto r = rx.Feed(EncodeFramed8(frame));
    QVERIFY(r);
    // canonical: length before command, valid canonical check word
    QVERIFY(IsGood(*r, frame));
    QVERIFY(CheckFrame(std::get<TGoodReply>(*r).frame));
    QVERIFY(rx.Buffer().isEmpty());
}

void TestFrameCodec::framed8ReplySplitAtEveryBoundary()
{
    const TByteString frame = BuildFrame(StatusBody());
    const TByteString line = EncodeFramed8(frame);
    QVERIFY(line.contains(char(0x99)));
    for (qsizetype split = 1; split < line.size(); ++split) {
        TFramed8Receiver rx;
        const auto replies = FeedAll(rx, {line.left(split), line.mid(split)});
        QVERIFY2(replies.size() == 1 && IsGood(replies[0], frame),
                 qPrintable(QString("split at %1").arg(split)));
    }
    // and byte by byte
    TFramed8Receiver rx;
    QList<TByteString> bytes;
    for (char c : line)
        bytes.append(TByteString(1, c));
    const auto replies = FeedAll(rx, bytes);
    QCOMPARE(replies.size(), size_t(1));
    QVERIFY(IsGood(replies[0], frame));
}

void TestFrameCodec::framed8EmptyPayloadCompleteAtSevenBytes()
{
    const TByteString frame = BuildFrame(Hex("01 00 ff"));
    const TByteString line = EncodeFramed8(frame);
    QCOMPARE(line.size(), 7);
    TFramed8Receiver rx;
    QVERIFY(!rx.Feed(line.left(6)));
    auto r = rx.Feed(line.right(1));
    QVERIFY(r && IsGood(*r, frame));
}

void TestFrameCodec::framed8BadCheckClearsBuffer()
{
    TByteString line = EncodeFramed8(BuildFrame(ModuleRequests::Poll(1)));
    line[line.size() - 2] = static_cast<char>(line[line.size() - 2] ^ 0x01);
    TFramed8Receiver rx;
    auto r = rx.Feed(line);
    QVERIFY(r && std::holds_alternative<TBadReply>(*r));
    QVERIFY(rx.Buffer().isEmpty());
    // the next good reply is taken as usual
    auto next = rx.Feed(EncodeFramed8(BuildFrame(ModuleRequests::Poll(2))));
    QVERIFY(next && IsGood(*next, BuildFrame(ModuleRequests::Poll(2))));
}

void TestFrameCodec::framed8EscapeSurvivesChunks()
{
    TFramed8Receiver rx;
    QVERIFY(!rx.Feed(Hex("aa0152010199")));
    QVERIFY(rx.EscapePending());
    auto r = rx.Feed(Hex("2a01ff"));
    QVERIFY(r && IsGood(*r, BuildFrame(Hex("010152aa"))));
    // a send in between clears the pending escape
    QVERIFY(!rx.Feed(Hex("99")));
    rx.ClearEscape();
    QVERIFY(!rx.EscapePending());
}

void TestFrameCodec::framed8StrayByteBeforeReplyRecovered()
{
    const TByteString frame = BuildFrame(StatusBody());
    const TByteString line = EncodeFramed8(frame);
    const QList<QList<TByteString>> streams = {
        {Hex("00") + line},                        // noise byte in the same chunk
        {Hex("3c"), line},                         // noise in a chunk of its own
        {Hex("aa0151"), line},                     // the start of an aborted frame
        {Hex("1122334455") , line.left(3), line.mid(3)}, // late fragment, then split reply
    };
    for (const auto& chunks : streams) {
        TFramed8Receiver rx;
        const auto replies = FeedAll(rx, chunks);
        QCOMPARE(replies.size(), size_t(1));
        QVERIFY(IsGood(replies[0], frame));
    }
}

void TestFrameCodec::framed8StreamWithoutStartByteBehavesAsBefore()
{
    // The first byte's value is not examined: a reply whose start byte was
    // replaced still decodes as long as no 0xAA precedes it.
    const TByteString frame = BuildFrame(ModuleRequests::Poll(1));
    TByteString line = EncodeFramed8(frame);
    line[0] = 0x55;
    TFramed8Receiver rx;
    auto r = rx.Feed(line);
    QVERIFY(r && IsGood(*r, frame));
}

void TestFrameCodec::framed8TrailingBytesDiscarded()
{
    const TByteString frame = BuildFrame(ModuleRequests::Poll(1));
    const TByteString line = EncodeFramed8(frame);
    TFramed8Receiver rx;
    auto r = rx.Feed(line + line.left(4));
    QVERIFY(r && IsGood(*r, frame));
    QVERIFY(rx.Buffer().isEmpty());
}

void TestFrameCodec::nineBitWithoutPayloadCompletesAtFiveBytes()
{
    // an acknowledgement without payload, N = 0
    const TByteString frame = BuildFrame(Hex("0100b6"));
    QCOMPARE(frame.size(), 5);
    TNineBitReceiver rx;
    QVERIFY(!rx.Feed(frame.left(4)));
    auto r = rx.Feed(frame.right(1));
    QVERIFY(r && IsGood(*r, frame));
}

void TestFrameCodec::nineBitJudgedOnLastByte()
{
    const TByteString frame = BuildFrame(StatusBody());
    TNineBitReceiver rx;
    QVERIFY(!rx.Feed(frame.left(frame.size() - 1)));
    auto r = rx.Feed(frame.right(1));
    QVERIFY(r && IsGood(*r, frame));
    QVERIFY(rx.Buffer().isEmpty());
}

void TestFrameCodec::nineBitHandsOnWholeBuffer()
{
    const TByteString frame = BuildFrame(ModuleRequests::Poll(1));
    TNineBitReceiver rx;
    auto r = rx.Feed(frame + Hex("abcd"));
    QVERIFY(r && IsGood(*r, frame + Hex("abcd")));
}

// The link feeds the rest of a chunk itself, frame after frame, also when a
// frame's first bytes came in an earlier chunk.
void TestFrameCodec::nineBitTakesOnlyItsFrameWhenAsked()
{
    const TByteString first = BuildFrame(StatusBody());
    const TByteString second = BuildFrame(ModuleRequests::Poll(1));
    TNineBitReceiver rx;
    qsizetype used = -1;
    QVERIFY(!rx.Feed(first.left(1), &used));
    QCOMPARE(used, 1);
    const TByteString rest = first.mid(1) + second;
    auto r = rx.Feed(rest, &used);
    QVERIFY(r && IsGood(*r, first));
    QCOMPARE(used, first.size() - 1);
    r = rx.Feed(QByteArrayView(rest).sliced(used), &used);
    QVERIFY(r && IsGood(*r, second));
    QCOMPARE(used, second.size());
}

void TestFrameCodec::nineBitLengthAbove251IsBad()
{
    TByteString buffer = Hex("01fc51");
    buffer.append(TByteString(0xfc, '\0'));
    TNineBitReceiver rx;
    QVERIFY(!rx.Feed(buffer.left(buffer.size() - 1)));
    // give it a check word that would match: the length rule still rejects it
    const std::uint16_t check = CheckWord(buffer, 0, buffer.size());
    buffer.append(static_cast<char>(check & 0xff));
    buffer.append(static_cast<char>(check >> 8));
    rx.Clear();
    auto r = rx.Feed(buffer);
    QVERIFY(r && std::holds_alternative<TBadReply>(*r));
}

QTEST_APPLESS_MAIN(TestFrameCodec)
#include "test_framecodec.moc"
