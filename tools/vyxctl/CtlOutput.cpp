#include "tools/vyxctl/CtlOutput.h"

#include "tools/vyxctl/CtlCommands.h"

#include <QJsonDocument>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {
// where vyxctl's own stderr lines go
std::atomic<FILE*> OwnStderr = stderr;
std::atomic<int> ClosedOutputStatus = CtlExit::OutputClosed;

// _Exit: another thread may be writing too, and the streams' buffers would
// only fail again when flushed at exit. The link and the lock go with the
// process; the settings file is only ever replaced whole.
[[noreturn]] void EndOnFailedWrite(std::FILE* stream, int error)
{
    if (error == EPIPE)
        std::_Exit(ClosedOutputStatus);
    if (stream != OwnStderr.load())
        std::fprintf(OwnStderr, "vyxctl: cannot write the output: %s\n", std::strerror(error));
    std::_Exit(CtlExit::CannotStore);
}
}

void WriteOutput(std::FILE* stream, const QByteArray& text)
{
    // a failed write leaves its bytes in the buffer: flush tells either way
    const bool written = std::fwrite(text.constData(), 1, std::size_t(text.size()), stream) == std::size_t(text.size());
    if (std::fflush(stream) != 0 || !written)
        EndOnFailedWrite(stream, errno);
}

TCtlOutput::TCtlOutput(bool json)
    : FJson(json)
{
}

TCtlOutput::TCtlOutput(bool json, std::FILE* results, std::FILE* reasons)
    : FJson(json)
    , FResults(results)
    , FReasons(reasons)
{
}

std::FILE* TCtlOutput::Reasons() const
{
    return FReasons ? FReasons : OwnStderr.load();
}

void TCtlOutput::Result(const QString& text, const QJsonObject& object)
{
    const QByteArray line = FJson ? QJsonDocument(object).toJson(QJsonDocument::Compact) : text.toLocal8Bit();
    // flushed: a script reading a pipe sees each result as it happens
    WriteOutput(FResults ? FResults : stdout, line + '\n');
}

void TCtlOutput::Error(const QString& reason)
{
    const QByteArray line = "vyxctl: " + reason.toLocal8Bit() + '\n';
    WriteOutput(Reasons(), std::exchange(FProgressShown, false) ? '\n' + line : line);
}

void TCtlOutput::Note(const QString& text)
{
    WriteOutput(Reasons(), "vyxctl: " + text.toLocal8Bit() + '\n');
}

void TCtlOutput::Progress(int done, int total, const char* doing)
{
    if (!::isatty(::fileno(Reasons())))
        return;
    WriteOutput(Reasons(), QByteArray("\r") + doing + ' ' + QByteArray::number(done) + '/' + QByteArray::number(total)
                               + (done == total ? "\n" : ""));
    FProgressShown = done != total;
}

void TCtlOutput::HideLibraryLogging()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

void TCtlOutput::HideForeignStderr()
{
    const int own = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    FILE* stream = own >= 0 ? ::fdopen(own, "w") : nullptr;
    if (!stream || null < 0 || ::dup2(null, STDERR_FILENO) < 0) {
        // no quiet then, but every line still arrives
        if (stream)
            std::fclose(stream);
        else if (own >= 0)
            ::close(own);
        if (null >= 0)
            ::close(null);
        return;
    }
    ::close(null);
    std::setvbuf(stream, nullptr, _IONBF, 0);
    OwnStderr = stream;
}

void TCtlOutput::SetClosedOutputStatus(int status)
{
    ClosedOutputStatus = status;
    // a write to a pipe without reader then fails with EPIPE, which WriteOutput sees
    std::signal(SIGPIPE, SIG_IGN);
}
