#include "module/FrameDescriptionU.h"

#include "module/ModuleRepliesU.h"
#include "module/ModuleRequestsU.h"

using FrameText::HexByte;
using FrameText::HexBytes;
using FrameText::HexLowFirst;
namespace Code = ModuleRequests::Code;

namespace {

struct TFrameParts {
    std::uint8_t address;
    std::uint8_t command;
    TByteString payload;
};

TFrameParts PartsOf(const TCanonicalFrame& frame)
{
    return {ByteAt(frame, FrameOffset::Address), ByteAt(frame, FrameOffset::Command), ModuleReplies::PayloadOf(frame)};
}

QString Hex(std::uint8_t b)
{
    return QStringLiteral("0x") + HexByte(b);
}

QString Generic(const QString& what, const TFrameParts& f)
{
    QString text = QStringLiteral("%1 0x%2 addr %3").arg(what, HexByte(f.command)).arg(f.address);
    if (!f.payload.isEmpty())
        text += QStringLiteral(" payload ") + HexBytes(f.payload);
    return text;
}

QString DescribeAddressZero(const TFrameParts& f)
{
    if (f.command == Code::MasterCard && f.payload.size() == 1)
        return QStringLiteral("assign address %1").arg(ByteAt(f.payload, 0) == 0 ? QStringLiteral("16 (sent as 0)")
                                                                                   : QString::number(ByteAt(f.payload, 0)));
    if (f.command == Code::AssignmentFollowUp)
        return QStringLiteral("assignment follow-up");
    if (f.command == Code::SetByCard && f.payload.size() == 5)
        return QStringLiteral("set address %1 by card ending %2")
            .arg(ModuleRequests::BusAddressOfAssigned(ByteAt(f.payload, 0)))
            .arg(HexLowFirst(f.payload.mid(1)));
    return Generic(QStringLiteral("request"), f);
}

} // namespace

namespace FrameText {
QString HexByte(std::uint8_t value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

QString HexBytes(const TByteString& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}
}

QString DescribeRequest(const TCanonicalFrame& frame)
{
    const TFrameParts f = PartsOf(frame);
    if (f.address == 0)
        return DescribeAddressZero(f);
    const QString addr = QString::number(f.address);
    switch (f.command) {
    case Code::Status:
        return QStringLiteral("poll addr ") + addr;
    case Code::Firmware:
        return QStringLiteral("firmware request addr ") + addr;
    case Code::RegisterRead:
        if (f.payload.size() >= 1)
            return QStringLiteral("reg read addr %1 reg %2").arg(addr, Hex(ByteAt(f.payload, 0)));
        break;
    case Code::RegisterWrite:
        if (f.payload.size() >= 2)
            return QStringLiteral("reg write addr %1 %2=%3").arg(addr, Hex(ByteAt(f.payload, 0)), Hex(ByteAt(f.payload, 1)));
        break;
    case Code::MasterCard:
        if (f.payload.size() >= 10 && ByteAt(f.payload, 0) <= 1)
            return QStringLiteral("master card addr %1 %2 %3")
                .arg(addr, ByteAt(f.payload, 0) == 0 ? QStringLiteral("+") : QStringLiteral("-"),
                     HexLowFirst(f.payload.mid(2, 8)));
        break;
    case Code::Lightning:
        return QStringLiteral("lightning addr %1 payload %2").arg(addr, HexBytes(f.payload));
    default:
        break;
    }
    return Generic(QStringLiteral("request"), f);
}

QString DescribeReply(const TCanonicalFrame& frame)
{
    const TFrameParts f = PartsOf(frame);
    const QString addr = QString::number(f.address);
    if (f.command == ModuleReplies::StatusCode && f.payload.size() >= 11)
        return QStringLiteral("status addr %1 flags %2 card %3 code %4")
            .arg(addr, Hex(ByteAt(f.payload, 9)), HexBytes(f.payload.mid(1, 8)).remove(u' '),
                 HexByte(ByteAt(f.payload, 10)));
    if (f.command == ModuleReplies::FirmwareCode && f.payload.size() >= 2)
        return QStringLiteral("firmware addr %1 %2.%3").arg(addr).arg(ByteAt(f.payload, 0)).arg(ByteAt(f.payload, 1));
    if (f.command == ModuleReplies::RegisterCode && f.payload.size() >= 2)
        return QStringLiteral("reg addr %1 %2=%3").arg(addr, Hex(ByteAt(f.payload, 0)), Hex(ByteAt(f.payload, 1)));
    if (f.payload.size() <= 1)
        return QStringLiteral("ack 0x%1 addr %2%3")
            .arg(HexByte(f.command), addr,
                 f.payload.isEmpty() ? QString() : QStringLiteral(" (") + Hex(ByteAt(f.payload, 0)) + u')');
    return Generic(QStringLiteral("reply"), f);
}

QString WireLogLine(qint64 atMs, const char* direction, const TByteString& bytes, const QString& meaning)
{
    QString line = QStringLiteral("%1 %2").arg(atMs, 8).arg(QLatin1String(direction));
    if (!bytes.isEmpty())
        line += QStringLiteral("  ") + HexBytes(bytes);
    if (!meaning.isEmpty())
        line += QStringLiteral("  ") + meaning;
    return line;
}
