#include "module/TransferStateU.h"

#include <algorithm>

void TTransferState::BatchQueued(std::uint64_t batch, int requests)
{
    if (!BatchRunning()) {
        FFirstBatch = batch;
        FAnswered = 0;
    }
    FRequests += requests;
    FLastBatch = batch;
    FStatus = TStatus::Transferring;
}

void TTransferState::CommandDone(std::uint64_t batch, bool lastOfBatch)
{
    // the information requests, and what is left of a batch that failed, do not count
    if (!BatchRunning() || batch < FFirstBatch)
        return;
    ++FAnswered;
    if (lastOfBatch && batch == FLastBatch)
        EndBatch(TStatus::Succeeded);
}

void TTransferState::CommandFailed()
{
    EndBatch(TStatus::Failed);
}

void TTransferState::ReplyArrived()
{
    // a transfer's outcome stays on show until the next one or the next Start
    if (FStatus == TStatus::None || FStatus == TStatus::Connected || FStatus == TStatus::TimedOut)
        FStatus = TStatus::Connected;
}

void TTransferState::LinkTimedOut()
{
    FStatus = TStatus::TimedOut;
}

void TTransferState::LinkEnded()
{
    if (BatchRunning())
        EndBatch(TStatus::Failed);
}

void TTransferState::LinkFailed(const QString& reason)
{
    FReason = reason;
    if (BatchRunning())
        EndBatch(TStatus::Failed);
    else
        FStatus = TStatus::LinkFailed;
}

void TTransferState::Cleared()
{
    FStatus = TStatus::None;
}

int TTransferState::Position() const
{
    return std::min(FAnswered, Maximum());
}

int TTransferState::Maximum() const
{
    return BatchRunning() ? FRequests - 1 : 0;
}

void TTransferState::EndBatch(TStatus status)
{
    FRequests = 0;
    FAnswered = 0;
    FStatus = status;
}
