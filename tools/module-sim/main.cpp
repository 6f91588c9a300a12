// vyx-module-sim: a virtual reader module on a TCP port or a pseudo-terminal.

#include "tools/module-sim/SimHost.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const TOptionsParse parsed = ParseSimOptions(app.arguments().mid(1));
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "vyx-module-sim: %s\nTry vyx-module-sim --help\n", qPrintable(parsed.error));
        return 2;
    }
    if (parsed.options.help) {
        std::fputs(SimUsageText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parsed.options.version) {
        std::printf("vyx-module-sim %s\n", VYX_VERSION);
        return 0;
    }
    TSimHost host(parsed.options);
    QString error;
    if (!host.Start(error)) {
        std::fprintf(stderr, "vyx-module-sim: %s\n", qPrintable(error));
        return 1;
    }
    QObject::connect(&host, &TSimHost::Finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    return app.exec();
}
