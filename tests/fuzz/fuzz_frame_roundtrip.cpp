// Random bodies through BuildFrame, both line forms and both receivers, split
// at a random point: the receiver gives back exactly the canonical frame.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const std::size_t split = data[0];
    TByteString body(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    body[1] = static_cast<char>(ByteAt(body, 1) % (body.size() - 2)); // N fits the body
    const TCanonicalFrame frame = BuildFrame(body);
    FUZZ_CHECK(frame.size() == ByteAt(body, 1) + 5);

    const TByteString line = EncodeFramed8(frame);
    FUZZ_CHECK(line.count(char(Frame::StartByte)) == 1);
    const qsizetype at = static_cast<qsizetype>(split % line.size());
    TFramed8Receiver rx8;
    auto first = rx8.Feed(line.left(at));
    auto second = rx8.Feed(line.mid(at));
    FUZZ_CHECK(!first);
    FUZZ_CHECK(second && std::holds_alternative<TGoodReply>(*second));
    FUZZ_CHECK(std::get<TGoodReply>(*second).frame == frame);

    if (ByteAt(frame, 1) <= Frame::MaxNineBitLength) {
        FUZZ_CHECK(CheckFrame(frame));
        const TNineBitLineForm nine = EncodeNineBit(frame);
        FUZZ_CHECK(nine.markPart.size() == 1);
        const TByteString wire = nine.markPart + nine.spacePart;
        TNineBitReceiver rx9;
        auto a = rx9.Feed(wire.left(at % wire.size()));
        auto b = rx9.Feed(wire.mid(at % wire.size()));
        FUZZ_CHECK(!a);
        FUZZ_CHECK(b && std::holds_alternative<TGoodReply>(*b));
        FUZZ_CHECK(std::get<TGoodReply>(*b).frame.startsWith(frame));
    }
    return 0;
}
