// Termination signals as a Unix program handles them, on a child process of
// this very executable that never finishes the close it is asked for.

#include "ports/TerminationSignals.h"
#include "tests/support/ReadAvailable.h"

#include <QCoreApplication>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr char HeldCloseMode[] = "--held-close";

// The child: reports each request to end and never ends by itself.
int HeldClose(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    TTerminationSignals termination;
    QString error;
    if (!termination.Install(error))
        return 2;
    QObject::connect(&termination, &TTerminationSignals::Received, [](int signalNumber) {
        std::printf("received %d\n", signalNumber);
        std::fflush(stdout);
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return application.exec();
}

// Started with fork and exec, as the simulator is in the other tests.
class THeldChild {
public:
    explicit THeldChild(bool hangUpIgnored)
    {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            qFatal("pipe2 failed");
        FPid = ::fork();
        if (FPid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            // what nohup does before it starts the program
            std::signal(SIGHUP, hangUpIgnored ? SIG_IGN : SIG_DFL);
            ::dup2(out[1], STDOUT_FILENO);
            ::execl("/proc/self/exe", "held-close", HeldCloseMode, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        FOut = out[0];
        ::fcntl(FOut, F_SETFL, O_NONBLOCK);
    }
    ~THeldChild()
    {
        if (FPid > 0) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, nullptr, 0);
        }
        ::close(FOut);
    }

    bool Printed(const QByteArray& line)
    {
        return QTest::qWaitFor([&] { return Output().contains(line + '\n'); }, 5000);
    }
    QByteArray Output()
    {
        ReadAvailable(FOut, FOutput);
        return FOutput;
    }
    void Send(int signalNumber) { ::kill(FPid, signalNumber); }
    bool Running() { return ::waitpid(FPid, nullptr, WNOHANG) == 0; }
    // The signal that ended it; 0 when it did not end by a signal in time.
    int EndedBy()
    {
        int status = 0;
        if (!QTest::qWaitFor([&] { return ::waitpid(FPid, &status, WNOHANG) == FPid; }, 5000))
            return 0;
        FPid = -1;
        return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }

private:
    pid_t FPid = -1;
    int FOut = -1;
    QByteArray FOutput;
};

void Mine(int) {}

} // namespace

class TestTerminationSignals : public QObject {
    Q_OBJECT
private slots:
    void nohupKeepsHangUpIgnored();
    void secondRequestEndsAHeldClose_data();
    void secondRequestEndsAHeldClose();
    void previousHandlersComeBack();
};

void TestTerminationSignals::nohupKeepsHangUpIgnored()
{
    THeldChild child(true);
    QVERIFY(child.Printed("ready"));
    child.Send(SIGHUP);
    child.Send(SIGTERM);
    // a SIGHUP taken as the first request would have made this SIGTERM end it
    QVERIFY(child.Printed("received 15"));
    QCOMPARE(child.Output(), QByteArray("ready\nreceived 15\n"));
    QVERIFY(child.Running());
}

void TestTerminationSignals::secondRequestEndsAHeldClose_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::newRow("SIGTERM twice") << SIGTERM << SIGTERM;
    QTest::newRow("Ctrl+C after a logout") << SIGHUP << SIGINT;
    QTest::newRow("kill after Ctrl+C") << SIGINT << SIGTERM;
}

void TestTerminationSignals::secondRequestEndsAHeldClose()
{
    QFETCH(int, first);
    QFETCH(int, second);
    THeldChild child(false);
    QVERIFY(child.Printed("ready"));
    child.Send(first);
    QVERIFY(child.Printed("received " + QByteArray::number(first)));
    QVERIFY(child.Running());
    child.Send(second);
    QCOMPARE(child.EndedBy(), second);
}

void TestTerminationSignals::previousHandlersComeBack()
{
    std::signal(SIGHUP, Mine);
    std::signal(SIGPIPE, SIG_DFL);
    {
        TTerminationSignals termination;
        QString error;
        QVERIFY(termination.Install(error));
    }
    struct sigaction hangUp {}, brokenPipe {};
    ::sigaction(SIGHUP, nullptr, &hangUp);
    ::sigaction(SIGPIPE, nullptr, &brokenPipe);
    QVERIFY(hangUp.sa_handler == Mine);
    QVERIFY(brokenPipe.sa_handler == SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], HeldCloseMode) == 0)
        return HeldClose(argc, argv);
    QCoreApplication application(argc, argv);
    TestTerminationSignals test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_terminationsignals.moc"
