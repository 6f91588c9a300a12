#pragma once
// vyxctl --trace: each frame the link sends and receives as one line on
// stderr, in the simulator's wire-log form and read by the same decoder, and
// the link's bad checks and time-outs as lines of their own.

#include "link/CommThreadU.h"

#include <cstdio>

// A trace receiver for the link that writes to out; its milliseconds count
// from the call.
TCommThread::TTrace TraceTo(std::FILE* out);
