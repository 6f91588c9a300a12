// The main window against a device server that floods it with valid status
// replies (bench/flood_device_server.py --flood): once a minute, the CPU the
// process used in that minute and how late a 50 ms timer of the window's
// thread fired, at most and on average: the window's responsiveness.
// Usage: QT_QPA_PLATFORM=offscreen bench_window_flood PORT [MINUTES]
#include "ui/MainWindowU.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace {
constexpr int TickMs = 50;

double CpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [MINUTES]\n", argv[0]);
        return 2;
    }
    const int minutes = argc > 2 ? std::atoi(argv[2]) : 5;
    QTemporaryDir dir;
    QFile settings(dir.filePath(QStringLiteral("VyxvozeRadavo.ini")));
    if (!settings.open(QIODevice::WriteOnly))
        return 1;
    settings.write(QStringLiteral("[Communication]\nCommunicationMode=LAN\nIPAddress=127.0.0.1\nIPPort=%1\n")
                       .arg(QString::fromLatin1(argv[1]))
                       .toLatin1());
    settings.close();

    TMainWindow window(dir.path());
    window.show();
    window.Start1Click();

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0;
    qint64 maxLate = 0;
    qint64 sumLate = 0;
    int ticks = 0;
    int minute = 0;
    double cpuBefore = CpuSeconds();
    qint64 minuteStart = 0;
    std::printf("minute  cpu%%  timer late max ms  mean ms\n");
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        const qint64 late = std::max<qint64>(0, now - lastTick - TickMs);
        lastTick = now;
        maxLate = std::max(maxLate, late);
        sumLate += late;
        ++ticks;
        if (now - minuteStart < 60000)
            return;
        const double cpu = CpuSeconds();
        std::printf("%6d  %4.0f  %18lld  %7.1f\n", ++minute, 100 * (cpu - cpuBefore) / ((now - minuteStart) / 1000.0),
                    static_cast<long long>(maxLate), double(sumLate) / ticks);
        std::fflush(stdout);
        cpuBefore = cpu;
        minuteStart = now;
        maxLate = sumLate = ticks = 0;
        if (minute == minutes)
            app.quit();
    });
    tick.start(TickMs);
    lastTick = clock.elapsed();
    return app.exec();
}
