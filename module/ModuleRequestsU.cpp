#include "module/ModuleRequestsU.h"

#include "module/CardNumbersU.h"

namespace ModuleRequests {
namespace {
constexpr int HighestBusAddress = 16;
}

TByteString Poll(std::uint8_t hwAddress)
{
    return BytesOf({hwAddress, 0x02, Code::Status, 0x01, 0x02});
}

TByteString AddressAssignment(std::uint8_t address)
{
    return BytesOf({0x00, 0x01, Code::AddressAssignment, address});
}

TByteString AssignmentFollowUp()
{
    return BytesOf({0x00, 0x01, Code::AssignmentFollowUp, 0x01});
}

TByteString FirmwareVersion(std::uint8_t address)
{
    return BytesOf({address, 0x00, Code::Firmware});
}

TByteString RegisterRead(std::uint8_t address, std::uint8_t reg)
{
    return BytesOf({address, 0x01, Code::RegisterRead, reg});
}

TByteString Lightning(std::uint8_t address)
{
    return BytesOf({address, 0x03, Code::Lightning, 0x02, 0x00, 0x00});
}

TByteString RegisterWrite(std::uint8_t address, std::uint8_t reg, std::uint8_t value)
{
    return BytesOf({address, 0x02, Code::RegisterWrite, reg, value});
}

TByteString MasterCard(std::uint8_t address, TMasterCardOperation operation, const QString& card)
{
    const auto c = CardBytes(NormalizeCardNumber(card));
    return BytesOf({address, 0x0A, Code::MasterCard, static_cast<std::uint8_t>(operation), 0x00, c[7], c[6], c[5], c[4],
                    c[3], c[2], c[1], c[0]});
}

std::uint8_t AssignedAddress(int busAddress)
{
    return busAddress == HighestBusAddress ? 0 : static_cast<std::uint8_t>(busAddress);
}

int BusAddressOfAssigned(std::uint8_t carried)
{
    return carried == 0 ? HighestBusAddress : carried;
}

TByteString SetByCard(int busAddress, const QString& serviceCard)
{
    // a card text that is not 16 digits is normalised, so it never reads short
    const auto card = CardBytes(NormalizeCardNumber(serviceCard));
    return BytesOf({0x00, 0x05, Code::SetByCard, AssignedAddress(busAddress), card[7], card[6], card[5], card[4]});
}
}
