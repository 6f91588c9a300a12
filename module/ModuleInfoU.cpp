#include "module/ModuleInfoU.h"

#include "module/CardNumbersU.h"
#include "module/ModuleRepliesU.h"
#include "module/ModuleRequestsU.h"

#include <algorithm>

namespace {
using ModuleRequests::Register::FirstSerialByte;
using ModuleRequests::Register::SerialByteCount;
}

TModuleInfo::TModuleInfo(std::uint8_t address)
    : FAddress(address)
{
}

void TModuleInfo::Take(const TCanonicalFrame& reply)
{
    const TByteString payload = ModuleReplies::PayloadOf(reply);
    if (payload.size() < 2 || ByteAt(reply, FrameOffset::Address) != FAddress)
        return;
    const std::uint8_t code = ByteAt(reply, FrameOffset::Command);
    if (code == ModuleReplies::FirmwareCode)
        FFirmware = QStringLiteral("%1.%2").arg(ByteAt(payload, 0)).arg(ByteAt(payload, 1));
    const int i = ByteAt(payload, 0) - FirstSerialByte;
    if (code == ModuleReplies::RegisterCode && i >= 0 && i < SerialByteCount) {
        FSerial[i] = ByteAt(payload, 1);
        FReceived[i] = true;
        FLastSerialByte = i + 1;
    }
}

bool TModuleInfo::SerialRead() const
{
    return std::all_of(FReceived.begin(), FReceived.end(), [](bool b) { return b; });
}

QList<TByteString> TModuleInfo::MissingRequests() const
{
    QList<TByteString> requests;
    if (!FFirmware)
        requests << ModuleRequests::FirmwareVersion(FAddress);
    for (int i = 0; i < SerialByteCount; ++i)
        if (!FReceived[i])
            requests << ModuleRequests::RegisterRead(FAddress, std::uint8_t(FirstSerialByte + i));
    return requests;
}

std::optional<QString> TModuleInfo::SerialNumber() const
{
    const bool blank = std::all_of(FSerial.begin(), FSerial.end(), [](std::uint8_t b) { return b == 0xFF; });
    if (!SerialRead() || blank)
        return std::nullopt;
    return SerialNumberText(FSerial);
}
