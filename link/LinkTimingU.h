#pragma once
// The pace of the conversation with the module, as one value handed to the
// link and the module session. The defaults are the module's own figures;
// tests run the whole road at a tenth of them, and a slow device server (a
// VPN, a radio bridge) may be given a longer reply time-out.

#include <algorithm>
#include <chrono>

struct TLinkTiming {
    // the least time between two sends; a status poll goes out at this pace
    std::chrono::milliseconds sendInterval{250};
    // a request without a reply by then has timed out
    std::chrono::milliseconds replyTimeout{750};
    // pending information requests and the set-by-card beep go at this tick
    std::chrono::milliseconds slowTick{1000};
    // the set-by-card request is sent again at this interval until taken
    std::chrono::milliseconds setByCardRepeat{12000};

    // Every span divided by divisor (at least 1 ms each), for the simulator:
    // the reply time-out no shorter than 200 ms, as a simulator on a machine
    // busy with other work may take that long to answer.
    TLinkTiming Faster(int divisor) const
    {
        const auto part = [divisor](std::chrono::milliseconds span) {
            return std::max(std::chrono::milliseconds(1), span / divisor);
        };
        return {part(sendInterval), std::max(std::chrono::milliseconds(200), part(replyTimeout)), part(slowTick),
                part(setByCardRepeat)};
    }
};
