#include "tools/module-sim/SimOptions.h"

#include "tools/module-sim/SimConsole.h"
#include "tools/module-sim/SimText.h"

#include <QHostAddress>

#include <algorithm>

namespace {

struct TTcpEndpoint {
    QString host;
    quint16 port;
};

// Splits "HOST:PORT", "[V6]:PORT" or "PORT" (on defaultHost).
std::optional<TTcpEndpoint> ParseTcpEndpoint(const QString& text, const QString& defaultHost)
{
    QString host = defaultHost;
    QString port = text;
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon >= 0) {
        host = text.left(colon);
        port = text.mid(colon + 1);
        if (host.startsWith(u'[') && host.endsWith(u']'))
            host = host.mid(1, host.size() - 2);
    }
    const auto number = SimText::ParseInteger(port, 0, 65535);
    if (!number)
        return std::nullopt;
    if (host != QLatin1String("localhost") && QHostAddress(host).isNull())
        return std::nullopt;
    return TTcpEndpoint{host, static_cast<quint16>(*number)};
}

struct TParser {
    QStringList args;
    qsizetype next = 0;
    QString error;

    bool Fail(const QString& text)
    {
        if (error.isEmpty())
            error = text;
        return false;
    }
};

// Each handler reads its value (when it takes one) and stores it.
bool ApplyOption(const QString& name, const std::optional<QString>& inlineValue, TParser& p, TSimOptions& o)
{
    const auto value = [&]() -> std::optional<QString> {
        if (inlineValue)
            return inlineValue;
        if (p.next < p.args.size())
            return p.args[p.next++];
        p.Fail(QStringLiteral("%1 needs a value").arg(name));
        return std::nullopt;
    };
    const auto bad = [&](const QString& v, const QString& what) {
        return p.Fail(QStringLiteral("%1 %2: %3").arg(name, v, what));
    };
    // The value through parse, which gives nothing for a bad one; then the
    // failure says what was expected.
    const auto read = [&](auto parse, const QString& expected) {
        const std::optional<QString> v = value();
        decltype(parse(QString())) parsed;
        if (v) {
            parsed = parse(*v);
            if (!parsed)
                bad(*v, expected);
        }
        return parsed;
    };
    const auto store = [&](auto parse, auto& target, const QString& expected) {
        const auto parsed = read(parse, expected);
        if (parsed)
            target = *parsed;
        return parsed.has_value();
    };
    const auto flag = [&](bool& target) {
        if (inlineValue)
            return p.Fail(QStringLiteral("%1 takes no value").arg(name));
        target = true;
        return true;
    };
    const auto is = [&](const char* option) { return name == QLatin1String(option); };

    if (is("--tcp")) {
        const auto endpoint = read([&](const QString& v) { return ParseTcpEndpoint(v, o.tcpHost); },
                                   QStringLiteral("expected PORT or HOST:PORT with a numeric host or localhost"));
        if (!endpoint)
            return false;
        o.tcpHost = endpoint->host;
        o.tcpPort = endpoint->port;
        o.transport = ETransport::Tcp;
        return true;
    }
    if (is("--pty")) {
        o.transport = ETransport::Pty;
        if (inlineValue)
            o.ptyLink = *inlineValue;
        else if (p.next < p.args.size() && !p.args[p.next].startsWith(u'-'))
            o.ptyLink = p.args[p.next++];
        if (inlineValue && o.ptyLink.isEmpty())
            return p.Fail(QStringLiteral("--pty=: empty link path"));
        return true;
    }
    if (is("--mode")) {
        const auto mode = [](const QString& v) -> std::optional<ELineMode> {
            if (v == QLatin1String("8"))
                return ELineMode::Framed8;
            if (v == QLatin1String("9"))
                return ELineMode::NineBit;
            return std::nullopt;
        };
        return store(mode, o.mode, QStringLiteral("the line mode is 8 or 9"));
    }
    if (is("--address")) {
        const auto v = value();
        if (!v)
            return false;
        const auto address = SimText::ParseBusAddress(*v);
        if (!address)
            return bad(*v, QStringLiteral("bus addresses are 1..16"));
        if (std::find(o.addresses.begin(), o.addresses.end(), *address) != o.addresses.end())
            return bad(*v, QStringLiteral("given twice"));
        o.addresses.push_back(static_cast<std::uint8_t>(*address));
        return true;
    }
    if (is("--serial"))
        return store(SimText::ParseSerialNumber, o.serial, QStringLiteral("expected 8 hex digits"));
    if (is("--firmware"))
        return store(SimText::ParseFirmwareVersion, o.firmware, QStringLiteral("expected MAJOR.MINOR, each 0..255"));
    if (is("--state") || is("--port-file")) {
        const auto path = [](const QString& v) { return v.isEmpty() ? std::nullopt : std::optional(v); };
        return store(path, is("--state") ? o.stateFile : o.portFile, QStringLiteral("empty file name"));
    }
    if (is("--no-reply") || is("--corrupt") || is("--stray")) {
        const auto count = [](const QString& v) { return SimText::ParseInteger(v, 1, SimFaultLimits::MaxPeriod); };
        const auto period = read(count, QStringLiteral("expected a count 1..%1").arg(SimFaultLimits::MaxPeriod));
        if (!period)
            return false;
        TEveryNth& fault = is("--no-reply")  ? o.faults.noReply
                           : is("--corrupt") ? o.faults.corruptCheck
                                             : o.faults.strayByte;
        fault.SetPeriod(*period);
        return true;
    }
    if (is("--delay") || is("--split")) {
        const int max = is("--delay") ? SimFaultLimits::MaxDelayMs : SimFaultLimits::MaxGapMs;
        const auto ms = [max](const QString& v) { return SimText::ParseInteger(v, 0, max); };
        return store(ms, is("--delay") ? o.faults.delayMs : o.faults.splitGapMs,
                     QStringLiteral("milliseconds 0..%1").arg(max));
    }
    if (is("--silent")) {
        bool silent = false;
        if (!flag(silent))
            return false;
        o.faults.noReply.SetPeriod(1);
        return true;
    }
    if (is("--drop-next"))
        return flag(o.faults.dropAfterRequest);
    if (is("--assign-mode"))
        return flag(o.assignMode);
    if (is("--bare-ack"))
        return flag(o.bareAck);
    if (is("--quiet"))
        return flag(o.quiet);
    if (is("--exit-on-eof"))
        return flag(o.exitOnEof);
    if (is("--help") || is("-h"))
        return flag(o.help);
    if (is("--version"))
        return flag(o.version);
    return p.Fail(QStringLiteral("unknown option %1").arg(name));
}

} // namespace

TOptionsParse ParseSimOptions(const QStringList& arguments)
{
    TOptionsParse result;
    TSimOptions& o = result.options;
    TParser p{arguments, 0, {}};
    bool addressGiven = false;
    bool tcpGiven = false;
    bool ptyGiven = false;
    while (p.next < p.args.size()) {
        const QString arg = p.args[p.next++];
        if (!arg.startsWith(u'-')) {
            p.Fail(QStringLiteral("unexpected argument %1").arg(arg));
            break;
        }
        const qsizetype equals = arg.indexOf(u'=');
        const QString name = equals < 0 ? arg : arg.left(equals);
        const std::optional<QString> inlineValue = equals < 0 ? std::nullopt : std::optional<QString>(arg.mid(equals + 1));
        if (name == QLatin1String("--address") && !addressGiven) {
            o.addresses.clear(); // the first --address replaces the default module
            addressGiven = true;
        }
        if (!ApplyOption(name, inlineValue, p, o))
            break;
        tcpGiven = tcpGiven || name == QLatin1String("--tcp");
        ptyGiven = ptyGiven || name == QLatin1String("--pty");
    }
    if (tcpGiven && ptyGiven)
        p.Fail(QStringLiteral("--tcp and --pty exclude each other"));
    if (p.error.isEmpty() && o.transport == ETransport::Tcp && o.mode == ELineMode::NineBit)
        p.Fail(QStringLiteral("--mode 9 needs --pty: TCP carries the 8-bit framed form only"));
    result.error = p.error;
    return result;
}

std::vector<TSimModule> StartModules(const TSimOptions& options)
{
    std::vector<TSimModule> modules;
    TSerialNumber serial = options.serial;
    for (std::uint8_t address : options.addresses) {
        modules.emplace_back(address);
        modules.back().SetFirmware(options.firmware);
        modules.back().SetSerial(serial);
        serial = SimText::NextSerialNumber(serial);
    }
    return modules;
}

QString SimUsageText()
{
    return QStringLiteral(R"(Usage: vyx-module-sim [options]

A virtual reader module, or several on one bus, for the service tool. It
answers the tool's requests as a module does: over TCP in the 8-bit framed
form, or on a pseudo-terminal in the 8-bit framed or the 9-bit form.

Transport:
  --tcp [HOST:]PORT  listen for a TCP client (default 127.0.0.1:10000; port 0
                     takes a free one). One client at a time: a new
                     connection replaces the old one.
  --pty [LINK]       create a pseudo-terminal, print its path and, with LINK
                     (e.g. /tmp/ttyVYX0), a symbolic link to it, removed at exit
  --mode 8|9         line form on the pty (default 8); TCP is always 8
Start state:
  --address N        a module at bus address N (1..16); repeat for more
                     modules (default: one module at 1)
  --serial HEX8      serial number, registers 6..9 (default 0012A3FF); further
                     modules count on from it, register 6 lowest
  --firmware M.m     firmware version (default 2.5)
  --assign-mode      the first module starts in assignment mode
  --bare-ack         acknowledge without the echoed payload byte (N = 0)
  --state FILE       keep bus addresses, registers and master cards in FILE:
                     when it exists it defines the modules, and it is
                     rewritten on every change
Faults (each can be changed later on standard input):
  --silent           no replies at all
  --no-reply N       withhold every N-th reply
  --corrupt N        spoil the check word of every N-th reply
  --stray N          send a stray 00 byte before every N-th reply
  --delay MS         send each reply MS milliseconds late
  --split MS         send replies byte by byte, MS milliseconds apart
  --drop-next        end the TCP connection at the next request, unanswered
Output:
  --port-file FILE   once listening, write the TCP port or the pty path to FILE
  --quiet            no wire log
  --exit-on-eof      stop at the end of standard input (without it, standard
                     input is just no longer read: use </dev/null to run it in
                     the background)
  -h, --help         this text
  --version          the version

At start it prints "listening tcp HOST:PORT" or "listening pty PATH" (then
"link LINK"). The wire log follows: milliseconds since start, rx/tx/--, the
bytes as they crossed the line, and their meaning. SIGINT and SIGTERM stop it.

How the module behaves:
  - It answers only frames to its own bus address; frames to address 0 (the
    assignment frames) are never answered.
  - 0x51 status -> 0xB5 with 11 bytes: 0 unused (00), 1..8 the last card read
    (most significant byte first), 9 the flags, 10 the last code. Flags: bit 0
    relay, 1 input 2, 2 input 1, 3 tamper, 4 door ajar, 5 forced door, 6 as
    set, 7 a card or code was read since the previous status reply.
  - 0xFF firmware -> 0xFF major, minor. 0x53 register read -> 0xB7 register,
    value.
  - 0x52 register write, 0x00 master card (operation 0 the "+" card, 1 the
    "-" card, then 0x00 and 8 card bytes lowest first) and 0x54 lightning are
    stored or done and acknowledged with the request code + 0x64 and one
    byte: the request's first payload byte (none with --bare-ack).
  - Registers 0x00..0x0A exist; 0x06..0x09 hold the serial number. Factory
    values: 07 14 00 1E 1E 1E, the serial number, 00. A request for another
    register, an unknown command or a payload too short gets no reply.
  - Lightning pulls the relay for the strike time, register 0x00, in seconds.
  - Address assignment 00 01 00 a: every module in assignment mode takes
    address a (a = 0 means 16); the follow-up 00 01 01 01 ends assignment
    mode.
  - Set by card 00 05 02 a and 4 card bytes: every module waits for that
    card; the module that then reads a card whose 4 lowest bytes match takes
    address a (0 means 16).
  - A bad check word gets no reply. A request not complete after 100 ms of
    quiet line is given up.
  - On the 9-bit line the address byte of a reply leaves 2 ms before the
    rest. A pty carries no parity bit, so requests are read by their length.

)") + TSimConsole::HelpText() + u'\n';
}
