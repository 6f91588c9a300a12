#pragma once
// SIGINT, SIGTERM and SIGHUP delivered through the event loop (a self-pipe),
// so that a program ends the same way as when asked from within: the
// simulator as on "quit", the window through its normal close.
// SIGHUP and SIGINT that were ignored when the program started (nohup) stay
// ignored; a second SIGINT or SIGTERM after the first request ends the
// program at once, so that a close that hangs can always be interrupted. The
// previous handlers come back when this object goes.

#include <QObject>

class QSocketNotifier;

class TTerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TTerminationSignals(QObject* parent = nullptr);
    ~TTerminationSignals() override;
    bool Install(QString& error);

signals:
    void Received(int signalNumber);

private:
    void ReadPipe();

    QSocketNotifier* FNotifier = nullptr;
};
