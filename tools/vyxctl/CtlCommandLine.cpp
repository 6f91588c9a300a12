#include "tools/vyxctl/CtlCommandLine.h"

#include "files/SettingsU.h"

#include <QSet>

namespace {
struct TCommandSyntax {
    const char* name;
    QStringList valueOptions;
    QStringList flags;
    int arguments;
    const char* synopsis;    // after "vyxctl [OPTIONS] "
    const char* description; // what it does, then its options
};

const QList<TCommandSyntax>& Commands()
{
    static const QList<TCommandSyntax> commands = {
        {"status", {}, {}, 0, "status", "One status poll, decoded: relay, inputs, tamper, forced door, door ajar, "
                                        "last card and code.\n"},
        {"info", {}, {}, 0, "info", "The module's firmware version and serial number.\n"},
        {"watch", {"--seconds"}, {}, 0, "watch [--seconds S]",
         "Polls the module and prints each change (card, code, inputs) until Ctrl+C or the time is up.\n\n"
         "  --seconds S           ends the watch after S seconds (1 to 31536000)\n"},
        {"write",
         {"--strike-time", "--door-ajar-delay", "--function", "--tamper-signal", "--forced-door-signal",
          "--door-ajar-signal", "--beep", "--app-id", "--add-card", "--del-card", "--record"},
         {"--master"},
         0, "write [VALUES] [--master --app-id HEX8|next --add-card HEX --del-card HEX] [--record FILE]",
         "Writes the configuration; a value not given comes from the settings file.\n\n"
         "  --strike-time N          relay time, 0 to 255\n"
         "  --door-ajar-delay N      0 to 255\n"
         "  --function handle|button the second input: door handle or exit button\n"
         "  --tamper-signal N        length of the tamper signal, 0 to 255\n"
         "  --forced-door-signal N   length of the forced-door signal, 0 to 255\n"
         "  --door-ajar-signal N     length of the door-ajar signal, 0 to 255\n"
         "  --beep on|off\n"
         "  --master                 also the master-reader data, which needs the three below\n"
         "  --app-id HEX8|next       the serial number; next: the settings file's LastAppID, which is then\n"
         "                           advanced and stored before the write (a failed write uses it up)\n"
         "  --add-card HEX           the \"+\" card, 1 to 16 hex digits\n"
         "  --del-card HEX           the \"-\" card, 1 to 16 hex digits\n"
         "  --record FILE            appends one JSON line on the write to FILE, a failed one too: time, host,\n"
         "                           link, address, the values, the serial number read back, the result\n"},
        {"assign", {"--wait"}, {}, 1, "assign NEW_ADDRESS [--wait S]",
         "Gives the module a new bus address by the address-assignment request and its follow-up.\n"
         "Ends when the module answers at NEW_ADDRESS (1 to 16), which is then stored in the settings file.\n\n"
         "  --wait S                 give up after S seconds (default 5)\n"},
        {"assign-by-card", {"--card", "--wait"}, {}, 1, "assign-by-card NEW_ADDRESS [--card HEX] [--wait S]",
         "Gives the module a new bus address when the service card is presented to it.\n"
         "Ends when the module answers at NEW_ADDRESS (1 to 16), which is then stored in the settings file.\n\n"
         "  --card HEX               the service card, else the settings file's\n"
         "  --wait S                 how long to wait for the card, 1 to 86400 (default 60)\n"},
        {"lightning", {}, {}, 0, "lightning", "Pulls the relay for the strike time.\n"},
        {"certificate", {"--out", "--serial", "--product", "--date"}, {}, 0,
         "certificate --out FILE.pdf [--serial HEX8] [--product TEXT] [--date YYYY-MM-DD]",
         "The certificate of quality as a one-page A4 PDF; needs no module.\n\n"
         "  --out FILE.pdf           where to write it\n"
         "  --serial HEX8            the module's serial number, else the one the last master write used\n"
         "  --product TEXT           default Quor 51\n"
         "  --date YYYY-MM-DD        default today; with a production database the day of the serial\n"
         "                           number's recorded write, which must have gone through\n"},
        {"scan", {"--from", "--to"}, {}, 0, "scan [--from A] [--to B]",
         "Lists the modules at bus addresses A to B with their firmware version and serial number.\n"
         "Each address is asked once; the list is in address order, and the exit status 1 when none answers.\n\n"
         "  --from A                 the first address, 1 to 16 (default 1)\n"
         "  --to B                   the last address, A to 16 (default 16)\n"},
        {"db", {"--first"}, {}, 1, "db init [--first HEX8]",
         "Creates the production database's tables and its serial-number counter; needs no module.\n"
         "Run again, it checks the database and names the next serial number.\n\n"
         "  --first HEX8             the first serial number to hand out, else the settings file's next one;\n"
         "                           taken once, when the counter is made\n"},
        {"records", {"--serial", "--since"}, {}, 0, "records [--serial HEX8] [--since DATE]",
         "Lists the production database's writes, oldest first: when, result, serial number written and\n"
         "read back, firmware, bus address, link, station. A write a station never finished is \"sent\"\n"
         "while the station is still connected and \"unknown\" once its connection is gone.\n\n"
         "  --serial HEX8            only the writes of that serial number, written or read back\n"
         "  --since DATE             only the writes from that day (YYYY-MM-DD) or time (YYYY-MM-DDTHH:MM) on\n"},
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

// The options every command takes, before or after it; false: not one of them.
bool TakeGlobalOption(TCtlCommandLine& cl, const QStringList& args, int& i)
{
    const QString name = OptionName(args[i]);
    if (args[i] == QLatin1String("--help") || args[i] == QLatin1String("-h"))
        cl.help = true;
    else if (args[i] == QLatin1String("--version"))
        cl.version = true;
    else if (args[i] == QLatin1String("--verbose"))
        cl.verbose = true;
    else if (args[i] == QLatin1String("--json"))
        cl.json = true;
    else if (args[i] == QLatin1String("--trace"))
        cl.trace = true;
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
    else if (name == QLatin1String("--reply-timeout"))
        cl.replyTimeoutMs = WholeNumber(name, TakeValue(args, i, name), ShortestReplyTimeoutMs, LongestReplyTimeoutMs);
    else if (name == QLatin1String("--database"))
        cl.database = TakeValue(args, i, name);
    else
        return false;
    return true;
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
    const TCommandSyntax* syntax = nullptr;
    for (int i = 0; i < args.size(); ++i) {
        const QString name = OptionName(args[i]);
        // after the command its own options come first: certificate's --serial is the serial number
        if (syntax && syntax->valueOptions.contains(name))
            cl.options.insert(name, TakeValue(args, i, name));
        else if (syntax && syntax->flags.contains(args[i]))
            cl.options.insert(args[i], QString());
        else if (TakeGlobalOption(cl, args, i))
            continue;
        else if (args[i].startsWith(QLatin1String("--")))
            throw EUsage(syntax ? QStringLiteral("%1 takes no option %2").arg(cl.command, name)
                                : QStringLiteral("unknown option %1").arg(name));
        else if (!syntax) {
            cl.command = args[i];
            syntax = FindCommand(cl.command);
            if (!syntax)
                throw EUsage(QStringLiteral("unknown command \"%1\"").arg(cl.command));
        } else
            cl.arguments << args[i];
    }
    // help and version answer whatever else the line lacks
    if (cl.help || cl.version)
        return cl;
    if (!cl.lan.isEmpty() && !cl.serial.isEmpty())
        throw EUsage(QStringLiteral("--lan and --serial exclude each other"));
    if (cl.mode && !cl.lan.isEmpty())
        throw EUsage(QStringLiteral("--mode is for a serial line; TCP always carries the 8-bit form"));
    if (!syntax)
        throw EUsage(QStringLiteral("no command given"));
    if (cl.arguments.size() != syntax->arguments)
        throw EUsage(QStringLiteral("%1 takes %2 argument(s), %3 given")
                         .arg(cl.command)
                         .arg(syntax->arguments)
                         .arg(cl.arguments.size()));
    return cl;
}

namespace {
const char OptionsText[] = R"(Options, before or after the command (after it, the command's own come first):
  --settings FILE          the settings file (default: the window's)
  --lan HOST:PORT          TCP to a serial device server
  --serial COMn|DEVICE     a serial line: COM1..COM8 or a device path
  --mode 8|9               the serial line form: 8-bit framed or 9-bit
  --address N              the module's bus address, 1 to 16
  --reply-timeout MS       wait this long for each reply (default 750, or the settings file's
                           ReplyTimeout), for a slow device server
  --database URL           the production database, postgresql://USER@HOST/DATABASE (default: the
                           settings file's [Production] Database)
  --json                   each result as one JSON object
  --trace                  each frame sent and received on stderr, with what it means
  --verbose                also the libraries' own diagnostics on stderr
  -h, --help               this help; COMMAND --help: the command's own
  --version                the program's version
)";

const char ExitText[] = R"(Exit status: 0 done, 1 the module did not answer or a request timed out,
2 bad command line or value, 3 the port or connection could not be opened, 4 the settings file,
the record or the output could not be written, 5 the settings file is held by another program,
6 the certificate could not be rendered, 7 the production database could not be reached, refused
the login, lacks its tables or has a newer schema (nothing was sent), or lost a written module's
row (its result is printed), 130 interrupted, 141 the output's reader went
away (watch: 0).
)";
}

QString UsageText(const QString& command)
{
    if (const TCommandSyntax* syntax = FindCommand(command))
        return QStringLiteral("Usage: vyxctl [OPTIONS] %1\n\n%2\n%3\n%4")
            .arg(QLatin1String(syntax->synopsis), QLatin1String(syntax->description),
                 QLatin1String(OptionsText), QLatin1String(ExitText));
    QString text = QStringLiteral("Usage: vyxctl [OPTIONS] COMMAND [ARGS]\n\nCommands:\n");
    for (const TCommandSyntax& c : Commands())
        text += QStringLiteral("  %1\n      %2\n")
                    .arg(QLatin1String(c.synopsis), QString::fromLatin1(c.description).section(u'\n', 0, 0));
    return text + QStringLiteral("\nConnection and the values write is not given come from the settings file.\n\n")
           + QLatin1String(OptionsText) + u'\n' + QLatin1String(ExitText);
}
