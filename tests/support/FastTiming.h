#pragma once
// The conversation with the module at a tenth of its pace, for the tests of
// the window and vyxctl. The reply time-out keeps some room for a machine
// busy with other tests: a loaded CI runner must not turn replies into
// time-outs.

#include "link/LinkTimingU.h"

inline TLinkTiming FastTiming()
{
    TLinkTiming timing = TLinkTiming{}.Faster(10);
    timing.replyTimeout = std::chrono::milliseconds(200);
    return timing;
}
