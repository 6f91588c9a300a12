#include "tools/vyxctl/CtlTrace.h"

#include "tools/vyxctl/CtlOutput.h"
#include "module/FrameDescriptionU.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <utility>

namespace {
using TKind = TCommThread::TTraceEntry::TKind;

class TLineTrace {
public:
    explicit TLineTrace(std::FILE* out)
        : FOut(out)
        , FStart(std::chrono::steady_clock::now())
    {
    }

    // The worker and the port's event thread report at the same time.
    void Take(const TCommThread::TTraceEntry& e)
    {
        const std::lock_guard lock(FLock);
        switch (e.kind) {
        case TKind::Sent:
            Line("tx", e.line, DescribeRequest(e.frame));
            break;
        case TKind::Received:
            // a reply's bytes come in pieces; its line follows once it is judged
            FRead += e.line;
            break;
        case TKind::Reply:
            Line("rx", std::exchange(FRead, {}), DescribeReply(e.frame));
            break;
        case TKind::LateReply:
            Line("rx", std::exchange(FRead, {}), DescribeReply(e.frame) + QStringLiteral(" (late, dropped)"));
            break;
        case TKind::BadCheck:
            Line("rx", std::exchange(FRead, {}), QStringLiteral("bad check word"));
            break;
        case TKind::Timeout:
            if (!FRead.isEmpty())
                Line("rx", std::exchange(FRead, {}), QStringLiteral("incomplete reply"));
            Line("--", {}, QStringLiteral("time-out: no reply to ") + DescribeRequest(e.frame));
            break;
        }
    }

private:
    void Line(const char* direction, const TByteString& bytes, const QString& meaning)
    {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - FStart);
        WriteOutput(FOut, WireLogLine(ms.count(), direction, bytes, meaning).toLocal8Bit() + '\n');
    }

    std::FILE* FOut;
    std::chrono::steady_clock::time_point FStart;
    std::mutex FLock;
    TByteString FRead; // received, not judged yet
};
}

TCommThread::TTrace TraceTo(std::FILE* out)
{
    auto trace = std::make_shared<TLineTrace>(out);
    return [trace](const TCommThread::TTraceEntry& entry) { trace->Take(entry); };
}
