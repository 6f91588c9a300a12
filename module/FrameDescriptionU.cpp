#include "tools/module-sim/FrameDescription.h"

#include "tools/module-sim/SimBus.h"
#include "tools/module-sim/SimText.h"

namespace {

struct TFrameParts {
    std::uint8_t address;
    std::uint8_t command;
    TByteString payload;
};

TFrameParts PartsOf(const TCanonicalFrame& frame)
{
    return {ByteAt(frame, FrameOffset::Address), ByteAt(frame, FrameOffset::Command), FramePayload(frame)};
}

QString Hex(std::uint8_t b)
{
    return QStringLiteral("0x") + SimText::HexByte(b);
}

QString Generic(const QString& what, const TFrameParts& f)
{
    QString text = QStringLiteral("%1 0x%2 addr %3").arg(what, SimText::HexByte(f.command)).arg(f.address);
    if (!f.payload.isEmpty())
        text += QStringLiteral(" payload ") + SimText::HexBytes(f.payload);
    return text;
}

QString DescribeAddressZero(const TFrameParts& f)
{
    if (f.command == SimCommand::MasterCard && f.payload.size() == 1)
        return QStringLiteral("assign address %1").arg(ByteAt(f.payload, 0) == 0 ? QStringLiteral("16 (sent as 0)")
                                                                                   : QString::number(ByteAt(f.payload, 0)));
    if (f.command == SimCommand::AssignmentFollowUp)
        return QStringLiteral("assignment follow-up");
    if (f.command == SimCommand::SetAddressByCard && f.payload.size() == 5)
        return QStringLiteral("set address %1 by card ending %2")
            .arg(AssignedAddress(ByteAt(f.payload, 0)))
            .arg(SimText::HexLowFirst(f.payload.mid(1)));
    return Generic(QStringLiteral("request"), f);
}

} // namespace

QString DescribeRequest(const TCanonicalFrame& frame)
{
    const TFrameParts f = PartsOf(frame);
    if (f.address == 0)
        return DescribeAddressZero(f);
    const QString addr = QString::number(f.address);
    switch (f.command) {
    case SimCommand::Status:
        return QStringLiteral("poll addr ") + addr;
    case SimCommand::Firmware:
        return QStringLiteral("firmware request addr ") + addr;
    case SimCommand::RegisterRead:
        if (f.payload.size() >= 1)
            return QStringLiteral("reg read addr %1 reg %2").arg(addr, Hex(ByteAt(f.payload, 0)));
        break;
    case SimCommand::RegisterWrite:
        if (f.payload.size() >= 2)
            return QStringLiteral("reg write addr %1 %2=%3").arg(addr, Hex(ByteAt(f.payload, 0)), Hex(ByteAt(f.payload, 1)));
        break;
    case SimCommand::MasterCard:
        if (f.payload.size() >= 10 && ByteAt(f.payload, 0) <= 1)
            return QStringLiteral("master card addr %1 %2 %3")
                .arg(addr, ByteAt(f.payload, 0) == 0 ? QStringLiteral("+") : QStringLiteral("-"),
                     SimText::HexLowFirst(f.payload.mid(2, 8)));
        break;
    case SimCommand::Lightning:
        return QStringLiteral("lightning addr %1 payload %2").arg(addr, SimText::HexBytes(f.payload));
    default:
        break;
    }
    return Generic(QStringLiteral("request"), f);
}

QString DescribeReply(const TCanonicalFrame& frame)
{
    const TFrameParts f = PartsOf(frame);
    const QString addr = QString::number(f.address);
    if (f.command == SimCommand::Status + SimCommand::ReplyOffset && f.payload.size() >= 11)
        return QStringLiteral("status addr %1 flags %2 card %3 code %4")
            .arg(addr, Hex(ByteAt(f.payload, 9)), SimText::HexBytes(f.payload.mid(1, 8)).remove(u' '),
                 SimText::HexByte(ByteAt(f.payload, 10)));
    if (f.command == SimCommand::Firmware && f.payload.size() >= 2)
        return QStringLiteral("firmware addr %1 %2.%3").arg(addr).arg(ByteAt(f.payload, 0)).arg(ByteAt(f.payload, 1));
    if (f.command == SimCommand::RegisterRead + SimCommand::ReplyOffset && f.payload.size() >= 2)
        return QStringLiteral("reg addr %1 %2=%3").arg(addr, Hex(ByteAt(f.payload, 0)), Hex(ByteAt(f.payload, 1)));
    if (f.payload.size() <= 1)
        return QStringLiteral("ack 0x%1 addr %2%3")
            .arg(SimText::HexByte(f.command), addr,
                 f.payload.isEmpty() ? QString() : QStringLiteral(" (") + Hex(ByteAt(f.payload, 0)) + u')');
    return Generic(QStringLiteral("reply"), f);
}
