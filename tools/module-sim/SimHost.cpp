#include "tools/module-sim/SimHost.h"

#include "tools/module-sim/SimText.h"
#include "tools/module-sim/SimTransport.h"
#include "tools/module-sim/StateFile.h"
#include "tools/module-sim/StdinLines.h"
#include "ports/TerminationSignals.h"

#include <QFile>
#include <QSaveFile>

#include <cstdio>

namespace {

void Print(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream); // tests and pipes read it line by line
}

bool WriteFile(const QString& path, const QString& text, QString& error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

TSimHost::TSimHost(const TSimOptions& options, QObject* parent)
    : QObject(parent)
    , FOptions(options)
    , FLink(FBus, options.mode)
    , FConsole(FBus, FLink)
    , FStdin(new TStdinLines(this))
    , FSignals(new TTerminationSignals(this))
{
    FClock.start();
    FLink.Faults() = options.faults;
    FOutputTimer.setSingleShot(true);
    FOutputTimer.setTimerType(Qt::PreciseTimer);
    connect(&FOutputTimer, &QTimer::timeout, this, &TSimHost::Pump);
    connect(FStdin, &TStdinLines::Line, this, &TSimHost::OnLine);
    connect(FStdin, &TStdinLines::EndOfInput, this, &TSimHost::OnEndOfInput);
    connect(FSignals, &TTerminationSignals::Received, this, &TSimHost::OnSignal);
}

TSimHost::~TSimHost() = default;

bool TSimHost::Start(QString& error)
{
    if (!LoadModules(error) || !FSignals->Install(error))
        return false;
    if (FOptions.transport == ETransport::Tcp)
        FTransport = std::make_unique<TSimTcpTransport>(FOptions.tcpHost, FOptions.tcpPort);
    else
        FTransport = std::make_unique<TSimPtyTransport>(FOptions.ptyLink);
    connect(FTransport.get(), &TSimTransport::Received, this, &TSimHost::OnReceived);
    connect(FTransport.get(), &TSimTransport::LineReset, this, [this] { FLink.ResetLine(); });
    connect(FTransport.get(), &TSimTransport::Note, this, [this](const QString& text) {
        FLink.Note(text, Now());
        PrintLog();
    });
    if (!FTransport->Open(error))
        return false;
    if (!FOptions.portFile.isEmpty() && !WriteFile(FOptions.portFile, FTransport->PortFileText() + u'\n', error))
        return false;

    QStringList addresses;
    for (const TSimModule& module : FBus.Modules())
        addresses << QString::number(module.Address());
    Print(stdout, QStringLiteral("vyx-module-sim: modules at %1, %2 line; \"help\" lists the commands")
                      .arg(addresses.join(QLatin1String(", ")), SimText::LineModeText(FOptions.mode)));
    Print(stdout, QStringLiteral("listening ") + FTransport->ListeningText());
    FStdin->Start();
    return true;
}

bool TSimHost::LoadModules(QString& error)
{
    const QString& path = FOptions.stateFile;
    if (!path.isEmpty() && QFile::exists(path)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("%1: %2").arg(path, file.errorString());
            return false;
        }
        TStateParse parsed = ParseState(QString::fromUtf8(file.read(1 << 20)), FOptions.firmware);
        if (!parsed.error.isEmpty()) {
            error = QStringLiteral("%1: %2").arg(path, parsed.error);
            return false;
        }
        FBus.Modules() = std::move(parsed.modules);
        FSavedState = FormatState(FBus.Modules());
    } else {
        FBus.Modules() = StartModules(FOptions);
    }
    if (FOptions.assignMode)
        FBus.Modules().front().SetAssignMode(true);
    for (TSimModule& module : FBus.Modules())
        module.SetBareAcknowledgement(FOptions.bareAck);
    return SaveStateIfChanged(error);
}

bool TSimHost::SaveStateIfChanged(QString& error)
{
    if (FOptions.stateFile.isEmpty())
        return true;
    const QString state = FormatState(FBus.Modules());
    if (state == FSavedState)
        return true;
    if (!WriteFile(FOptions.stateFile, state, error))
        return false;
    FSavedState = state;
    return true;
}

void TSimHost::OnReceived(const TByteString& bytes)
{
    FLink.Receive(bytes, Now());
    Pump();
}

void TSimHost::OnLine(const QString& line)
{
    const TConsoleReply reply = FConsole.Execute(line, Now());
    PrintLog(); // notes the command caused come before its reply
    if (!reply.text.isEmpty())
        Print(reply.error ? stderr : stdout, reply.text);
    if (reply.dropNow && !FTransport->DropConnection())
        Print(stderr, QStringLiteral("drop: no connection to drop"));
    Pump();
    if (reply.quit)
        emit Finished(0);
}

void TSimHost::OnEndOfInput()
{
    if (FOptions.exitOnEof)
        emit Finished(0);
}

void TSimHost::OnSignal(int signalNumber)
{
    Print(stdout, QStringLiteral("vyx-module-sim: signal %1, stopping").arg(signalNumber));
    emit Finished(0);
}

void TSimHost::Pump()
{
    const qint64 now = Now();
    // the state first: a peer that reads the file once it has the reply must
    // find what the request changed
    QString error;
    if (!SaveStateIfChanged(error))
        Print(stderr, QStringLiteral("vyx-module-sim: saving the state: ") + error);
    for (const TSimOutput& output : FLink.TakeDue(now)) {
        if (output.dropConnection) {
            if (!FTransport->DropConnection())
                FLink.Note(QStringLiteral("nothing to drop on this line"), now);
            break; // the rest belonged to the connection
        }
        FTransport->Write(output.bytes);
    }
    PrintLog();
    if (const auto due = FLink.NextDueMs())
        FOutputTimer.start(static_cast<int>(std::max<qint64>(0, *due - now)));
    else
        FOutputTimer.stop();
}

void TSimHost::PrintLog()
{
    for (const TWireLogEntry& entry : FLink.TakeLog()) {
        if (!FOptions.quiet)
            Print(stdout, FormatLogEntry(entry));
    }
}
