// vyxctl: the reader link from the command line, one command per run.

#include "base/AppErrors.h"
#include "tools/vyxctl/CtlCommands.h"
#include "tools/vyxctl/CtlDatabase.h"
#include "tools/vyxctl/CtlOutput.h"
#include "files/IniFile.h"
#include "files/SettingsLockU.h"
#include "production/ProductionDatabaseU.h"

#ifdef VYX_CTL_CERTIFICATE
#include "tools/vyxctl/CtlCertificate.h"

#include <QGuiApplication>
#endif

#include <QCoreApplication>

#include <cstdio>
#include <memory>

namespace {
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

int Run(const TCtlCommandLine& cl, TCtlOutput& out)
{
#ifdef VYX_CTL_CERTIFICATE
    if (IsCertificate(cl))
        return RunCertificate(cl, out);
#else
    if (IsCertificate(cl))
        throw EUsage(QStringLiteral("this build has no web engine for the certificate"));
#endif
    if (IsDatabaseCommand(cl))
        return RunDatabaseCommand(cl, out);
    return RunLinkCommand(cl, out);
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
    if (cl.help) {
        std::fputs(UsageText(cl.command).toLocal8Bit().constData(), stdout);
        return CtlExit::Done;
    }
    if (cl.version) {
        std::printf("vyxctl %s\n", VYX_VERSION);
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
    try {
        return Run(cl, out);
    } catch (const EUsage& e) {
        out.Error(QString::fromLocal8Bit(e.what()));
        out.Error(QStringLiteral("see vyxctl %1 --help").arg(cl.command));
        return CtlExit::Usage;
    } catch (const EIniFileError& e) {
        out.Error(QString::fromLocal8Bit(e.what()));
        return CtlExit::CannotStore;
    } catch (const ESettingsLocked& e) {
        out.Error(QString::fromLocal8Bit(e.what()));
        return CtlExit::SettingsInUse;
    } catch (const EProductionDatabase& e) {
        out.Error(QString::fromLocal8Bit(e.what()));
        return CtlExit::DatabaseUnavailable;
    }
}
