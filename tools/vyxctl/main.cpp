// vyxctl: the reader link from the command line, one command per run.

#include "tools/vyxctl/CtlCommands.h"
#include "tools/vyxctl/CtlOutput.h"
#include "files/IniFile.h"
#include "files/SettingsLockU.h"

#ifdef VYX_CTL_CERTIFICATE
#include "tools/vyxctl/CtlCertificate.h"

#include <QGuiApplication>
#endif

#include <QCoreApplication>

#include <cstdio>
#include <memory>

namespace {
// The certificate is rendered by the web engine, which needs a graphical
// application object, if no display: the page is drawn off screen anyway.
std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv)
{
#ifdef VYX_CTL_CERTIFICATE
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "certificate") != 0)
            continue;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
            && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        return std::make_unique<QGuiApplication>(argc, argv);
    }
#endif
    return std::make_unique<QCoreApplication>(argc, argv);
}

int Run(const TCtlCommandLine& cl, TCtlOutput& out)
{
#ifdef VYX_CTL_CERTIFICATE
    if (cl.command == QLatin1String("certificate"))
        return RunCertificate(cl, out);
#else
    if (cl.command == QLatin1String("certificate"))
        throw EUsage(QStringLiteral("this build has no web engine for the certificate"));
#endif
    return RunLinkCommand(cl, out);
}
}

int main(int argc, char** argv)
{
    const std::unique_ptr<QCoreApplication> app = MakeApplication(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() == 1 && (args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h"))) {
        std::fputs(UsageText().toLocal8Bit().constData(), stdout);
        return CtlExit::Done;
    }
    TCtlOutput out(args.contains(QLatin1String("--json")));
    try {
        return Run(ParseCommandLine(args), out);
    } catch (const EUsage& e) {
        out.Error(QString::fromLocal8Bit(e.what()) + QStringLiteral("\nTry vyxctl --help"));
        return CtlExit::Usage;
    } catch (const EIniFileError& e) {
        out.Error(QString::fromLocal8Bit(e.what()));
        return CtlExit::CannotStore;
    } catch (const ESettingsLocked& e) {
        out.Error(QString::fromLocal8Bit(e.what()));
        return CtlExit::SettingsInUse;
    }
}
