#include "module/ModuleRepliesU.h"

#include <algorithm>

namespace ModuleReplies {
namespace {
constexpr int CardFirstByte = 1;
constexpr int CardByteCount = 8;
constexpr int FlagsByte = 9;
constexpr int CodeByte = 10;
}

TByteString PayloadOf(const TCanonicalFrame& reply)
{
    if (reply.size() <= FrameOffset::Payload)
        return {};
    const qsizetype present = std::max<qsizetype>(0, reply.size() - FrameOffset::Payload - 2);
    return reply.mid(FrameOffset::Payload, std::min<qsizetype>(ByteAt(reply, FrameOffset::Length), present));
}

std::optional<TModuleStatus> DecodeStatus(const TByteString& payload)
{
    if (payload.size() <= FlagsByte)
        return std::nullopt;
    TModuleStatus status;
    status.card = payload.mid(CardFirstByte, CardByteCount);
    status.flags = ByteAt(payload, FlagsByte);
    if (payload.size() > CodeByte)
        status.code = ByteAt(payload, CodeByte);
    return status;
}
}
