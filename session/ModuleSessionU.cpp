#include "session/ModuleSessionU.h"

#include "link/CommThreadU.h"
#include "module/ModuleRequestsU.h"

#include <QTimer>

#include <algorithm>

namespace {
QString HexText(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

std::uint8_t AddressOf(const TCanonicalFrame& frame)
{
    return ByteAt(frame, FrameOffset::Address);
}
}

TModuleSession::TModuleSession(TCommThread& link, QObject* parent)
    : QObject(parent)
    , FLink(link)
    , FSlowTimer(new QTimer(this))
    , FSetByCardTimer(new QTimer(this))
{
    // the window's designs name these two timers
    FSlowTimer->setObjectName(QStringLiteral("SlowTimer"));
    FSetByCardTimer->setObjectName(QStringLiteral("SetAddressTimer"));
    SetTiming(link.Timing());
    connect(FSlowTimer, &QTimer::timeout, this, &TModuleSession::Tick);
    connect(FSetByCardTimer, &QTimer::timeout, this, &TModuleSession::QueueSetByCard);
    FSlowTimer->start();
    FInfo = TModuleInfo(link.HWAddress.load());
    WireLink();
}

TModuleSession::~TModuleSession()
{
    FLink.OnOpen = nullptr;
    FLink.OnClose = nullptr;
    FLink.OnCommError = nullptr;
    FLink.OnChecksumError = nullptr;
    FLink.OnTimeout = nullptr;
    FLink.OnReply = nullptr;
    FLink.OnCommandDone = nullptr;
    FLink.OnCommandTimeout = nullptr;
}

void TModuleSession::WireLink()
{
    FLink.OnOpen = [this](TCommThread*) { LinkOpened(); };
    FLink.OnClose = [this](TCommThread*) { LinkClosed(); };
    FLink.OnCommError = [this](TCommThread*) { LinkError(); };
    FLink.OnChecksumError = [this](TCommThread*) { LinkBadReply(); };
    FLink.OnTimeout = [this](TCommThread*) { LinkTimedOut(); };
    FLink.OnReply = [this](TCommThread*, const TCanonicalFrame& reply) { LinkReply(reply); };
    FLink.OnCommandDone = [this](TCommThread*) { CommandEnded(true); };
    FLink.OnCommandTimeout = [this](TCommThread*) { CommandEnded(false); };
}

void TModuleSession::SetTiming(const TLinkTiming& timing)
{
    FLink.SetTiming(timing);
    FSlowTimer->setInterval(timing.slowTick);
    FSetByCardTimer->setInterval(timing.setByCardRepeat);
}

// --- the link -------------------------------------------------------------------

void TModuleSession::Open()
{
    FLink.Open();
}

void TModuleSession::Close()
{
    FLink.Close();
}

bool TModuleSession::IsActive() const
{
    return FLink.IsActive();
}

bool TModuleSession::IsOpening() const
{
    return FLink.IsOpening();
}

void TModuleSession::ClearTransferText()
{
    FTransfer.Cleared();
    emit TransferChanged();
}

void TModuleSession::LinkOpened()
{
    FSilent = false;
    FBadCheck = false;
    FTransfer.Cleared();
    StartIdentity(Address());
    FIdentityWanted = FFollowsIdentity;
    emit Opened();
    emit TransferChanged();
}

void TModuleSession::LinkClosed()
{
    const QString reason = FLink.LastError();
    const QString lost = reason.isEmpty() ? QStringLiteral("the link was closed") : reason;
    EndScan(lost, false);
    EndBatches(lost);
    if (reason.isEmpty())
        FTransfer.LinkEnded();
    else
        FTransfer.LinkFailed(reason);
    StartIdentity(Address());
    emit Closed(reason);
    emit TransferChanged();
}

void TModuleSession::LinkError()
{
    const QString reason = FLink.LastError();
    FBadCheck = false;
    FTransfer.LinkFailed(reason);
    // a link that is still up goes on: its requests end one by one
    if (!FLink.IsActive()) {
        EndScan(reason, false);
        EndBatches(reason);
    }
    emit LinkFailed(reason);
    emit TransferChanged();
}

void TModuleSession::LinkTimedOut()
{
    FBadCheck = false;
    // the direct assignment's follow-up went unanswered, as it does: the
    // module answers at its new address from now on
    if (FAssignment)
        FAssignment->followUpOver = true;
    FSilent = true;
    FTransfer.LinkTimedOut();
    emit TimedOut();
    emit TransferChanged();
}

void TModuleSession::LinkBadReply()
{
    FBadCheck = true;
    emit BadReply(FLink.LastError());
}

void TModuleSession::LinkReply(const TCanonicalFrame& reply)
{
    FBadCheck = false;
    if (reply.size() <= FrameOffset::Command)
        return;
    // the first answer after a silence may come from another module
    if (FSilent && AddressOf(reply) == Address()) {
        FSilent = false;
        ModuleMayHaveChanged();
    }
    FTransfer.ReplyArrived();
    emit ReplyArrived();
    const std::uint8_t code = ByteAt(reply, FrameOffset::Command);
    if (code == ModuleReplies::StatusCode)
        StatusReply(reply);
    else if (code == ModuleReplies::FirmwareCode || code == ModuleReplies::RegisterCode)
        IdentityReply(reply);
    emit TransferChanged();
}

void TModuleSession::StatusReply(const TCanonicalFrame& reply)
{
    // a probe of the scan, or a late reply of the address before
    if (AddressOf(reply) != Address())
        return;
    if (FSetByCardTimer->isActive()) {
        FSetByCardTimer->stop();
        emit SetByCardChanged(false);
        emit AddressTaken(Address(), true);
        ModuleMayHaveChanged();
    } else if (FAssignment && FAssignment->followUpOver && FAssignment->address == Address()) {
        FAssignment.reset();
        emit AddressTaken(Address(), false);
        ModuleMayHaveChanged();
    }
    const std::optional<ModuleReplies::TModuleStatus> status =
        ModuleReplies::DecodeStatus(ModuleReplies::PayloadOf(reply));
    if (!status)
        return;
    if (status->Has(ModuleReplies::Flag::CardRead))
        FLastCard = HexText(status->card);
    emit StatusReceived(*status);
}

// --- identity -------------------------------------------------------------------

void TModuleSession::SelectAddress(int address)
{
    const auto a = static_cast<std::uint8_t>(address);
    FLink.HWAddress = a;
    DropIdentityRequests();
    FSilent = false;
    StartIdentity(a);
    FIdentityWanted = FFollowsIdentity;
    if (FFollowsIdentity && IsActive()) {
        QueueIdentity();
        FSlowTimer->start(); // the next tick a whole interval away
    }
}

void TModuleSession::ReadIdentity()
{
    FIdentityWanted = true;
    if (IsActive() && !FIdentityBatch)
        QueueIdentity();
}

void TModuleSession::StartIdentity(std::uint8_t address)
{
    FInfo = TModuleInfo(address);
    emit IdentityChanged(Identity());
}

TModuleIdentity TModuleSession::Identity() const
{
    return {Address(), FInfo.Firmware(), FInfo.SerialNumber(), FInfo.LastSerialByte(),
            FInfo.Firmware() && FInfo.SerialRead()};
}

// What is still queued of them asks a module that may be gone.
void TModuleSession::DropIdentityRequests()
{
    if (!FIdentityBatch)
        return;
    FLink.CancelBatch(FIdentityBatch);
    FBatches.erase(FIdentityBatch);
    FIdentityBatch = 0;
}

void TModuleSession::ModuleMayHaveChanged()
{
    DropIdentityRequests();
    StartIdentity(Address());
    FIdentityWanted = FFollowsIdentity;
}

void TModuleSession::IdentityReply(const TCanonicalFrame& reply)
{
    const int address = AddressOf(reply);
    if (FScan)
        if (auto found = FScan->found.find(address); found != FScan->found.end())
            found->second.Take(reply);
    if (address != Address())
        return;
    FInfo.Take(reply);
    emit IdentityChanged(Identity());
}

void TModuleSession::QueueIdentity()
{
    const QList<TByteString> missing = FInfo.MissingRequests();
    if (missing.isEmpty()) {
        FIdentityWanted = false;
        emit IdentitySettled(Identity());
        return;
    }
    if (const std::uint64_t batch = Queue(TBatchKind::Identity, missing)) {
        FIdentityBatch = batch;
        FIdentityWanted = false;
    }
}

void TModuleSession::Tick()
{
    if (FIdentityWanted && IsActive() && !FIdentityBatch && !FScan)
        QueueIdentity();
    emit SlowTick();
}

// --- batches --------------------------------------------------------------------

std::uint64_t TModuleSession::Queue(TBatchKind kind, const QList<TByteString>& requests)
{
    const std::uint64_t number = FLink.AddCommands(requests);
    if (number) {
        TBatch& batch = FBatches[number];
        batch.kind = kind;
        batch.requests = requests;
    }
    return number;
}

void TModuleSession::CommandEnded(bool answered)
{
    const TCommThread::TBatchMark mark = FLink.CommandBatch();
    const auto found = FBatches.find(mark.batch);
    if (found == FBatches.end())
        return; // a batch given up (an address changed, a scan stopped)
    const QString reason = answered ? QString() : FLink.LastError();
    RequestEnded(mark.batch, found->second, answered, reason);
}

void TModuleSession::RequestEnded(std::uint64_t number, TBatch& batch, bool answered, const QString& reason)
{
    const int index = ++batch.settled;
    const bool last = index >= batch.requests.size();
    // a reply that failed its check was reported as such; anything else unanswered is a silence
    const bool silence = !answered && !FBadCheck;
    switch (batch.kind) {
    case TBatchKind::Write:
        if (answered) {
            FTransfer.CommandDone(number, last);
        } else {
            if (!batch.write.failure) {
                batch.write.failure = TWriteFailure{index, int(batch.requests.size()),
                                                    SettingWritten(batch.requests[index - 1]), reason};
                emit WriteFailed(*batch.write.failure);
            }
            FTransfer.CommandFailed();
        }
        emit TransferChanged();
        break;
    case TBatchKind::Identity:
        if (!answered)
            FIdentityWanted = true; // asked again at the next tick
        break;
    case TBatchKind::Lightning:
        emit LightningFinished(answered, reason);
        break;
    case TBatchKind::Probes:
        ProbeEnded(answered, reason);
        break;
    case TBatchKind::ScanIdentity:
        break;
    }
    if (silence && batch.kind != TBatchKind::Probes && batch.kind != TBatchKind::ScanIdentity
        && batch.kind != TBatchKind::Write) {
        FSilent = true;
        FTransfer.LinkTimedOut();
        emit TimedOut();
        emit TransferChanged();
    }
    if (last)
        BatchSettled(number, batch);
}

void TModuleSession::BatchSettled(std::uint64_t number, TBatch& batch)
{
    const TBatch settled = std::move(batch);
    FBatches.erase(number);
    switch (settled.kind) {
    case TBatchKind::Write:
        emit WriteFinished(settled.write);
        ModuleMayHaveChanged();
        break;
    case TBatchKind::Identity:
        FIdentityBatch = 0;
        emit IdentitySettled(Identity());
        break;
    case TBatchKind::Lightning:
        break;
    case TBatchKind::Probes:
    case TBatchKind::ScanIdentity:
        if (!FScan)
            break;
        if (settled.kind == TBatchKind::Probes)
            FScan->probes = 0;
        else if (const auto found = FScan->found.find(settled.scanAddress); found != FScan->found.end())
            emit ModuleFound({found->first, found->second.Firmware(), found->second.SerialNumber()});
        if (!FScan->probes && std::none_of(FBatches.begin(), FBatches.end(), [](const auto& b) {
                return b.second.kind == TBatchKind::ScanIdentity;
            }))
            EndScan({}, false);
        break;
    }
}

// The link is gone: nothing more of any batch will be answered.
void TModuleSession::EndBatches(const QString& reason)
{
    std::map<std::uint64_t, TBatch> ended;
    ended.swap(FBatches);
    FIdentityBatch = 0;
    for (auto& [number, batch] : ended) {
        if (batch.kind == TBatchKind::Write) {
            if (!batch.write.failure && batch.settled < batch.requests.size()) {
                batch.write.failure = TWriteFailure{batch.settled + 1, int(batch.requests.size()),
                                                    SettingWritten(batch.requests[batch.settled]), reason};
                emit WriteFailed(*batch.write.failure);
            }
            emit WriteFinished(batch.write);
        } else if (batch.kind == TBatchKind::Lightning) {
            emit LightningFinished(false, reason);
        }
    }
}

// --- writes, lightning, assignment ---------------------------------------------------

bool TModuleSession::Write(const TReaderConfiguration& reader, const std::optional<TMasterConfiguration>& master)
{
    const QList<TByteString> requests = ConfigurationWrite(Address(), reader, master);
    const std::uint64_t number = Queue(TBatchKind::Write, requests);
    if (!number) {
        FTransfer.CommandFailed();
        emit TransferChanged();
        return false;
    }
    FBatches[number].write = TWriteResult{Address(), requests, master, std::nullopt};
    // the module's identity may change with this write: read again once it is in
    DropIdentityRequests();
    StartIdentity(Address());
    FIdentityWanted = false;
    FTransfer.BatchQueued(number, int(requests.size()));
    emit TransferChanged();
    return true;
}

bool TModuleSession::Lightning()
{
    return Queue(TBatchKind::Lightning, {ModuleRequests::Lightning(Address())}) != 0;
}

void TModuleSession::AssignAddress(int address)
{
    if (address != Address())
        SelectAddress(address);
    FAssignment = TAssignment{address, false};
    FLink.AssignHWAddress(ModuleRequests::AssignedAddress(address));
}

void TModuleSession::StartSetByCard(const QString& serviceCard)
{
    FServiceCard = serviceCard;
    QueueSetByCard();
    FSetByCardTimer->start();
    emit SetByCardChanged(true);
}

void TModuleSession::StopSetByCard()
{
    if (!FSetByCardTimer->isActive())
        return;
    FSetByCardTimer->stop();
    emit SetByCardChanged(false);
}

bool TModuleSession::SettingByCard() const
{
    return FSetByCardTimer->isActive();
}

// Queued as a single request whether the link is open or not: it goes out
// once the link runs, as the module's assignment by card always did.
void TModuleSession::QueueSetByCard()
{
    FLink.AddCommand(ModuleRequests::SetByCard(Address(), FServiceCard));
}

// --- scan -------------------------------------------------------------------------

bool TModuleSession::StartScan(int from, int to)
{
    if (FScan || !IsActive() || from > to)
        return false;
    QList<TByteString> probes;
    for (int a = from; a <= to; ++a)
        probes << ModuleRequests::Poll(std::uint8_t(a));
    const std::uint64_t number = Queue(TBatchKind::Probes, probes);
    if (!number)
        return false;
    FScan = TScan{};
    FScan->outcome.from = from;
    FScan->outcome.to = to;
    FScan->probes = number;
    emit ScanProgress(0, to - from + 1);
    return true;
}

void TModuleSession::StopScan()
{
    EndScan({}, true);
}

void TModuleSession::ProbeEnded(bool answered, const QString& reason)
{
    TScanOutcome& outcome = FScan->outcome;
    const int address = outcome.from + outcome.asked;
    ++outcome.asked;
    if (answered) {
        const TModuleInfo& found = FScan->found.emplace(address, TModuleInfo(std::uint8_t(address))).first->second;
        if (const std::uint64_t number = Queue(TBatchKind::ScanIdentity, found.MissingRequests()))
            FBatches[number].scanAddress = address;
    } else if (FBadCheck) {
        outcome.faults << qMakePair(address, reason);
    }
    emit ScanProgress(outcome.asked, outcome.to - outcome.from + 1);
}

void TModuleSession::EndScan(const QString& lostReason, bool stopped)
{
    if (!FScan)
        return;
    for (auto b = FBatches.begin(); b != FBatches.end();) {
        if (b->second.kind == TBatchKind::Probes || b->second.kind == TBatchKind::ScanIdentity) {
            FLink.CancelBatch(b->first);
            b = FBatches.erase(b);
        } else {
            ++b;
        }
    }
    TScanOutcome outcome = FScan->outcome;
    outcome.lostReason = lostReason;
    outcome.stopped = stopped;
    FScan.reset();
    emit ScanFinished(outcome);
}
