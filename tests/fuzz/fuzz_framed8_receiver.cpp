// Random chunked streams into the 8-bit receiver: every good reply is a valid
// canonical frame, and a stream without any 0xAA is judged exactly as by the
// plain receiver that never resynchronises.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TFramed8Receiver rx;
    TPlainFramed8Receiver plain;
    const TByteString all(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const bool noStartByte = !all.mid(1).contains(char(Frame::StartByte));
    for (const TByteString& chunk : Chunks(data, size)) {
        const auto judged = rx.Feed(chunk);
        if (judged)
            if (const auto* good = std::get_if<TGoodReply>(&*judged)) {
                const TByteString& f = good->frame;
                FUZZ_CHECK(f.size() == ByteAt(f, 1) + 5);
                FUZZ_CHECK(BuildFrame(f) == f);
            }
        const auto expected = plain.Feed(chunk);
        if (noStartByte)
            FUZZ_CHECK(SameJudgement(judged, expected));
    }
    return 0;
}
