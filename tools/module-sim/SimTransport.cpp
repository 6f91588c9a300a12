#include "tools/module-sim/SimTransport.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

TSimTcpTransport::TSimTcpTransport(const QString& host, quint16 port, QObject* parent)
    : TSimTransport(parent)
    , FHost(host)
    , FPort(port)
    , FServer(new QTcpServer(this))
{
    connect(FServer, &QTcpServer::newConnection, this, &TSimTcpTransport::Accept);
}

bool TSimTcpTransport::Open(QString& error)
{
    const QHostAddress address = FHost == QLatin1String("localhost") ? QHostAddress(QHostAddress::LocalHost)
                                                                     : QHostAddress(FHost);
    if (!FServer->listen(address, FPort)) {
        error = QStringLiteral("listening on %1:%2: %3").arg(FHost).arg(FPort).arg(FServer->errorString());
        return false;
    }
    return true;
}

QString TSimTcpTransport::ListeningText() const
{
    const QHostAddress address = FServer->serverAddress();
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol ? u'[' + address.toString() + u']'
                                                                             : address.toString();
    return QStringLiteral("tcp %1:%2").arg(host).arg(FServer->serverPort());
}

QString TSimTcpTransport::PortFileText() const
{
    return QString::number(FServer->serverPort());
}

void TSimTcpTransport::Accept()
{
    while (QTcpSocket* client = FServer->nextPendingConnection()) {
        const QString peer = QStringLiteral("%1:%2").arg(client->peerAddress().toString()).arg(client->peerPort());
        if (FClient) {
            emit Note(QStringLiteral("client %1 replaces the connected one").arg(peer));
            QTcpSocket* old = FClient;
            Forget(old);
            old->abort();
        } else {
            emit Note(QStringLiteral("client %1 connected").arg(peer));
        }
        // single bytes of a split reply must leave one by one
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        FClient = client;
        connect(client, &QTcpSocket::readyRead, this, [this, client] {
            if (client == FClient)
                emit Received(client->readAll());
        });
        connect(client, &QTcpSocket::disconnected, this, [this, client] {
            if (client != FClient)
                return;
            emit Note(QStringLiteral("client disconnected"));
            Forget(client);
        });
        emit LineReset();
    }
}

void TSimTcpTransport::Forget(QTcpSocket* client)
{
    if (client == FClient)
        FClient.clear();
    client->disconnect(this);
    client->deleteLater();
    emit LineReset();
}

void TSimTcpTransport::Write(const TByteString& bytes)
{
    if (!FClient || FClient->state() != QAbstractSocket::ConnectedState) {
        emit Note(QStringLiteral("no client: %1 bytes not sent").arg(bytes.size()));
        return;
    }
    FClient->write(bytes);
}

bool TSimTcpTransport::DropConnection()
{
    if (!FClient)
        return false;
    QTcpSocket* client = FClient;
    emit Note(QStringLiteral("connection dropped"));
    Forget(client);
    client->abort();
    return true;
}

TSimPtyTransport::TSimPtyTransport(const QString& linkPath, QObject* parent)
    : TSimTransport(parent)
    , FLinkPath(linkPath)
{
}

TSimPtyTransport::~TSimPtyTransport()
{
    delete FNotifier; // before the terminal closes its descriptor
}

bool TSimPtyTransport::Open(QString& error)
{
    if (!FTerminal.Open(FLinkPath, error))
        return false;
    FNotifier = new QSocketNotifier(FTerminal.MasterFd(), QSocketNotifier::Read);
    connect(FNotifier, &QSocketNotifier::activated, this, &TSimPtyTransport::ReadAvailable);
    return true;
}

QString TSimPtyTransport::ListeningText() const
{
    QString text = QStringLiteral("pty ") + FTerminal.SlavePath();
    if (!FTerminal.LinkPath().isEmpty())
        text += QStringLiteral("\nlink ") + FTerminal.LinkPath();
    return text;
}

QString TSimPtyTransport::PortFileText() const
{
    return FTerminal.SlavePath();
}

void TSimPtyTransport::ReadAvailable()
{
    char buffer[4096];
    QString error;
    const qint64 n = FTerminal.Read(buffer, sizeof buffer, error);
    if (n > 0) {
        emit Received(TByteString(buffer, n));
    } else if (n < 0) {
        // a failing descriptor stays readable: stop watching rather than spin
        FNotifier->setEnabled(false);
        emit Note(error + QStringLiteral("; no longer reading the line"));
    }
}

void TSimPtyTransport::Write(const TByteString& bytes)
{
    QString error;
    const qint64 written = FTerminal.Write(bytes.constData(), bytes.size(), error);
    if (written < bytes.size())
        emit Note(QStringLiteral("%1 of %2 bytes not sent: %3")
                      .arg(bytes.size() - written)
                      .arg(bytes.size())
                      .arg(error.isEmpty() ? QStringLiteral("nobody reads the line") : error));
}
