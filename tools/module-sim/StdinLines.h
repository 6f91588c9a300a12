#pragma once
// Standard input as text lines, read through the event loop.

#include <QObject>

class QSocketNotifier;

class TStdinLines : public QObject {
    Q_OBJECT
public:
    // Longer lines are cut here; the rest up to the newline is dropped.
    static constexpr qsizetype MaxLineBytes = 4096;

    explicit TStdinLines(QObject* parent = nullptr);
    // A closed or unusable standard input ends at once (EndOfInput, queued).
    void Start();

signals:
    void Line(const QString& line);
    void EndOfInput();

private:
    void ReadAvailable();
    void Finish();
    void EmitLines();

    QSocketNotifier* FNotifier = nullptr;
    QByteArray FPending;
    bool FDiscarding = false; // inside a line that was cut
};
