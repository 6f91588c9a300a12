#pragma once
// The production record: one JSON line per Write, appended to a file: when
// and where, which module, every value written, the serial number read back,
// and how the write ended. The window and `vyxctl write --record` append the
// same line from here.

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class TCommThread;
class TModuleSession;
struct TWriteResult;

// Where the link goes: "127.0.0.1:10000" or "/dev/ttyUSB0".
QString LinkEndpoint(TCommThread& link);
// "8-bit framed" or "9-bit".
QString LinkLineForm(TCommThread& link);

class TWriteRecord {
public:
    TWriteRecord() = default;
    TWriteRecord(const TWriteRecord&) = delete;
    TWriteRecord& operator=(const TWriteRecord&) = delete;
    ~TWriteRecord();

    // Opens FILE for appending, created when missing; false with the reason.
    // Opened before the write, so that no module is written without a record.
    bool Open(const QString& path, QString& why);
    bool IsOpen() const { return FFd >= 0; }

    // After the batch, with the serial number read back when the write went
    // through: appends the line in one write, so that lines of two writers
    // never mix. False with the reason when it could not be written.
    bool Add(TCommThread& link, const TWriteResult& result, const std::optional<QString>& readBack,
             QString& why);

private:
    int FFd = -1;
    QString FPath;
};

// The window's record: each Write of the session appended once the module has
// said its serial number again (or could not), a failed one at once.
class TSessionRecord : public QObject {
    Q_OBJECT
public:
    // A child of the session: it never outlives the session it listens to.
    TSessionRecord(TModuleSession& session, const QString& path);
    // The file open for the next Write, opened again when it could not be
    // before; false with the reason, and the Write should not go.
    bool Ready(QString& why);

signals:
    void Failed(const QString& why);

private:
    void Append(const TWriteResult& result, const std::optional<QString>& readBack);
    void AppendPending(const std::optional<QString>& readBack);

    TModuleSession& FSession;
    QString FPath;
    TWriteRecord FRecord;
    QList<TWriteResult> FPending; // written, waiting for the serial number
};
