#include "tools/vyxctl/CtlOutput.h"

#include <QJsonDocument>

#include <cstdio>
#include <unistd.h>

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
        std::fputc('\n', stderr);
    FProgressShown = false;
    std::fprintf(stderr, "vyxctl: %s\n", qPrintable(reason));
}

void TCtlOutput::Note(const QString& text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

void TCtlOutput::Progress(int done, int total, const char* doing)
{
    if (!::isatty(STDERR_FILENO))
        return;
    std::fprintf(stderr, "\r%s %d/%d%s", doing, done, total, done == total ? "\n" : "");
    FProgressShown = done != total;
}
