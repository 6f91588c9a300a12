// Random chunked streams into the 9-bit receiver: a good reply always starts
// with a frame that passes its check, and nothing is judged before N + 5 bytes.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TNineBitReceiver rx;
    for (const TByteString& chunk : Chunks(data, size)) {
        const qsizetype before = rx.Buffer().size();
        const auto judged = rx.Feed(chunk);
        if (!judged) {
            FUZZ_CHECK(rx.Buffer().size() == before + chunk.size());
            continue;
        }
        FUZZ_CHECK(rx.Buffer().isEmpty());
        if (const auto* good = std::get_if<TGoodReply>(&*judged)) {
            const TByteString& f = good->frame;
            FUZZ_CHECK(f.size() >= ByteAt(f, 1) + 5);
            FUZZ_CHECK(ByteAt(f, 1) <= Frame::MaxNineBitLength);
            FUZZ_CHECK(CheckFrame(f));
        }
    }
    return 0;
}
