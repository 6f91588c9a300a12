#pragma once
// The running simulator: the model between a transport, standard input and
// standard output, with the output timed by a monotonic clock.

#include "tools/module-sim/SimConsole.h"
#include "tools/module-sim/SimOptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

class TSimTransport;
class TStdinLines;
class TTerminationSignals;

class TSimHost : public QObject {
    Q_OBJECT
public:
    explicit TSimHost(const TSimOptions& options, QObject* parent = nullptr);
    ~TSimHost() override;

    // Loads the state, opens the transport, prints where it listens.
    bool Start(QString& error);

signals:
    void Finished(int exitCode);

private:
    bool LoadModules(QString& error);
    bool SaveStateIfChanged(QString& error);
    void OnReceived(const TByteString& bytes);
    void OnLine(const QString& line);
    void OnEndOfInput();
    void OnSignal(int signalNumber);
    // After every event: send what is due, print the log, save, rearm the timer.
    void Pump();
    void PrintLog();
    qint64 Now() const { return FClock.elapsed(); }

    TSimOptions FOptions;
    QElapsedTimer FClock;
    TSimBus FBus;
    TSimLink FLink;
    TSimConsole FConsole;
    std::unique_ptr<TSimTransport> FTransport;
    TStdinLines* FStdin;
    TTerminationSignals* FSignals;
    QTimer FOutputTimer;
    QString FSavedState;
};
