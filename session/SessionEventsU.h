#pragma once
// The session's event log: what happened at the module and on the link, in
// the words a technician looks for afterwards (a card, the tamper going on,
// the link lost, a Write and how it went). The event types and their field
// names live here only, so the log window, its CSV and `vyxctl watch --json`
// never drift apart.

#include <QAbstractTableModel>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QTime>
#include <QVariant>

#include <cstdint>
#include <deque>
#include <map>
#include <optional>

class QIODevice;
class TModuleSession;

namespace SessionEvents {
// The field names, in the order of the log's and the CSV's columns.
const QStringList& FieldNames();
}

struct TSessionEvent {
    QTime time;   // of day, to the millisecond
    QString type; // "card", "change", "linkOpened", "linkClosed", "linkLost", "timeOut", "write", "addressAssigned"
    QList<QPair<QString, QVariant>> fields; // beyond time and type, by field name

    // A field's value as the log shows it; empty when the event has none.
    QString Text(const QString& field) const;
    // One line of `vyxctl watch --json`: only the fields the event has.
    QJsonObject ToJson() const;
    // One line for a person: "12:00:01.250 change signal=tamper state=on".
    QString ToText() const;
};

class TSessionEventLog : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int Kept = 10000;

    explicit TSessionEventLog(TModuleSession& session, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    const TSessionEvent& Event(int row) const { return FEvents[std::size_t(row)]; }
    // Every event kept, one CSV record each after the header (RFC 4180, UTF-8);
    // false when the device refused the text.
    bool WriteCsv(QIODevice& device) const;
    // Headings for the columns, by field name; the CSV keeps the field names.
    void SetHeadings(const QStringList& headings);

signals:
    void EventAdded(const TSessionEvent& event);

private:
    void Add(const QString& type, QList<QPair<QString, QVariant>> fields);
    void Status(std::uint8_t flags, bool cardRead, const QString& card, const QString& code);
    void LinkLost(const QString& reason);

    TModuleSession& FSession;
    std::deque<TSessionEvent> FEvents;
    QStringList FHeadings;
    std::optional<std::uint8_t> FFlags; // the state last heard; none since the link opened
    bool FSilent = false;               // a time-out said, until the next good reply
    bool FLostSaid = false;             // the link's loss said, until it opens again
    std::map<int, QString> FSerials;    // address -> the serial number its module told last
};
