#pragma once
// What vyxctl prints: one line per result on stdout, human-readable or one
// JSON object; reasons and notes on stderr, each line "vyxctl: ..."; a
// progress line on stderr when it is a terminal. The libraries' own logging
// stays off stderr unless asked for.

#include <QJsonObject>
#include <QString>

class TCtlOutput {
public:
    explicit TCtlOutput(bool json);
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

private:
    bool FJson;
    bool FProgressShown = false;
};
