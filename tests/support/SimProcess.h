#pragma once
// The module simulator as a child process: started on a free TCP port or on a
// pty, driven through its standard input. Started with fork and exec rather
// than QProcess: ThreadSanitizer's runtime cannot follow the clone() call that
// QProcess makes, and these tests run under it.

#include "tests/support/ReadAvailable.h"

#include <QByteArrayList>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

class TSimProcess {
public:
    ~TSimProcess() { Stop(); }

    // Starts it and waits for its "listening ..." line; false on failure.
    // wireLog: it prints every frame it receives and sends (see Output).
    bool Start(const QStringList& args, bool wireLog = false)
    {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return false;
        QByteArrayList storage{QByteArray(VYX_MODULE_SIM)};
        if (!wireLog)
            storage << "--quiet";
        for (const QString& a : args)
            storage << a.toLocal8Bit();
        std::vector<char*> argv;
        for (QByteArray& a : storage)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        FPid = fork();
        if (FPid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive a test that crashed
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        FIn = in[1];
        FOut = out[0];
        fcntl(FOut, F_SETFL, O_NONBLOCK);
        if (FPid < 0)
            return false;

        static const QRegularExpression listening("listening (tcp|pty) (\\S+)");
        return QTest::qWaitFor([&] {
            const QRegularExpressionMatch m = listening.match(QString::fromLocal8Bit(ReadOutput()));
            if (m.hasMatch())
                FWhere = m.captured(2);
            return m.hasMatch();
        }, 5000);
    }

    // "127.0.0.1:PORT" or the pty's path.
    QString Where() const { return FWhere; }
    int TcpPort() const { return FWhere.section(':', -1).toInt(); }

    void Command(const QByteArray& line)
    {
        const QByteArray text = line + "\n";
        QVERIFY(::write(FIn, text.constData(), text.size()) == text.size());
        ReadOutput(); // keep its pipe from filling up
    }

    // Asks for the console's "status" until its answer holds text.
    bool WaitForStatus(const QByteArray& text, int timeoutMs)
    {
        return QTest::qWaitFor([&] {
            Command("status");
            return QTest::qWaitFor([&] { return ReadOutput().contains(text); }, 100);
        }, timeoutMs);
    }

    // Everything it printed so far.
    QByteArray Output() { return ReadOutput(); }

    void Stop() { End(SIGTERM); }
    void Kill() { End(SIGKILL); }

private:
    QByteArray ReadOutput()
    {
        ReadAvailable(FOut, FOutput);
        return FOutput;
    }

    void End(int signal)
    {
        if (FPid <= 0)
            return;
        ::kill(FPid, signal);
        int status = 0;
        const bool ended = QTest::qWaitFor([&] { return waitpid(FPid, &status, WNOHANG) == FPid; }, 3000);
        if (!ended) {
            ::kill(FPid, SIGKILL);
            waitpid(FPid, &status, 0);
        }
        FPid = -1;
        ::close(FIn);
        ::close(FOut);
    }

    pid_t FPid = -1;
    int FIn = -1;
    int FOut = -1;
    QByteArray FOutput;
    QString FWhere;
};

// A "key=value" line of the simulator's state file (--state): the first one,
// so the first module's.
inline QString SimStateValue(const QByteArray& state, const QByteArray& key)
{
    for (const QByteArray& line : state.split('\n'))
        if (line.startsWith(key + '='))
            return QString::fromLatin1(line.mid(key.size() + 1)).trimmed();
    return {};
}

// The lines a module is reached on: "tcp", "pty8" (8-bit framed), "pty9".
inline QStringList SimLineArguments(const QString& line)
{
    if (line == QLatin1String("tcp"))
        return {"--tcp", "127.0.0.1:0"};
    return {"--pty", "--mode", line.right(1)};
}

// The window's settings file's lines for reaching the simulator on that line.
inline QByteArray SimLineSettings(const QString& line, const TSimProcess& sim)
{
    if (line == QLatin1String("tcp"))
        return "[Communication]\nCommunicationMode=LAN\nIPAddress=127.0.0.1\nIPPort="
               + QByteArray::number(sim.TcpPort()) + "\n";
    return "[Communication]\nCommunicationMode=COM\nCOM_Port=1\nDataBits=" + line.right(1).toLatin1()
           + "\n[Ports]\nCOM1=" + sim.Where().toLocal8Bit() + "\n";
}

// A data column "line" with each of them.
inline void AddSimLineRows()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("tcp") << QStringLiteral("tcp");
    QTest::newRow("pty, 8-bit framed") << QStringLiteral("pty8");
    QTest::newRow("pty, 9-bit") << QStringLiteral("pty9");
}
