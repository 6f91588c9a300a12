#include "module/ModuleRepliesU.h"

#include <algorithm>

namespace ModuleReplies {
namespace {
constexpr int CardFirstByte = 1;
constexpr int CardByteCount = 8;
constexpr int FlagsByte = 9;
constexpr int CodeByte = 10;
}

bool AnswersAnotherRequest(const TCanonicalFrame& reply, const TCanonicalFrame& outstanding)
{
    using namespace ModuleRequests;
    const std::uint8_t code = ByteAt(reply, FrameOffset::Command);
    const int asked = outstanding.isEmpty() ? -1 : ByteAt(outstanding, FrameOffset::Command);
    switch (code) {
    case StatusCode:
        return asked != Code::Status;
    case FirmwareCode:
        return asked != Code::Firmware;
    case RegisterCode: {
        if (asked != Code::RegisterRead)
            return true;
        // the register is the first payload byte of both
        const bool bothName = ByteAt(reply, FrameOffset::Length) > 0 && ByteAt(outstanding, FrameOffset::Length) > 0;
        return bothName && ByteAt(reply, FrameOffset::Payload) != ByteAt(outstanding, FrameOffset::Payload);
    }
    default:
        return false;
    }
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
