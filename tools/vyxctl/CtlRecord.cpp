#include "tools/vyxctl/CtlRecord.h"

#include "link/CommThreadU.h"
#include "module/FrameDescriptionU.h"
#include "module/ModuleInfoU.h"
#include "module/ModuleRequestsU.h"
#include "tools/vyxctl/CtlSession.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
// The four reads come at the link's pace; a module that went silent ends
// them at its first time-out.
constexpr int ReadBackWaitMs = 5000;

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

std::optional<QString> ReadBackSerialNumber(TCtlSession& s)
{
    const qsizetype from = s.replies.size();
    const int done = s.commandsDone;
    const int timeouts = s.commandTimeouts;
    const QList<TByteString> reads = ModuleInfo::SerialRequests(s.Address());
    for (const TByteString& request : reads)
        s.Link().AddCommand(request);
    s.WaitFor([&] { return s.commandsDone - done == reads.size() || s.commandTimeouts > timeouts; }, ReadBackWaitMs);
    TModuleInfo info(s.Address());
    for (qsizetype i = from; i < s.replies.size(); ++i)
        info.Take(s.replies[i]);
    return info.SerialNumber();
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

TCtlRecord::~TCtlRecord()
{
    if (FFd >= 0)
        ::close(FFd);
}

bool TCtlRecord::Open(const QString& path, QString& why)
{
    FPath = path;
    FFd = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (FFd < 0)
        why = QStringLiteral("cannot open the record file %1: %2").arg(path, SystemError());
    return FFd >= 0;
}

bool TCtlRecord::Add(TCtlSession& s, const QList<TByteString>& batch, const std::optional<TMasterConfiguration>& master,
                     const std::optional<TFailedRequest>& failed, QString& why)
{
    const std::optional<QString> serial = failed ? std::nullopt : ReadBackSerialNumber(s);
    QJsonObject line{{"time", Now()},
                     {"host", QSysInfo::machineHostName()},
                     {"link", s.Endpoint()},
                     {"lineForm", s.LineForm()},
                     {"address", s.Address()},
                     {"registers", Registers(batch)},
                     {"serialNumber", serial ? QJsonValue(*serial) : QJsonValue(QJsonValue::Null)},
                     {"result", failed ? "failed" : "done"}};
    if (master) {
        line.insert("appId", SerialNumberText(master->appID));
        line.insert("addCard", NormalizeCardNumber(master->addCard));
        line.insert("delCard", NormalizeCardNumber(master->deleteCard));
    }
    if (failed) {
        QJsonObject request{{"number", failed->number}, {"of", int(batch.size())}};
        if (failed->number >= 1 && failed->number <= batch.size())
            request.insert("request", DescribeRequest(BuildFrame(batch[failed->number - 1])));
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
