#include "tools/module-sim/SimConsole.h"

#include "tools/module-sim/SimText.h"

namespace {

using TCommand = TSimConsole::TCommand;

struct TSwitch {
    const char* name;
    std::uint8_t bit;
};

const TSwitch Switches[] = {
    {"relay", SimState::Relay},   {"input1", SimState::Input1}, {"input2", SimState::Input2},
    {"tamper", SimState::Tamper}, {"ajar", SimState::DoorAjar}, {"forced", SimState::ForcedDoor},
};

// Stdin is typed by people and scripts alike: cap what one line may hold.
constexpr qsizetype MaxLineLength = 256;

TConsoleReply Ok(const QString& text)
{
    return {text};
}

TConsoleReply Error(const QString& text)
{
    TConsoleReply reply{text};
    reply.error = true;
    return reply;
}

QString Quoted(const QString& text)
{
    return u'"' + text + u'"';
}

QString OnOff(bool on)
{
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

QString Usage(const TCommand& command)
{
    QString usage = QLatin1String(command.name);
    if (*command.arguments)
        usage += u' ' + QLatin1String(command.arguments);
    return usage;
}

} // namespace

TSimConsole::TSimConsole(TSimBus& bus, TSimLink& link)
    : FBus(bus)
    , FLink(link)
{
}

// In the order help lists them.
std::span<const TSimConsole::TCommand> TSimConsole::Table()
{
    static const TCommand commands[] = {
        {"help", "", "this list", 0, 0, &TSimConsole::Help},
        {"status", "", "faults and the state of every module", 0, 0, &TSimConsole::Status},
        {"select", "ADDR", "the module that cards, codes and inputs go to", 1, 1, &TSimConsole::Select},
        {"card", "HEX", "present a card (1 to 16 hex digits)", 1, 1, &TSimConsole::Card},
        {"code", "HH", "enter a code byte on the keypad", 1, 1, &TSimConsole::Code},
        {"flags", "HH", "set all inputs at once (bits 0..6)", 1, 1, &TSimConsole::Flags},
        {"relay", "on|off", "relay (flag bit 0)", 1, 1, &TSimConsole::Switch},
        {"input2", "on|off", "input 2 (flag bit 1)", 1, 1, &TSimConsole::Switch},
        {"input1", "on|off", "input 1 (flag bit 2)", 1, 1, &TSimConsole::Switch},
        {"tamper", "on|off", "tamper (flag bit 3)", 1, 1, &TSimConsole::Switch},
        {"ajar", "on|off", "door ajar (flag bit 4)", 1, 1, &TSimConsole::Switch},
        {"forced", "on|off", "forced door (flag bit 5)", 1, 1, &TSimConsole::Switch},
        {"address", "OLD NEW", "move the module at OLD to NEW", 2, 2, &TSimConsole::Address},
        {"assign", "on|off", "assignment mode of the selected module", 1, 1, &TSimConsole::Assign},
        {"silent", "on|off", "no replies at all", 1, 1, &TSimConsole::Silent},
        {"noreply", "N|on|off", "withhold every N-th reply", 1, 1, &TSimConsole::Period},
        {"corrupt", "N|on|off", "spoil the check word of every N-th reply", 1, 1, &TSimConsole::Period},
        {"stray", "N|on|off", "send a stray 00 byte before every N-th reply", 1, 1, &TSimConsole::Period},
        {"delay", "MS", "send replies MS milliseconds late (0: off)", 1, 1, &TSimConsole::Timing},
        {"split", "MS", "send replies byte by byte, MS apart (0: off)", 1, 1, &TSimConsole::Timing},
        {"drop", "now|next", "end the TCP connection now, or at the next request", 1, 1, &TSimConsole::Drop},
        {"faults", "[off]", "show the faults, or clear them all", 0, 1, &TSimConsole::Faults},
        {"quit", "", "stop the simulator", 0, 0, &TSimConsole::Quit},
    };
    return commands;
}

const TSimConsole::TCommand* TSimConsole::Find(const QString& name)
{
    for (const TCommand& command : Table()) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

QString TSimConsole::HelpText()
{
    QString text = QStringLiteral("commands (one per line; # starts a comment):\n");
    for (const TCommand& command : Table())
        text += QStringLiteral("  %1 %2\n").arg(Usage(command), -18).arg(QLatin1String(command.help));
    text.chop(1);
    return text;
}

TConsoleReply TSimConsole::Execute(const QString& line, qint64 nowMs)
{
    if (line.size() > MaxLineLength)
        return Error(QStringLiteral("line too long (more than %1 characters): ignored").arg(MaxLineLength));
    QString text = line;
    const qsizetype comment = text.indexOf(u'#');
    if (comment >= 0)
        text.truncate(comment);
    const QStringList words = text.simplified().toLower().split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty())
        return {};
    const TCommand* command = Find(words[0]);
    if (!command)
        return Error(QStringLiteral("unknown command %1; \"help\" lists them").arg(Quoted(words[0])));
    const int args = int(words.size()) - 1;
    if (args < command->minArgs || args > command->maxArgs)
        return Error(QStringLiteral("usage: ") + Usage(*command));
    return (this->*command->run)(words, nowMs);
}

TConsoleReply TSimConsole::Help(const QStringList&, qint64)
{
    return Ok(HelpText());
}

TConsoleReply TSimConsole::Status(const QStringList&, qint64 nowMs)
{
    QStringList lines{QStringLiteral("line %1, faults: %2")
                          .arg(SimText::LineModeText(FLink.Mode()), FLink.Faults().Describe())};
    for (const TSimModule& module : FBus.Modules())
        lines << ModuleLine(module, nowMs);
    return Ok(lines.join(u'\n'));
}

QString TSimConsole::ModuleLine(const TSimModule& module, qint64 nowMs) const
{
    const QString armed = module.ArmedAddress() ? QStringLiteral("armed for %1 by card ending %2")
                                                      .arg(*module.ArmedAddress())
                                                      .arg(SimText::HexLowFirst(module.ArmedKey()))
                                                : QStringLiteral("not armed");
    return QStringLiteral("addr %1%2: flags 0x%3 card %4 code %5; fw %6.%7 serial %8; regs %9; + card %10 - card %11; assign %12, %13")
        .arg(module.Address())
        .arg(&module == &Selected() ? QStringLiteral(" (selected)") : QString())
        .arg(SimText::HexByte(module.StateFlags(nowMs)), SimText::CardText(module.LastCard()),
             SimText::HexByte(module.LastCode()))
        .arg(module.Firmware().major)
        .arg(module.Firmware().minor)
        .arg(SimText::SerialText(module.Serial()), SimText::HexBytes(module.Registers()),
             SimText::CardText(module.MasterCard(0)), SimText::CardText(module.MasterCard(1)),
             OnOff(module.AssignMode()), armed);
}

TConsoleReply TSimConsole::Select(const QStringList& words, qint64)
{
    const auto address = SimText::ParseBusAddress(words[1]);
    if (!address)
        return Error(QStringLiteral("select: %1 is not a bus address (1..16)").arg(Quoted(words[1])));
    for (std::size_t i = 0; i < FBus.Modules().size(); ++i) {
        if (FBus.Modules()[i].Address() == *address) {
            FSelected = i;
            return Ok(QStringLiteral("module at %1 selected").arg(*address));
        }
    }
    return Error(QStringLiteral("select: no module at address %1").arg(*address));
}

TConsoleReply TSimConsole::Card(const QStringList& words, qint64 nowMs)
{
    const auto card = SimText::ParseCardNumber(words[1]);
    if (!card)
        return Error(QStringLiteral("card: %1 is not 1 to 16 hex digits").arg(Quoted(words[1])));
    TSimModule& module = SelectedModule();
    const std::uint8_t old = module.Address();
    QString text = QStringLiteral("card %1 presented to the module at %2").arg(SimText::CardText(*card)).arg(old);
    if (module.PresentCard(*card)) {
        for (const QString& note : FBus.AddressTaken(module, old, QStringLiteral("service card"))) {
            FLink.Note(note, nowMs);
            text += u'\n' + note;
        }
    }
    return Ok(text);
}

TConsoleReply TSimConsole::Code(const QStringList& words, qint64)
{
    const auto code = SimText::ParseHexByte(words[1]);
    if (!code)
        return Error(QStringLiteral("code: %1 is not a hex byte").arg(Quoted(words[1])));
    SelectedModule().PresentCode(*code);
    return Ok(QStringLiteral("code %1 entered at the module at %2").arg(SimText::HexByte(*code)).arg(Selected().Address()));
}

TConsoleReply TSimConsole::Flags(const QStringList& words, qint64)
{
    const auto flags = SimText::ParseHexByte(words[1]);
    if (!flags)
        return Error(QStringLiteral("flags: %1 is not a hex byte").arg(Quoted(words[1])));
    if (*flags & SimState::CardRead)
        return Error(QStringLiteral("flags: bit 7 tells that a card was read; present a card instead"));
    SelectedModule().SetInputs(*flags);
    return Ok(QStringLiteral("inputs of the module at %1: 0x%2").arg(Selected().Address()).arg(SimText::HexByte(*flags)));
}

TConsoleReply TSimConsole::Switch(const QStringList& words, qint64)
{
    const auto on = SimText::ParseOnOff(words[1]);
    if (!on)
        return Error(QStringLiteral("%1: say on or off").arg(words[0]));
    for (const TSwitch& s : Switches) {
        if (words[0] == QLatin1String(s.name))
            SelectedModule().SetInput(s.bit, *on);
    }
    return Ok(QStringLiteral("%1 %2 at the module at %3").arg(words[0], OnOff(*on)).arg(Selected().Address()));
}

TConsoleReply TSimConsole::Address(const QStringList& words, qint64 nowMs)
{
    const auto from = SimText::ParseBusAddress(words[1]);
    const auto to = SimText::ParseBusAddress(words[2]);
    if (!from || !to)
        return Error(QStringLiteral("address: bus addresses are 1..16"));
    TSimModule* module = FBus.ModuleAt(static_cast<std::uint8_t>(*from));
    if (!module)
        return Error(QStringLiteral("address: no module at address %1").arg(*from));
    if (*to != *from && FBus.ModuleAt(static_cast<std::uint8_t>(*to)))
        return Error(QStringLiteral("address: address %1 is taken").arg(*to));
    module->SetAddress(static_cast<std::uint8_t>(*to));
    const QString text = QStringLiteral("module at %1 moved to %2").arg(*from).arg(*to);
    FLink.Note(text, nowMs);
    return Ok(text);
}

TConsoleReply TSimConsole::Assign(const QStringList& words, qint64)
{
    const auto on = SimText::ParseOnOff(words[1]);
    if (!on)
        return Error(QStringLiteral("assign: say on or off"));
    SelectedModule().SetAssignMode(*on);
    return Ok(QStringLiteral("assignment mode %1 at the module at %2").arg(OnOff(*on)).arg(Selected().Address()));
}

TConsoleReply TSimConsole::Silent(const QStringList& words, qint64)
{
    const auto on = SimText::ParseOnOff(words[1]);
    if (!on)
        return Error(QStringLiteral("silent: say on or off"));
    FLink.Faults().noReply.SetPeriod(*on ? 1 : 0);
    return Ok(QStringLiteral("faults: ") + FLink.Faults().Describe());
}

TConsoleReply TSimConsole::Period(const QStringList& words, qint64)
{
    const auto period = ParsePeriod(words[1]);
    if (!period)
        return Error(QStringLiteral("%1: say on, off or a count up to %2").arg(words[0]).arg(SimFaultLimits::MaxPeriod));
    TSimFaults& faults = FLink.Faults();
    TEveryNth& fault = words[0] == QLatin1String("noreply")   ? faults.noReply
                       : words[0] == QLatin1String("corrupt") ? faults.corruptCheck
                                                              : faults.strayByte;
    fault.SetPeriod(*period);
    return Ok(QStringLiteral("faults: ") + faults.Describe());
}

TConsoleReply TSimConsole::Timing(const QStringList& words, qint64)
{
    const bool delay = words[0] == QLatin1String("delay");
    const int max = delay ? SimFaultLimits::MaxDelayMs : SimFaultLimits::MaxGapMs;
    const auto ms = SimText::ParseInteger(words[1], 0, max);
    if (!ms)
        return Error(QStringLiteral("%1: milliseconds 0..%2").arg(words[0]).arg(max));
    TSimFaults& faults = FLink.Faults();
    (delay ? faults.delayMs : faults.splitGapMs) = *ms;
    return Ok(QStringLiteral("faults: ") + faults.Describe());
}

TConsoleReply TSimConsole::Drop(const QStringList& words, qint64)
{
    if (words[1] == QLatin1String("now")) {
        TConsoleReply reply{QStringLiteral("dropping the connection")};
        reply.dropNow = true;
        return reply;
    }
    if (words[1] == QLatin1String("next")) {
        FLink.Faults().dropAfterRequest = true;
        return Ok(QStringLiteral("faults: ") + FLink.Faults().Describe());
    }
    return Error(QStringLiteral("drop: say now or next"));
}

TConsoleReply TSimConsole::Faults(const QStringList& words, qint64)
{
    if (words.size() > 1) {
        if (words[1] != QLatin1String("off"))
            return Error(QStringLiteral("usage: faults [off]"));
        FLink.Faults().Clear();
    }
    return Ok(QStringLiteral("faults: ") + FLink.Faults().Describe());
}

TConsoleReply TSimConsole::Quit(const QStringList&, qint64)
{
    TConsoleReply reply{QStringLiteral("bye")};
    reply.quit = true;
    return reply;
}
