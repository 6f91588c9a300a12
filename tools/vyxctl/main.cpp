// vyxctl: the reader link from the command line, one command per run.

#include "tools/vyxctl/CtlCommands.h"
#include "tools/vyxctl/CtlOutput.h"
#include "ui/IniFile.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 1 && (args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h"))) {
        std::fputs(UsageText().toLocal8Bit().constData(), stdout);
        return CtlExit::Done;
    }
    TCtlOutput out(args.contains(QLatin1String("--json")));
    try {
        return RunLinkCommand(ParseCommandLine(args), out);
    } catch (const EUsage& e) {
        out.Error(QString::fromLocal8Bit(e.what()) + QStringLiteral("\nTry vyxctl --help"));
        return CtlExit::Usage;
    } catch (const EIniFileError& e) {
        out.Error(QString::fromLocal8Bit(e.what()));
        return CtlExit::CannotStore;
    }
}
