#pragma once
// SIGINT, SIGTERM and SIGHUP delivered through the event loop (a self-pipe),
// so that a program ends the same way as when asked from within: the
// simulator as on "quit", the window through its normal close.

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
