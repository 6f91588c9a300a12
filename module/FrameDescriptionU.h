#pragma once
// The meaning of a canonical frame in words, for the wire log: requests as the
// tool sends them, replies as the module sends them. Both take whole canonical
// frames (at least address, N, command and the check word).

#include "base/CommTypesU.h"

#include <QString>

QString DescribeRequest(const TCanonicalFrame& frame); // "poll addr 1"
QString DescribeReply(const TCanonicalFrame& frame);   // "status addr 1 flags 0x81 card ... code 0C"
