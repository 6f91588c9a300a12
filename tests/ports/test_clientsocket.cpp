#include "base/AppErrors.h"
#include "ports/ClientSocket.h"
#include "tests/support/ThreadCount.h"

#include <QDir>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <netdb.h>
#include <sys/resource.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <functional>
#include <thread>

namespace {
const QByteArray kLookupThread = "vyx lookup";

// A name server that answers only once the test lets it.
struct THangingNameServer {
    static inline std::mutex lock;
    static inline std::condition_variable changed;
    static inline bool answering = false;

    static int LookUp(const char* host, const char* service, const addrinfo* hints, addrinfo** found)
    {
        std::unique_lock guard(lock);
        changed.wait(guard, [] { return answering; });
        return ::getaddrinfo(host, service, hints, found);
    }
    static void Answer()
    {
        std::lock_guard guard(lock);
        answering = true;
        changed.notify_all();
    }
};
}

// The client against a loopback server; events are logged in order as
// "connect", "read", "disconnect" and "error:<kind>:<code>".
class TestClientSocket : public QObject {
    Q_OBJECT

    QTcpServer FServer;
    std::unique_ptr<TClientSocket> FClient;
    QStringList FEvents;
    QStringList FReports;
    QByteArray FReceived;
    bool FZeroErrorCode = true;
    bool FCloseOnError = false;
    bool FEventsOnMainThread = true;

    void Log(const QString& event)
    {
        FEvents << event;
        FEventsOnMainThread &= QThread::currentThread() == thread();
    }

    void ConnectTo(const QString& host, int port)
    {
        FClient->SetHost(host);
        FClient->SetPort(port);
        FClient->SetActive(true);
    }

    // Connects and returns the server's end of the connection.
    QTcpSocket* Connected()
    {
        ConnectTo("127.0.0.1", FServer.serverPort());
        if (!QTest::qWaitFor([&] { return FClient->Active() && FServer.hasPendingConnections(); }))
            return nullptr;
        return FServer.nextPendingConnection();
    }

    // Closes with a reset instead of the orderly end.
    static void Reset(QTcpSocket* peer)
    {
        const linger abortive{1, 0};
        setsockopt(int(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        peer->abort();
    }

    static QString Raised(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const ESocketError& e) {
            return e.what();
        }
        return {};
    }

    static int UnusedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        return probe.serverPort();
    }

private slots:
    void init()
    {
        QVERIFY(FServer.listen(QHostAddress::LocalHost));
        // Qt's own sockets ignore SIGPIPE for the whole process; the client
        // must not depend on that.
        std::signal(SIGPIPE, SIG_DFL);
        FEvents.clear();
        FReports.clear();
        FReceived.clear();
        FZeroErrorCode = true;
        FCloseOnError = false;
        FEventsOnMainThread = true;
        AppErrors::SetHandler([this](const QString& message) { FReports << message; });
        FClient = std::make_unique<TClientSocket>();
        FClient->OnConnect = [this](TClientSocket*, TClientWinSocket*) { Log("connect"); };
        FClient->OnDisconnect = [this](TClientSocket*, TClientWinSocket*) { Log("disconnect"); };
        FClient->OnRead = [this](TClientSocket*, TClientWinSocket* socket) {
            Log("read");
            FReceived += socket->ReceiveString();
        };
        FClient->OnError = [this](TClientSocket* sender, TClientWinSocket*, TErrorEvent kind, int& code) {
            Log(QString("error:%1:%2").arg(int(kind)).arg(code));
            if (FCloseOnError)
                sender->SetActive(false);
            if (FZeroErrorCode)
                code = 0;
        };
    }

    void cleanup()
    {
        FClient.reset();
        FServer.close();
        AppErrors::SetHandler({});
    }

    void connectsAndIsActiveOnlyFromOnConnect()
    {
        ConnectTo("127.0.0.1", FServer.serverPort());
        QVERIFY(!FClient->Active());
        FClient->SetActive(true); // the attempt under way goes on
        QTRY_COMPARE(FEvents, QStringList{"connect"});
        QVERIFY(FClient->Active());
        QVERIFY(FClient->Socket()->Connected());
        QVERIFY(FEventsOnMainThread);
    }

    // A peer that vanishes without a close is given up after 3 s of
    // unacknowledged data: the option is set on the client's own descriptor.
    void vanishedPeerIsNoticedInSeconds()
    {
        QTcpSocket* peer = Connected();
        QVERIFY(peer);
        int found = 0;
        for (const QString& name : QDir("/proc/self/fd").entryList(QDir::System)) {
            const int fd = name.toInt();
            sockaddr_in local{}, remote{};
            socklen_t size = sizeof local;
            if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0 || local.sin_family != AF_INET)
                continue;
            size = sizeof remote;
            if (::getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &size) != 0
                || ntohs(local.sin_port) != peer->peerPort() || ntohs(remote.sin_port) != FServer.serverPort())
                continue;
            int timeout = 0;
            size = sizeof timeout;
            QCOMPARE(::getsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, &size), 0);
            QCOMPARE(timeout, 3000);
            ++found;
        }
        QCOMPARE(found, 1);
    }

    void deactivatingDisconnectsDuringTheCall()
    {
        QTcpSocket* peer = Connected();
        QVERIFY(peer);
        FClient->SetActive(false);
        QCOMPARE(FEvents, (QStringList{"connect", "disconnect"}));
        QVERIFY(!FClient->Active());
        QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
    }

    // A peer that sends without pause is read some KB at a time, each read
    // an event of its own, and nothing is lost or reordered.
    void aFloodIsReadInBoundedPieces()
    {
        QTcpSocket* peer = Connected();
        QVERIFY(peer);
        QByteArray flood(1 << 20, '\0');
        for (qsizetype i = 0; i < flood.size(); ++i)
            flood[i] = char(i * 7 + i / 256);
        qsizetype largest = 0;
        FClient->OnRead = [&](TClientSocket*, TClientWinSocket* socket) {
            const QByteArray piece = socket->ReceiveString();
            largest = std::max(largest, piece.size());
            FReceived += piece;
        };
        peer->write(flood);
        QTRY_COMPARE(FReceived.size(), flood.size());
        QVERIFY(FReceived == flood);
        QVERIFY2(largest <= 64 * 1024, qPrintable(QString::number(largest)));
    }

    void framesSentTogetherArriveInOneRead()
    {
        QTcpSocket* peer = Connected();
        QVERIFY(peer);
        const QByteArray frames = QByteArray::fromHex("0102510102aabb") + QByteArray::fromHex("020100ccdd");
        peer->write(frames);
        QTRY_COMPARE(FReceived, frames);
        QCOMPARE(FEvents.count("read"), 1);
    }

    void splitFrameArrivesInTwoReads()
    {
        QTcpSocket* peer = Connected();
        QVERIFY(peer);
        peer->write("\x01\x02\x51");
        QTRY_COMPARE(FReceived, QByteArray("\x01\x02\x51"));
        peer->write("\x01\x02");
        QTRY_COMPARE(FReceived, QByteArray("\x01\x02\x51\x01\x02"));
        QCOMPARE(FEvents.count("read"), 2);
    }

    void peerCloseDisconnectsAndSendsNothing()
    {
        QTcpSocket* peer = Connected();
        QVERIFY(peer);
        peer->close();
        QTRY_COMPARE(FEvents, (QStringList{"connect", "disconnect"}));
        QVERIFY(!FClient->Active());
        QCOMPARE(FClient->Socket()->SendString("\x01\x02"), 0);
        QVERIFY(FClient->Socket()->ReceiveString().isEmpty());
    }

    // A reset is met by the read: OnError(receive, ECONNRESET); if the handler
    // leaves the socket open, the next read sees the end and disconnects. A
    // send after that error meets EPIPE, which must not raise SIGPIPE.
    void peerResetReportsReceiveError_data()
    {
        QTest::addColumn<bool>("closeOnError");
        QTest::addColumn<bool>("sendAfterError");
        QTest::addColumn<QStringList>("expected");
        const QString reset = QString("error:2:%1").arg(ECONNRESET);
        QTest::newRow("handler closes, as the link does") << true << false << QStringList{"connect", reset, "disconnect"};
        QTest::newRow("handler only absorbs") << false << false << QStringList{"connect", reset, "disconnect"};
        QTest::newRow("handler sends")
            << false << true << QStringList{"connect", reset, QString("error:1:%1").arg(EPIPE), "disconnect"};
    }
    void peerResetReportsReceiveError()
    {
        QFETCH(bool, closeOnError);
        QFETCH(bool, sendAfterError);
        QFETCH(QStringList, expected);
        FCloseOnError = closeOnError;
        if (sendAfterError) {
            FClient->OnError = [logged = FClient->OnError](TClientSocket* sender, TClientWinSocket* socket,
                                                           TErrorEvent kind, int& code) {
                logged(sender, socket, kind, code);
                if (kind == TErrorEvent::eeReceive)
                    QCOMPARE(socket->SendString("\x01"), -1);
            };
        }
        QTcpSocket* peer = Connected();
        QVERIFY(peer);
        Reset(peer);
        QTRY_COMPARE(FEvents, expected);
        QVERIFY(FReports.isEmpty());
    }

    void refusedConnect_data()
    {
        QTest::addColumn<bool>("zeroErrorCode");
        QTest::addColumn<QStringList>("reports");
        QTest::newRow("absorbed") << true << QStringList{};
        QTest::newRow("left set") << false << QStringList{QString("Asynchronous socket error %1").arg(ECONNREFUSED)};
    }
    void refusedConnect()
    {
        QFETCH(bool, zeroErrorCode);
        QFETCH(QStringList, reports);
        FZeroErrorCode = zeroErrorCode;
        ConnectTo("127.0.0.1", UnusedPort());
        QTRY_COMPARE(FEvents, QStringList{QString("error:3:%1").arg(ECONNREFUSED)});
        QCOMPARE(FReports, reports);
        QVERIFY(!FClient->Active());
        // the next attempt starts afresh
        FClient->SetPort(FServer.serverPort());
        FClient->SetActive(true);
        QTRY_VERIFY(FClient->Active());
    }

    void unresolvableHostDisconnects()
    {
        ConnectTo("nonexistent.invalid", 8111);
        QTRY_COMPARE(FEvents, QStringList{"disconnect"});
        QCOMPARE(FReports, QStringList{"Host nonexistent.invalid not found"});
        QVERIFY(!FClient->Active());
    }

    // Stop and Start again while the name server does not answer: one lookup
    // thread, and only the attempt still under way gets the answer.
    void hangingLookupsHoldOneThread()
    {
        const TClientSocket::TNameLookup previous = TClientSocket::SetNameLookup(&THangingNameServer::LookUp);
        // a failed check still lets the lookup thread go before the process ends
        const auto release = qScopeGuard([previous] {
            THangingNameServer::Answer();
            TClientSocket::SetNameLookup(previous);
        });
        for (int i = 0; i < 50; ++i) {
            ConnectTo("localhost", FServer.serverPort());
            FClient->SetActive(false);
        }
        ConnectTo("localhost", FServer.serverPort());
        QCOMPARE(ThreadCount(kLookupThread), 1);
        THangingNameServer::Answer();
        QTRY_VERIFY(FClient->Active());
        QTRY_COMPARE(ThreadCount(kLookupThread), 0);
        QCOMPARE(FEvents, QStringList(50, "disconnect") << "connect");
    }

    void openRejectsMissingResources_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("withoutDescriptors");
        QTest::addColumn<QString>("message");
        QTest::newRow("no host") << "" << 8111 << false << "No address specified";
        QTest::newRow("port out of range") << "127.0.0.1" << 70000 << false
                                           << "Socket error: Invalid argument (22), on 'connect'";
        QTest::newRow("no descriptor left") << "127.0.0.1" << 8111 << true << "Can't create new socket";
    }
    void openRejectsMissingResources()
    {
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(bool, withoutDescriptors);
        QFETCH(QString, message);
        FClient->SetHost(host);
        FClient->SetPort(port);
        rlimit saved{};
        getrlimit(RLIMIT_NOFILE, &saved);
        if (withoutDescriptors) {
            // the lowest free descriptor as the limit leaves none below it
            const int lowestFree = dup(0);
            close(lowestFree);
            rlimit none = saved;
            none.rlim_cur = static_cast<rlim_t>(lowestFree);
            setrlimit(RLIMIT_NOFILE, &none);
        }
        const QString raised = Raised([&] { FClient->SetActive(true); });
        setrlimit(RLIMIT_NOFILE, &saved);
        QCOMPARE(raised, message);
        // nothing was left half open
        FClient->SetHost("127.0.0.1");
        FClient->SetPort(FServer.serverPort());
        FClient->SetActive(true);
        QTRY_VERIFY(FClient->Active());
    }

    void sendFromWorkerThreadArrives()
    {
        QCOMPARE(FClient->Socket()->SendString("\x01"), 0);
        QTcpSocket* peer = Connected();
        QVERIFY(peer);
        const QByteArray frame = QByteArray::fromHex("0102510102f00d");
        int sent = 0;
        std::thread([&] { sent = FClient->Socket()->SendString(frame); }).join();
        QCOMPARE(sent, frame.size());
        QTRY_VERIFY(peer->bytesAvailable() >= frame.size());
        QCOMPARE(peer->readAll(), frame);
    }

    // The link's error handler closes the socket: a failure met by the worker
    // runs it on the main thread, without the worker waiting.
    void failedSendOnWorkerIsReportedOnMainThread()
    {
        FCloseOnError = true;
        QTcpSocket* peer = Connected();
        QVERIFY(peer);
        Reset(peer);
        std::thread([this] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (FClient->Socket()->SendString("\x01\x02") > 0 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
        }).join();
        QTRY_COMPARE(FEvents.size(), 3);
        QVERIFY2(FEvents[1] == QString("error:1:%1").arg(ECONNRESET) || FEvents[1] == QString("error:1:%1").arg(EPIPE),
                 qPrintable(FEvents[1]));
        QCOMPARE(FEvents[2], "disconnect");
        QVERIFY(FEventsOnMainThread);
        QCOMPARE(FClient->Socket()->SendString("\x01"), 0);
    }

    void handlerMayEndTheSocketInsideRead_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("closes") << false;
        QTest::newRow("destroys") << true;
    }
    void handlerMayEndTheSocketInsideRead()
    {
        QFETCH(bool, destroy);
        QTcpSocket* peer = Connected();
        QVERIFY(peer);
        FClient->OnRead = [&](TClientSocket* sender, TClientWinSocket*) {
            Log("read");
            if (destroy)
                FClient.reset();
            else
                sender->SetActive(false);
        };
        peer->write("\x01");
        QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
        const QStringList expected = destroy ? QStringList{"connect", "read"} : QStringList{"connect", "read", "disconnect"};
        QCOMPARE(FEvents, expected);
    }

    void readHandlerExceptionGoesToErrorReporting()
    {
        QTcpSocket* peer = Connected();
        QVERIFY(peer);
        FClient->OnRead = [](TClientSocket*, TClientWinSocket* socket) {
            socket->ReceiveString();
            throw std::runtime_error("bad frame");
        };
        peer->write("\x01");
        QTRY_COMPARE(FReports, QStringList{"bad frame"});
        peer->write("\x02");
        QTRY_COMPARE(FReports, (QStringList{"bad frame", "bad frame"}));
    }

    void settingsChangeOnlyWhileInactive()
    {
        QVERIFY(Connected());
        FClient->SetHost("127.0.0.1");
        FClient->SetPort(FServer.serverPort());
        const QString refusal = "Can't change value while socket is active";
        QCOMPARE(Raised([&] { FClient->SetHost("127.0.0.2"); }), refusal);
        QCOMPARE(Raised([&] { FClient->SetPort(FServer.serverPort() + 1); }), refusal);
        QCOMPARE(FClient->Port(), FServer.serverPort());
        FClient->SetActive(false);
        FClient->SetHost("Reader.local");
        FClient->SetHost("READER.LOCAL"); // same host: kept as first written
        QCOMPARE(FClient->Host(), "Reader.local");
    }

    void destructionClosesWithoutEvents()
    {
        QTcpSocket* peer = Connected();
        QVERIFY(peer);
        FClient.reset();
        QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(FEvents, QStringList{"connect"});
    }
};

QTEST_GUILESS_MAIN(TestClientSocket)
#include "test_clientsocket.moc"
