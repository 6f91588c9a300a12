#pragma once
// TModuleSession: the conversation with the module at the selected bus
// address, for the window and vyxctl alike. It takes the link's eight events
// and says what they mean for the module: its state, who it is (firmware and
// serial number, always of the address selected now), how a Write went and
// which setting failed, the two ways of giving it a new address, and which
// modules answer on the bus. The front ends only show what it says; it never
// shows anything itself.

#include "base/CommTypesU.h"
#include "link/LinkTimingU.h"
#include "module/ConfigurationWriteU.h"
#include "module/ModuleInfoU.h"
#include "module/ModuleRepliesU.h"
#include "module/TransferStateU.h"

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <map>
#include <optional>

class QTimer;
class TCommThread;

// Who the module at one address is, as far as its replies have said.
struct TModuleIdentity {
    std::uint8_t address = 1;
    std::optional<QString> firmware;     // "2.5"
    std::optional<QString> serialNumber; // "0012A3FF"; none until all four bytes came, or FF FF FF FF
    int serialBytesSeen = 0;             // 1 to 4: the serial register that came last
    bool complete = false;               // firmware and all four serial bytes came
};

// The first request of a Write that got no good reply.
struct TWriteFailure {
    int request = 0; // from 1
    int of = 0;
    QString setting; // "reader function"
    QString reason;  // "No reply from the module within 750 ms"
};

struct TWriteResult {
    std::uint8_t address = 1;
    QList<TByteString> requests;
    std::optional<TMasterConfiguration> master;
    std::optional<TWriteFailure> failure;
    bool Succeeded() const { return !failure; }
};

struct TScanEntry {
    int address = 1;
    std::optional<QString> firmware;
    std::optional<QString> serialNumber;
};

struct TScanOutcome {
    int from = 1;
    int to = 16;
    int asked = 0;        // addresses whose probe was settled
    bool stopped = false; // by StopScan
    QString lostReason;   // the link was lost or could not go on
    QList<QPair<int, QString>> faults; // an address whose reply failed its check, and how
};

class TModuleSession : public QObject {
    Q_OBJECT
public:
    // The link's events belong to the session from now on; its timing is the link's.
    explicit TModuleSession(TCommThread& link, QObject* parent = nullptr);
    ~TModuleSession() override;

    TCommThread& Link() { return FLink; }
    // The link's and the session's pace, while the link is closed.
    void SetTiming(const TLinkTiming& timing);
    // The window reads the module's identity whenever the module may have
    // changed; vyxctl asks for it when a command needs it.
    void SetFollowsIdentity(bool follow) { FFollowsIdentity = follow; }

    // The link. Open and Close never raise; failures come as LinkFailed.
    void Open();
    void Close();
    bool IsActive() const;
    bool IsOpening() const;

    // The address every request goes to and the link polls. A change starts
    // the module's identity afresh and asks for it at once.
    std::uint8_t Address() const { return FInfo.Address(); }
    void SelectAddress(int address);
    TModuleIdentity Identity() const;
    // Asks for the missing parts of the identity now (the link being open).
    void ReadIdentity();
    // The card number of the last card read, 16 digits.
    const QString& LastCard() const { return FLastCard; }

    // Queues the configuration write to the selected address as one batch;
    // false when the link is not open, and nothing went out.
    bool Write(const TReaderConfiguration& reader, const std::optional<TMasterConfiguration>& master);
    const TTransferState& Transfer() const { return FTransfer; }
    // The status text is emptied (Start, Stop).
    void ClearTransferText();

    // The relay pulse; false when the link is not open.
    bool Lightning();

    // Direct assignment: the selected address becomes the given one and the
    // module at the bus takes it; AddressTaken follows its first status reply.
    void AssignAddress(int address);
    // Assignment by service card to the selected address, repeated until a
    // status reply shows that the module took it, or until stopped.
    void StartSetByCard(const QString& serviceCard);
    void StopSetByCard();
    bool SettingByCard() const;

    // Asks each address of the range in turn, then who each module that
    // answered is; the poll of the selected address pauses meanwhile.
    // False when the link is not open.
    bool StartScan(int from, int to);
    void StopScan();
    bool Scanning() const { return FScan.has_value(); }

signals:
    void Opened();
    void Closed(const QString& reason); // empty: stopped
    void LinkFailed(const QString& reason);
    void TimedOut();                     // the module at the selected address did not answer
    void BadReply(const QString& reason); // a reply failed its check
    void ReplyArrived();                 // a good reply, of any kind
    void StatusReceived(const ModuleReplies::TModuleStatus& status);
    void IdentityChanged(const TModuleIdentity& identity);
    void IdentitySettled(const TModuleIdentity& identity); // the requests asked for it are all answered or timed out
    void TransferChanged();
    void WriteFailed(const TWriteFailure& failure); // its first request not answered; the rest still go
    void WriteFinished(const TWriteResult& result);
    void LightningFinished(bool answered, const QString& reason);
    void SetByCardChanged(bool waiting);
    void AddressTaken(int address, bool byCard);
    void SlowTick();
    void ScanProgress(int asked, int count);
    void ModuleFound(const TScanEntry& entry);
    void ScanFinished(const TScanOutcome& outcome);

private:
    enum class TBatchKind { Write, Identity, Lightning, Probes, ScanIdentity };
    struct TBatch {
        TBatchKind kind = TBatchKind::Write;
        QList<TByteString> requests;
        int settled = 0;
        TWriteResult write;        // Write only
        int scanAddress = 0;       // ScanIdentity only
    };
    struct TScan {
        TScanOutcome outcome;
        std::uint64_t probes = 0;
        std::map<int, TModuleInfo> found; // address -> what it said
    };
    // the direct assignment under way
    struct TAssignment {
        int address = 1;
        bool followUpOver = false; // its follow-up's time-out came
    };

    void WireLink();
    void LinkOpened();
    void LinkClosed();
    void LinkError();
    void LinkTimedOut();
    void LinkBadReply();
    void LinkReply(const TCanonicalFrame& reply);
    void CommandEnded(bool answered);
    void Tick();

    std::uint64_t Queue(TBatchKind kind, const QList<TByteString>& requests);
    void BatchSettled(std::uint64_t number, TBatch& batch);
    void RequestEnded(std::uint64_t number, TBatch& batch, bool answered, const QString& reason);
    void ProbeEnded(bool answered, const QString& reason);
    void EndBatches(const QString& reason);
    void EndScan(const QString& lostReason, bool stopped);
    void StatusReply(const TCanonicalFrame& reply);
    void StartIdentity(std::uint8_t address);
    void IdentityReply(const TCanonicalFrame& reply);
    void QueueIdentity();
    void DropIdentityRequests();
    void QueueSetByCard();
    void ModuleMayHaveChanged();

    TCommThread& FLink;
    QTimer* FSlowTimer;
    QTimer* FSetByCardTimer;
    bool FFollowsIdentity = true;

    TModuleInfo FInfo{1}; // what the module at the selected address said
    bool FIdentityWanted = false;
    std::uint64_t FIdentityBatch = 0;
    QString FLastCard = QStringLiteral("0000000000000000");
    bool FSilent = false;    // a run of time-outs since the last good reply
    bool FBadCheck = false;  // the last event was a reply that failed its check

    TTransferState FTransfer;
    std::map<std::uint64_t, TBatch> FBatches;
    std::optional<TScan> FScan;
    std::optional<TAssignment> FAssignment;
    QString FServiceCard;
};
