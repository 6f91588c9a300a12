#pragma once
// The module simulator as a child process: started on a free TCP port or on a
// pty, driven through its standard input.

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

class TSimProcess {
public:
    ~TSimProcess() { Stop(); }

    // Starts it and waits for its "listening ..." line; false on failure.
    bool Start(const QStringList& args)
    {
        FProcess.setProgram(VYX_MODULE_SIM);
        FProcess.setArguments(QStringList{"--quiet"} + args);
        FProcess.setProcessChannelMode(QProcess::SeparateChannels);
        FProcess.start();
        if (!FProcess.waitForStarted(5000))
            return false;
        static const QRegularExpression listening("listening (tcp|pty) (\\S+)");
        QByteArray out;
        QRegularExpressionMatch m;
        return QTest::qWaitFor([&] {
            out += FProcess.readAllStandardOutput();
            m = listening.match(QString::fromUtf8(out));
            if (!m.hasMatch())
                return false;
            FWhere = m.captured(2);
            return true;
        }, 5000);
    }

    // "127.0.0.1:PORT" or the pty's path.
    QString Where() const { return FWhere; }
    int TcpPort() const { return FWhere.section(':', -1).toInt(); }

    void Command(const QByteArray& line)
    {
        FProcess.write(line + "\n");
        FProcess.waitForBytesWritten(1000);
    }

    void Stop()
    {
        if (FProcess.state() == QProcess::NotRunning)
            return;
        FProcess.terminate();
        if (!FProcess.waitForFinished(3000)) {
            FProcess.kill();
            FProcess.waitForFinished(3000);
        }
    }

    void Kill()
    {
        FProcess.kill();
        FProcess.waitForFinished(3000);
    }

private:
    QProcess FProcess;
    QString FWhere;
};
