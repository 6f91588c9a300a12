#include "tools/vyxctl/CtlCommandLine.h"

#include <QSet>

namespace {
struct TCommandSyntax {
    const char* name;
    QStringList valueOptions;
    QStringList flags;
    int arguments;
};

const QList<TCommandSyntax>& Commands()
{
    static const QList<TCommandSyntax> commands = {
        {"status", {}, {}, 0},
        {"info", {}, {}, 0},
        {"watch", {"--seconds"}, {}, 0},
        {"write",
         {"--strike-time", "--door-ajar-delay", "--function", "--tamper-signal", "--forced-door-signal",
          "--door-ajar-signal", "--beep", "--app-id", "--add-card", "--del-card"},
         {"--master"},
         0},
        {"assign", {}, {}, 1},
        {"assign-by-card", {"--card", "--wait"}, {}, 1},
        {"lightning", {}, {}, 0},
        {"certificate", {"--out", "--serial", "--product", "--date"}, {}, 0},
    };
    return commands;
}

const TCommandSyntax* FindCommand(const QString& name)
{
    for (const TCommandSyntax& c : Commands())
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

// "--name=value" or "--name value"; i moves past what was taken.
QString TakeValue(const QStringList& args, int& i, const QString& name)
{
    const QString& arg = args[i];
    if (arg.startsWith(name + u'='))
        return arg.mid(name.size() + 1);
    if (i + 1 >= args.size())
        throw EUsage(QStringLiteral("%1 needs a value").arg(name));
    return args[++i];
}

QString OptionName(const QString& arg)
{
    return arg.section(u'=', 0, 0);
}
}

EUsage::EUsage(const QString& message)
    : std::runtime_error(message.toLocal8Bit().toStdString())
{
}

int WholeNumber(const QString& what, const QString& text, int min, int max)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < min || value > max)
        throw EUsage(QStringLiteral("%1: \"%2\" is not a whole number from %3 to %4").arg(what, text).arg(min).arg(max));
    return value;
}

TCtlCommandLine ParseCommandLine(const QStringList& args)
{
    TCtlCommandLine cl;
    int i = 0;
    for (; i < args.size() && args[i].startsWith(QLatin1String("--")); ++i) {
        const QString name = OptionName(args[i]);
        if (name == QLatin1String("--json"))
            cl.json = true;
        else if (name == QLatin1String("--settings"))
            cl.settingsFile = TakeValue(args, i, name);
        else if (name == QLatin1String("--lan"))
            cl.lan = TakeValue(args, i, name);
        else if (name == QLatin1String("--serial"))
            cl.serial = TakeValue(args, i, name);
        else if (name == QLatin1String("--mode")) {
            const QString mode = TakeValue(args, i, name);
            if (mode != QLatin1String("8") && mode != QLatin1String("9"))
                throw EUsage(QStringLiteral("--mode: \"%1\" is neither 8 nor 9").arg(mode));
            cl.mode = mode.toInt();
        } else if (name == QLatin1String("--address"))
            cl.address = WholeNumber(name, TakeValue(args, i, name), 1, 16);
        else
            throw EUsage(QStringLiteral("unknown option %1").arg(name));
    }
    if (!cl.lan.isEmpty() && !cl.serial.isEmpty())
        throw EUsage(QStringLiteral("--lan and --serial exclude each other"));
    if (cl.mode && !cl.lan.isEmpty())
        throw EUsage(QStringLiteral("--mode is for a serial line; TCP always carries the 8-bit form"));
    if (i >= args.size())
        throw EUsage(QStringLiteral("no command given"));

    cl.command = args[i++];
    const TCommandSyntax* syntax = FindCommand(cl.command);
    if (!syntax)
        throw EUsage(QStringLiteral("unknown command \"%1\"").arg(cl.command));
    for (; i < args.size(); ++i) {
        const QString name = OptionName(args[i]);
        if (syntax->valueOptions.contains(name))
            cl.options.insert(name, TakeValue(args, i, name));
        else if (syntax->flags.contains(args[i]))
            cl.options.insert(args[i], QString());
        else if (!args[i].startsWith(QLatin1String("--")))
            cl.arguments << args[i];
        else
            throw EUsage(QStringLiteral("%1 takes no option %2").arg(cl.command, name));
    }
    if (cl.arguments.size() != syntax->arguments)
        throw EUsage(QStringLiteral("%1 takes %2 argument(s), %3 given")
                         .arg(cl.command)
                         .arg(syntax->arguments)
                         .arg(cl.arguments.size()));
    return cl;
}

QString UsageText()
{
    return QStringLiteral(R"(Usage: vyxctl [--settings FILE] [--lan HOST:PORT | --serial COMn|DEVICE [--mode 8|9]]
              [--address N] [--json] COMMAND [ARGS]

  status                      one status poll, decoded
  info                        firmware version and serial number
  watch [--seconds S]         polls and prints each change (card, code, inputs); Ctrl+C ends it
  write [--strike-time N] [--door-ajar-delay N] [--function handle|button] [--tamper-signal N]
        [--forced-door-signal N] [--door-ajar-signal N] [--beep on|off]
        [--master --app-id HEX8|next --add-card HEX --del-card HEX]
  assign NEW_ADDRESS          the address-assignment request and its follow-up
  assign-by-card NEW_ADDRESS [--card HEX] [--wait S]
                              set by service card; ends when the module answers at the new address
  lightning                   pulls the relay for the strike time
  certificate --out FILE.pdf [--serial HEX8] [--product TEXT] [--date YYYY-MM-DD]

Connection and the values write does not get come from the settings file (the window's unless
--settings names one). Exit status: 0 done, 1 the module did not answer or a request timed out,
2 bad command line or value, 3 the port or connection could not be opened, 4 the settings file
could not be written, 5 the certificate could not be rendered, 130 interrupted.
)");
}
