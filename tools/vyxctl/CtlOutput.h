#pragma once
// What vyxctl prints: one line per result on stdout, human-readable or one
// JSON object; reasons on stderr; a progress line on stderr when it is a
// terminal.

#include <QJsonObject>
#include <QString>

class TCtlOutput {
public:
    explicit TCtlOutput(bool json);
    void Result(const QString& text, const QJsonObject& object);
    void Error(const QString& reason);
    void Note(const QString& text); // stderr, for the person at the terminal
    void Progress(int done, int total, const char* doing = "writing");

private:
    bool FJson;
    bool FProgressShown = false;
};
