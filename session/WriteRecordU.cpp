#include "session/WriteRecordU.h"

#include "link/CommThreadU.h"
#include "link/FrameCodec.h"
#include "module/FrameDescriptionU.h"
#include "module/ModuleRequestsU.h"
#include "ports/ComPort.h"
#include "ports/PortNames.h"
#include "session/ModuleSessionU.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

#include <cerrno>
#include <utility>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
QString SystemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Local time with its offset from UTC: "2026-12-08T22:41:07.125+01:00".
QString Now()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// The register writes of the batch by register, "0x00": 7.
QJsonObject Registers(const QList<TByteString>& batch)
{
    QJsonObject registers;
    for (const TByteString& body : batch)
        if (body.size() > FrameOffset::Payload + 1 && ByteAt(body, FrameOffset::Command) == ModuleRequests::Code::RegisterWrite)
            registers.insert(QStringLiteral("0x") + FrameText::HexByte(ByteAt(body, FrameOffset::Payload)),
                             ByteAt(body, FrameOffset::Payload + 1));
    return registers;
}
}

QString LinkEndpoint(TCommThread& link)
{
    if (link.LANMode())
        return QStringLiteral("%1:%2").arg(link.GetIPAddress()).arg(link.GetIPPort());
    return PortNames::DevicePath(link.ComPort().Port());
}

QString LinkLineForm(TCommThread& link)
{
    return link.DataBits.load() == 8 ? QStringLiteral("8-bit framed") : QStringLiteral("9-bit");
}

TWriteRecord::~TWriteRecord()
{
    if (FFd >= 0)
        ::close(FFd);
}

bool TWriteRecord::Open(const QString& path, QString& why)
{
    FPath = path;
    FFd = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (FFd < 0)
        why = QStringLiteral("cannot open the record file %1: %2").arg(path, SystemError());
    return FFd >= 0;
}

bool TWriteRecord::Add(TCommThread& link, const TWriteResult& result, const std::optional<QString>& serial,
                       QString& why)
{
    const QList<TByteString>& batch = result.requests;
    const std::optional<TMasterConfiguration>& master = result.master;
    const std::optional<TWriteFailure>& failed = result.failure;
    QJsonObject line{{"time", Now()},
                     {"host", QSysInfo::machineHostName()},
                     {"link", LinkEndpoint(link)},
                     {"lineForm", LinkLineForm(link)},
                     {"address", result.address},
                     {"registers", Registers(batch)},
                     {"serialNumber", serial ? QJsonValue(*serial) : QJsonValue(QJsonValue::Null)},
                     {"result", failed ? "failed" : "done"}};
    if (master) {
        line.insert("appId", SerialNumberText(master->appID));
        line.insert("addCard", NormalizeCardNumber(master->addCard));
        line.insert("delCard", NormalizeCardNumber(master->deleteCard));
    }
    if (failed) {
        QJsonObject request{{"number", failed->request}, {"of", int(batch.size())}, {"setting", failed->setting}};
        if (failed->request >= 1 && failed->request <= batch.size())
            request.insert("request", DescribeRequest(BuildFrame(batch[failed->request - 1])));
        line.insert("failedRequest", request);
        line.insert("reason", failed->reason);
    }
    const QByteArray text = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    const ssize_t written = ::write(FFd, text.constData(), size_t(text.size()));
    if (written == text.size())
        return true;
    why = QStringLiteral("the record of this write could not be added to %1: %2")
              .arg(FPath, written < 0 ? SystemError() : QStringLiteral("the disk is full"));
    return false;
}

TSessionRecord::TSessionRecord(TModuleSession& session, const QString& path)
    : QObject(&session), FSession(session), FPath(path)
{
    connect(&session, &TModuleSession::WriteFinished, this, [this](const TWriteResult& result) {
        if (!result.Succeeded()) {
            Append(result, std::nullopt);
            return;
        }
        FPending.append(result);
        FSession.ReadIdentity();
    });
    connect(&session, &TModuleSession::IdentitySettled, this,
            [this](const TModuleIdentity& identity) { AppendPending(identity.serialNumber); });
    // no answer will come: the lines go without the serial number
    connect(&session, &TModuleSession::Closed, this, [this] { AppendPending(std::nullopt); });
}

bool TSessionRecord::Ready(QString& why)
{
    return FRecord.IsOpen() || FRecord.Open(FPath, why);
}

void TSessionRecord::AppendPending(const std::optional<QString>& readBack)
{
    for (const TWriteResult& result : std::exchange(FPending, {}))
        Append(result, readBack);
}

void TSessionRecord::Append(const TWriteResult& result, const std::optional<QString>& readBack)
{
    QString why;
    if (!Ready(why) || !FRecord.Add(FSession.Link(), result, readBack, why))
        emit Failed(why);
}
