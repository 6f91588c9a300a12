// Encode and decode throughput of the frame codec for typical frames.
// Usage: bench_framecodec [seconds per case, default 1]
#include "link/FrameCodec.h"
#include "module/ModuleRequestsU.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

using Clock = std::chrono::steady_clock;

// Runs op until the time is up; returns MB/s of the bytes it reports.
double Throughput(double seconds, const std::function<std::size_t()>& op)
{
    std::size_t bytes = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    auto now = start;
    while (now < end) {
        for (int i = 0; i < 1000; ++i)
            bytes += op();
        now = Clock::now();
    }
    return bytes / std::chrono::duration<double>(now - start).count() / 1e6;
}

struct TCase {
    const char* name;
    TByteString body;
};

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    const TCase cases[] = {
        {"poll request (5-byte body)", ModuleRequests::Poll(1)},
        {"status reply (14-byte body)", QByteArray::fromHex("010bb500aa1122993344556677810c")},
        {"master card request (13-byte body)", QByteArray::fromHex("010a000000341200000000000000")},
    };
    std::printf("%-38s %12s %12s %12s %12s\n", "frame", "build MB/s", "enc8 MB/s", "dec8 MB/s", "dec9 MB/s");
    for (const TCase& c : cases) {
        const TCanonicalFrame frame = BuildFrame(c.body);
        const TByteString line8 = EncodeFramed8(frame);
        volatile std::size_t sink = 0;
        const double build = Throughput(seconds, [&] { sink = sink + BuildFrame(c.body).size(); return std::size_t(c.body.size()); });
        const double enc8 = Throughput(seconds, [&] { sink = sink + EncodeFramed8(frame).size(); return std::size_t(frame.size()); });
        TFramed8Receiver rx8;
        const double dec8 = Throughput(seconds, [&] { sink = sink + rx8.Feed(line8).has_value(); return std::size_t(line8.size()); });
        TNineBitReceiver rx9;
        const TByteString line9 = frame.size() > 5 ? frame : frame + TByteString(1, '\0');
        const double dec9 = Throughput(seconds, [&] { sink = sink + rx9.Feed(line9).has_value(); return std::size_t(line9.size()); });
        std::printf("%-38s %12.1f %12.1f %12.1f %12.1f\n", c.name, build, enc8, dec8, dec9);
    }
    return 0;
}
