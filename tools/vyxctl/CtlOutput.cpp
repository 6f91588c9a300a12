#include "tools/vyxctl/CtlOutput.h"

#include <QJsonDocument>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {
// where vyxctl's own stderr lines go
FILE* OwnStderr = stderr;
}

TCtlOutput::TCtlOutput(bool json)
    : FJson(json)
{
}

void TCtlOutput::Result(const QString& text, const QJsonObject& object)
{
    const QByteArray line = FJson ? QJsonDocument(object).toJson(QJsonDocument::Compact) : text.toLocal8Bit();
    std::fprintf(stdout, "%s\n", line.constData());
    // a script reading a pipe sees each result as it happens
    std::fflush(stdout);
}

void TCtlOutput::Error(const QString& reason)
{
    if (FProgressShown)
        std::fputc('\n', OwnStderr);
    FProgressShown = false;
    std::fprintf(OwnStderr, "vyxctl: %s\n", qPrintable(reason));
}

void TCtlOutput::Note(const QString& text)
{
    std::fprintf(OwnStderr, "vyxctl: %s\n", qPrintable(text));
}

void TCtlOutput::Progress(int done, int total, const char* doing)
{
    if (!::isatty(::fileno(OwnStderr)))
        return;
    std::fprintf(OwnStderr, "\r%s %d/%d%s", doing, done, total, done == total ? "\n" : "");
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
