#pragma once
// Where the module's line ends: a TCP server with one client, or the master
// side of a pseudo-terminal. Both deliver bytes and take bytes.

#include "base/CommTypesU.h"
#include "tools/module-sim/PseudoTerminal.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

class TSimTransport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool Open(QString& error) = 0;
    // "tcp 127.0.0.1:10000" or "pty /dev/pts/3", after Open.
    virtual QString ListeningText() const = 0;
    // What --port-file gets: the port, or the slave's path.
    virtual QString PortFileText() const = 0;
    virtual void Write(const TByteString& bytes) = 0;
    // False when there is no connection to drop.
    virtual bool DropConnection() = 0;

signals:
    void Received(const TByteString& bytes);
    // The peer changed or went away: half-assembled requests are void.
    void LineReset();
    void Note(const QString& text);
};

class TSimTcpTransport : public TSimTransport {
    Q_OBJECT
public:
    TSimTcpTransport(const QString& host, quint16 port, QObject* parent = nullptr);

    bool Open(QString& error) override;
    QString ListeningText() const override;
    QString PortFileText() const override;
    void Write(const TByteString& bytes) override;
    bool DropConnection() override;

private:
    void Accept();
    void Forget(QTcpSocket* client);

    QString FHost;
    quint16 FPort;
    QTcpServer* FServer;
    QPointer<QTcpSocket> FClient;
};

class TSimPtyTransport : public TSimTransport {
    Q_OBJECT
public:
    explicit TSimPtyTransport(const QString& linkPath, QObject* parent = nullptr);
    ~TSimPtyTransport() override;

    bool Open(QString& error) override;
    QString ListeningText() const override;
    QString PortFileText() const override;
    void Write(const TByteString& bytes) override;
    bool DropConnection() override { return false; }

private:
    void ReadAvailable();

    QString FLinkPath;
    TPseudoTerminal FTerminal;
    QSocketNotifier* FNotifier = nullptr;
};
