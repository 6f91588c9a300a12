#include "session/SessionEventsU.h"

#include "module/CardNumbersU.h"
#include "module/ModuleRepliesU.h"
#include "session/ModuleSessionU.h"

#include <QIODevice>

#include <utility>

namespace SessionEvents {
const QStringList& FieldNames()
{
    static const QStringList names = {"time",  "event",  "address",      "card",   "code",  "signal",
                                      "state", "result", "serialNumber", "method", "reason"};
    return names;
}
}

namespace {
using namespace ModuleReplies::Flag;

// The signals a status reply carries, by the field value that names them.
constexpr std::pair<std::uint8_t, const char*> Signals[] = {
    {Input1, "input1"}, {Input2, "input2"},         {Relay, "relay"},
    {Tamper, "tamper"}, {ForcedDoor, "forcedDoor"}, {DoorAjar, "doorAjar"},
};

QString TimeText(const QTime& time)
{
    return time.toString(QStringLiteral("HH:mm:ss.zzz"));
}

// RFC 4180: a field with a comma, a quote or a line break goes in quotes, its quotes doubled.
QString CsvField(QString text)
{
    if (!text.contains(',') && !text.contains('"') && !text.contains('\n') && !text.contains('\r'))
        return text;
    text.replace('"', QStringLiteral("\"\""));
    return '"' + text + '"';
}
}

QString TSessionEvent::Text(const QString& field) const
{
    if (field == QLatin1String("time"))
        return TimeText(time);
    if (field == QLatin1String("event"))
        return type;
    for (const auto& [name, value] : fields)
        if (name == field)
            return value.toString();
    return {};
}

QJsonObject TSessionEvent::ToJson() const
{
    QJsonObject object{{"time", TimeText(time)}, {"event", type}};
    for (const auto& [name, value] : fields)
        object.insert(name, QJsonValue::fromVariant(value));
    return object;
}

QString TSessionEvent::ToText() const
{
    QString text = TimeText(time) + ' ' + type;
    for (const auto& [name, value] : fields)
        text += QStringLiteral(" %1=%2").arg(name, value.toString());
    return text;
}

TSessionEventLog::TSessionEventLog(TModuleSession& session, QObject* parent)
    : QAbstractTableModel(parent), FSession(session), FHeadings(SessionEvents::FieldNames())
{
    connect(&session, &TModuleSession::Opened, this, [this] {
        FFlags.reset();
        FSilent = false;
        FLostSaid = false;
        Add(QStringLiteral("linkOpened"), {});
    });
    connect(&session, &TModuleSession::Closed, this, [this](const QString& reason) {
        if (reason.isEmpty())
            Add(QStringLiteral("linkClosed"), {});
        else
            LinkLost(reason);
    });
    connect(&session, &TModuleSession::LinkFailed, this, &TSessionEventLog::LinkLost);
    connect(&session, &TModuleSession::ReplyArrived, this, [this] { FSilent = false; });
    connect(&session, &TModuleSession::TimedOut, this, [this] {
        if (!FSilent)
            Add(QStringLiteral("timeOut"), {{"address", FSession.Address()}});
        FSilent = true;
    });
    connect(&session, &TModuleSession::StatusReceived, this, [this](const ModuleReplies::TModuleStatus& s) {
        const auto hex = [](const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex().toUpper()); };
        Status(s.flags, s.Has(CardRead), hex(s.card), hex(QByteArray(1, char(s.code.value_or(0)))));
    });
    connect(&session, &TModuleSession::WriteFinished, this, [this](const TWriteResult& r) {
        QList<QPair<QString, QVariant>> fields{{"address", r.address}, {"result", r.Succeeded() ? "done" : "failed"}};
        // the serial number this Write gave the module, else the one it told last
        if (r.master)
            fields.append({"serialNumber", AppIDText(r.master->appID)});
        else if (const auto known = FSerials.find(r.address); known != FSerials.end())
            fields.append({"serialNumber", known->second});
        if (r.failure)
            fields.append({"reason", QStringLiteral("%1 (request %2 of %3): %4")
                                         .arg(r.failure->setting).arg(r.failure->request).arg(r.failure->of)
                                         .arg(r.failure->reason)});
        Add(QStringLiteral("write"), fields);
    });
    connect(&session, &TModuleSession::IdentityChanged, this, [this](const TModuleIdentity& identity) {
        if (identity.serialNumber)
            FSerials[identity.address] = *identity.serialNumber;
    });
    connect(&session, &TModuleSession::AddressTaken, this, [this](int address, bool byCard) {
        Add(QStringLiteral("addressAssigned"), {{"address", address}, {"method", byCard ? "card" : "direct"}});
    });
}

void TSessionEventLog::Status(std::uint8_t flags, bool cardRead, const QString& card, const QString& code)
{
    if (cardRead)
        Add(QStringLiteral("card"), {{"address", FSession.Address()}, {"card", card}, {"code", code}});
    const std::uint8_t state = flags & ~CardRead;
    // the first reply after the link opened is where the log starts, not a change
    if (FFlags)
        for (const auto& [flag, name] : Signals)
            if ((state & flag) != (*FFlags & flag))
                Add(QStringLiteral("change"), {{"address", FSession.Address()},
                                               {"signal", name},
                                               {"state", (state & flag) ? "on" : "off"}});
    FFlags = state;
}

void TSessionEventLog::LinkLost(const QString& reason)
{
    // an error that ends the link is followed by its close with the same reason
    if (FLostSaid)
        return;
    FLostSaid = true;
    FFlags.reset();
    Add(QStringLiteral("linkLost"), {{"reason", reason}});
}

void TSessionEventLog::Add(const QString& type, QList<QPair<QString, QVariant>> fields)
{
    if (FEvents.size() >= std::size_t(Kept)) {
        beginRemoveRows({}, 0, 0);
        FEvents.pop_front();
        endRemoveRows();
    }
    const int row = int(FEvents.size());
    beginInsertRows({}, row, row);
    FEvents.push_back({QTime::currentTime(), type, std::move(fields)});
    endInsertRows();
    emit EventAdded(FEvents.back());
}

int TSessionEventLog::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(FEvents.size());
}

int TSessionEventLog::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(SessionEvents::FieldNames().size());
}

QVariant TSessionEventLog::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return {};
    return Event(index.row()).Text(SessionEvents::FieldNames().at(index.column()));
}

QVariant TSessionEventLog::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= FHeadings.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    return FHeadings.at(section);
}

void TSessionEventLog::SetHeadings(const QStringList& headings)
{
    if (headings.size() != SessionEvents::FieldNames().size())
        return;
    FHeadings = headings;
    emit headerDataChanged(Qt::Horizontal, 0, int(headings.size()) - 1);
}

bool TSessionEventLog::WriteCsv(QIODevice& device) const
{
    auto record = [&device](const QStringList& fields) {
        QStringList quoted;
        for (const QString& field : fields)
            quoted << CsvField(field);
        const QByteArray line = quoted.join(',').toUtf8() + "\r\n";
        return device.write(line) == line.size();
    };
    const QStringList& names = SessionEvents::FieldNames();
    if (!record(names))
        return false;
    for (const TSessionEvent& event : FEvents) {
        QStringList fields;
        for (const QString& name : names)
            fields << event.Text(name);
        if (!record(fields))
            return false;
    }
    return true;
}
