#include "module/TransferStateU.h"

void TTransferState::BatchQueued(int requests)
{
    FStatus = TStatus::Transferring;
    FMaximum = requests - 1;
    FPosition = 0;
}

void TTransferState::CommandDone()
{
    if (FPosition < FMaximum)
        ++FPosition;
}

void TTransferState::CommandFailed()
{
    EndBatch(TStatus::Failed);
}

void TTransferState::ReplyArrived()
{
    if (FMaximum > 0 && FPosition == FMaximum)
        EndBatch(TStatus::Succeeded);
    // a transfer's outcome stays on show until the next one or the next Start
    if (FStatus != TStatus::Succeeded && FStatus != TStatus::Failed && FStatus != TStatus::Transferring)
        FStatus = TStatus::Connected;
}

void TTransferState::LinkTimedOut()
{
    FStatus = TStatus::TimedOut;
}

void TTransferState::Cleared()
{
    FStatus = TStatus::None;
}

void TTransferState::EndBatch(TStatus status)
{
    FPosition = 0;
    FMaximum = 0;
    FStatus = status;
}
