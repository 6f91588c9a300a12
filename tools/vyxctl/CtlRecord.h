#pragma once
// write --record FILE: the production record. One JSON line per write,
// appended to FILE: when and where, which module, every value written, the
// serial number read back, and how the write ended.

#include <QString>

#include <optional>

class TCtlSession;
struct TWriteResult;

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

    // After the batch, with the serial number read back when the write went
    // through: appends the line in one write, so that lines of two writers
    // never mix. False with the reason when it could not be written.
    bool Add(TCtlSession& s, const TWriteResult& result, const std::optional<QString>& readBack, QString& why);

private:
    int FFd = -1;
    QString FPath;
};
