// Time from Write to "Data transfer OK." in the window, against the module
// simulator over loopback TCP and over a pty in both line forms, for the
// 7-request batch and the 13-request batch of a master reader. The floor is
// what the link's pacing allows: one request per poll interval, so N-1
// intervals and the last reply; the first request also waits for the next
// send slot, up to one interval more.
// Usage: bench_write [runs per scenario, default 5]
#include "link/CommThreadU.h"
#include "BenchWait.h"
#include "ui/MainWindowU.h"
#include "widgets/FriendlyStatusBar.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {
constexpr double PollIntervalMs = 250.0;

QString StatusText(const TMainWindow& window)
{
    return window.findChild<TFriendlyStatusBar*>("FriendlyStatusBar1")->PanelText(2);
}

struct TSimulator {
    QProcess process;
    QString where; // TCP port or pty path

    bool Start(const QStringList& line, const QString& portFile)
    {
        process.setProgram(QStringLiteral(VYX_MODULE_SIM));
        process.setArguments(QStringList{"--quiet", "--port-file", portFile} + line);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start();
        return WaitFor([&] {
            QFile file(portFile);
            if (file.open(QIODevice::ReadOnly))
                where = QString::fromLocal8Bit(file.readAll()).trimmed();
            return !where.isEmpty();
        }, 5000);
    }
    ~TSimulator()
    {
        process.terminate();
        process.waitForFinished(3000);
    }
};

// Milliseconds from Write to "Data transfer OK.", one per run; empty on failure.
std::vector<double> Measure(const QString& line, bool master, int runs)
{
    QTemporaryDir dir;
    TSimulator sim;
    QStringList args = line == "tcp" ? QStringList{"--tcp", "127.0.0.1:0"}
                                     : QStringList{"--pty", "--mode", line.right(1)};
    if (!sim.Start(args, dir.filePath("port")))
        return {};
    QByteArray settings = line == "tcp"
        ? "[Communication]\nCommunicationMode=LAN\nIPAddress=127.0.0.1\nIPPort=" + sim.where.toLatin1() + "\n"
        : "[Communication]\nCommunicationMode=COM\nCOM_Port=1\nDataBits=" + line.right(1).toLatin1()
              + "\n[Ports]\nCOM1=" + sim.where.toLocal8Bit() + "\n";
    settings += "[ReaderData]\nLastAppID=00000001\nMaster=" + QByteArray(master ? "1" : "0")
                + "\n[Version]\nSetMaster=1\n";
    QFile file(dir.filePath("VyxvozeRadavo.ini"));
    if (!file.open(QIODevice::WriteOnly) || file.write(settings) != settings.size())
        return {};
    file.close();

    TMainWindow window(dir.path());
    window.findChild<QLineEdit*>("AddCardED")->setText("1");
    window.findChild<QLineEdit*>("DelCardED")->setText("2");
    window.findChild<QAction*>("Start1")->trigger();
    auto* label2 = window.findChild<QLabel*>("Label2");
    if (!WaitFor([&] { return label2->text().startsWith("sn: 0"); }, 5000))
        return {};

    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        window.findChild<QAction*>("WriteMI")->trigger();
        if (!WaitFor([&] { return StatusText(window) == "Data transfer OK."; }, 10000))
            return {};
        times.push_back(timer.nsecsElapsed() / 1e6);
        // the serial number is read back after the write; let it pass, and
        // start the next write at another point of the poll interval, since
        // the first request waits for the next send slot
        WaitFor([] { return false; }, 1500 + (i * 97) % int(PollIntervalMs));
    }
    window.findChild<QAction*>("Start1")->trigger();
    WaitFor([&] { return !window.CommThread().IsActive(); }, 3000);
    return times;
}

void Report(const QString& line, bool master, int runs)
{
    const int requests = master ? 13 : 7;
    std::vector<double> t = Measure(line, master, runs);
    const double floor = (requests - 1) * PollIntervalMs;
    if (t.empty()) {
        std::printf("%-5s %2d requests: FAILED\n", qPrintable(line), requests);
        return;
    }
    std::sort(t.begin(), t.end());
    const double median = t[t.size() / 2];
    std::printf("%-5s %2d requests: median %7.1f ms  min %7.1f  max %7.1f  floor %6.0f ms  ratio %.3f\n",
                qPrintable(line), requests, median, t.front(), t.back(), floor, median / floor);
}
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    for (const char* line : {"tcp", "pty8", "pty9"})
        for (bool master : {false, true})
            Report(QString::fromLatin1(line), master, runs);
    return 0;
}
