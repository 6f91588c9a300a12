#include "tools/module-sim/StateFile.h"

#include "tools/module-sim/SimText.h"

#include <QStringList>

namespace {

const QLatin1String SectionHeader("[module]");

// Empty when good, else what is wrong with the value.
QString ApplyKey(TSimModule& module, const QString& key, const QString& value)
{
    if (key == QLatin1String("address")) {
        const auto address = SimText::ParseBusAddress(value);
        if (!address)
            return QStringLiteral("address must be 1..16");
        module.SetAddress(static_cast<std::uint8_t>(*address));
        return {};
    }
    if (key == QLatin1String("registers")) {
        const QStringList bytes = value.split(u' ', Qt::SkipEmptyParts);
        if (bytes.size() != SimRegister::Count)
            return QStringLiteral("registers must be %1 hex bytes").arg(SimRegister::Count);
        for (std::uint8_t r = 0; r < SimRegister::Count; ++r) {
            const auto b = SimText::ParseHexByte(bytes[r]);
            if (!b)
                return QStringLiteral("registers: \"%1\" is not a hex byte").arg(bytes[r]);
            module.SetRegister(r, *b);
        }
        return {};
    }
    const int op = key == QLatin1String("plus-card") ? 0 : key == QLatin1String("minus-card") ? 1 : -1;
    if (op < 0)
        return QStringLiteral("unknown key \"%1\"").arg(key);
    const auto card = SimText::ParseCardNumber(value);
    if (!card)
        return QStringLiteral("%1 must be 1 to 16 hex digits").arg(key);
    module.SetMasterCard(op, *card);
    return {};
}

TStateParse Failure(int lineNumber, const QString& what)
{
    return {{}, QStringLiteral("line %1: %2").arg(lineNumber).arg(what)};
}

} // namespace

QString FormatState(const std::vector<TSimModule>& modules)
{
    QString text = QStringLiteral("# vyx-module-sim state: one [module] section per module\n");
    for (const TSimModule& module : modules) {
        text += QStringLiteral("\n[module]\naddress=%1\nregisters=%2\nplus-card=%3\nminus-card=%4\n")
                    .arg(module.Address())
                    .arg(SimText::HexBytes(module.Registers()), SimText::CardText(module.MasterCard(0)),
                         SimText::CardText(module.MasterCard(1)));
    }
    return text;
}

TStateParse ParseState(const QString& text, TFirmwareVersion firmware)
{
    std::vector<TSimModule> modules;
    const QStringList lines = text.split(u'\n');
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNumber = i + 1;
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.compare(SectionHeader, Qt::CaseInsensitive) == 0) {
            if (modules.size() == std::size_t(SimLimits::MaxAddress))
                return Failure(lineNumber, QStringLiteral("more than %1 modules").arg(SimLimits::MaxAddress));
            modules.emplace_back(1);
            modules.back().SetFirmware(firmware);
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            return Failure(lineNumber, QStringLiteral("expected key=value or [module]"));
        if (modules.empty())
            return Failure(lineNumber, QStringLiteral("key outside a [module] section"));
        const QString problem = ApplyKey(modules.back(), line.left(equals).trimmed().toLower(), line.mid(equals + 1).trimmed());
        if (!problem.isEmpty())
            return Failure(lineNumber, problem);
    }
    if (modules.empty())
        return {{}, QStringLiteral("no [module] section")};
    for (std::size_t i = 0; i < modules.size(); ++i) {
        for (std::size_t j = i + 1; j < modules.size(); ++j) {
            if (modules[i].Address() == modules[j].Address())
                return {{}, QStringLiteral("two modules at address %1").arg(modules[i].Address())};
        }
    }
    return {std::move(modules), {}};
}
