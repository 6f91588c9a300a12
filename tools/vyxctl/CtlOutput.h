#pragma once
// What vyxctl prints: one line per result on stdout, human-readable or one
// JSON object; reasons and notes on stderr, each line "vyxctl: ..."; a
// progress line on stderr when it is a terminal. The libraries' own logging
// stays off stderr unless asked for.
//
// Every write is checked. A reader that has gone (a pipe closed by "head")
// ends the program at once and quietly, with the status set by
// SetClosedOutputStatus; any other failure (a full disk) ends it with the
// reason on stderr and status 4. SIGPIPE is ignored for that to be seen.

#include <QJsonObject>
#include <QString>

#include <cstdio>

class TCtlOutput {
public:
    explicit TCtlOutput(bool json);
    // results and reasons to streams of the caller's (a test's memory streams)
    TCtlOutput(bool json, std::FILE* results, std::FILE* reasons);
    bool Json() const { return FJson; }
    void Result(const QString& text, const QJsonObject& object);
    void Error(const QString& reason);
    void Note(const QString& text); // for the person at the terminal
    void Progress(int done, int total, const char* doing = "writing");

    // Drops Qt's log messages.
    static void HideLibraryLogging();
    // Points the process's stderr, which helper processes inherit, at
    // /dev/null; vyxctl's own lines keep the real one.
    static void HideForeignStderr();
    // The exit status when stdout or stderr has no reader any more.
    static void SetClosedOutputStatus(int status);

private:
    std::FILE* Reasons() const;

    bool FJson;
    std::FILE* FResults = nullptr; // none: stdout
    std::FILE* FReasons = nullptr; // none: vyxctl's own stderr
    bool FProgressShown = false;
};

// Writes text to stream (stdout or stderr) and flushes it; from any thread.
// Returns only when all of it went out.
void WriteOutput(std::FILE* stream, const QByteArray& text);
