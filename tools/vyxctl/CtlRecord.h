#pragma once
// write --record FILE: the production record. One JSON line per write,
// appended to FILE: when and where, which module, every value written, the
// serial number read back, and how the write ended.

#include "base/CommTypesU.h"
#include "module/ConfigurationWriteU.h"

#include <QList>
#include <QString>

#include <optional>

class TCtlSession;

// The request of a batch that failed: its number from 1, and why.
struct TFailedRequest {
    int number = 0;
    QString reason;
};

class TCtlRecord {
public:
    TCtlRecord() = default;
    TCtlRecord(const TCtlRecord&) = delete;
    TCtlRecord& operator=(const TCtlRecord&) = delete;
    ~TCtlRecord();

    // Opens FILE for appending, created when missing; false with the reason.
    // Opened before the write, so that no module is written without a record.
    bool Open(const QString& path, QString& why);
    bool IsOpen() const { return FFd >= 0; }

    // After the batch: reads the serial number back when the write went
    // through, then appends the line in one write, so that lines of two
    // writers never mix. False with the reason when it could not be written.
    bool Add(TCtlSession& s, const QList<TByteString>& batch, const std::optional<TMasterConfiguration>& master,
             const std::optional<TFailedRequest>& failed, QString& why);

private:
    int FFd = -1;
    QString FPath;
};
