// vyxctl: the reader link from the command line, one command per run.

#include "base/AppErrors.h"
#include "tools/vyxctl/CtlCommands.h"
#include "tools/vyxctl/CtlDatabase.h"
#include "tools/vyxctl/CtlOutput.h"

#ifdef VYX_CTL_CERTIFICATE
#include <QGuiApplication>
#endif

#include <QCoreApplication>

#include <cstdio>
#include <memory>

namespace {
// The tests run vyxctl against the simulator at a fraction of the module's
// pace: VYXCTL_TEST_PACE=10 divides the pace by ten. A module on a real bus
// does not keep up with that.
TLinkTiming Pace()
{
    bool number = false;
    const int divisor = qEnvironmentVariableIntValue("VYXCTL_TEST_PACE", &number);
    return number && divisor > 1 ? TLinkTiming{}.Faster(divisor) : TLinkTiming{};
}

bool IsCertificate(const TCtlCommandLine& cl)
{
    return cl.command == QLatin1String("certificate");
}

// The certificate is rendered by the web engine, which needs a graphical
// application object, if no display: the page is drawn off screen anyway.
std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv, const TCtlCommandLine& cl)
{
#ifdef VYX_CTL_CERTIFICATE
    if (IsCertificate(cl)) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
            && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        return std::make_unique<QGuiApplication>(argc, argv);
    }
#else
    Q_UNUSED(cl);
#endif
    return std::make_unique<QCoreApplication>(argc, argv);
}
}

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    // read before the application exists: Qt's own start-up already logs
    TCtlCommandLine cl;
    try {
        cl = ParseCommandLine(args);
    } catch (const EUsage& e) {
        TCtlOutput out(false);
        out.Error(QString::fromLocal8Bit(e.what()));
        out.Error(QStringLiteral("see vyxctl --help"));
        return CtlExit::Usage;
    }
    // a closed reader is how a script ends a watch; any other command's
    // output is then incomplete
    TCtlOutput::SetClosedOutputStatus(cl.command == QLatin1String("watch") ? CtlExit::Done : CtlExit::OutputClosed);
    if (cl.help) {
        WriteOutput(stdout, UsageText(cl.command).toLocal8Bit());
        return CtlExit::Done;
    }
    if (cl.version) {
        WriteOutput(stdout, "vyxctl " VYX_VERSION "\n");
        return CtlExit::Done;
    }
    if (!cl.verbose) {
        TCtlOutput::HideLibraryLogging();
        // the web engine and its helper processes write to stderr themselves
        if (IsCertificate(cl))
            TCtlOutput::HideForeignStderr();
    }

    const std::unique_ptr<QCoreApplication> app = MakeApplication(argc, argv, cl);
    TCtlOutput out(cl.json);
    // what the link reports on its own (a failed name lookup) is a reason too
    AppErrors::SetHandler([&out](const QString& message) { out.Error(message); });
    return RunCommand(cl, out, Pace());
}
