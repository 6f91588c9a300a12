#pragma once
// The simulator's command line: transport, start state, faults, output.

#include "tools/module-sim/SimFaults.h"
#include "tools/module-sim/SimModule.h"

#include <QStringList>

#include <vector>

enum class ETransport { Tcp, Pty };

struct TSimOptions {
    ETransport transport = ETransport::Tcp;
    QString tcpHost = QStringLiteral("127.0.0.1");
    quint16 tcpPort = 10000;
    QString ptyLink; // empty: no symbolic link
    ELineMode mode = ELineMode::Framed8;
    std::vector<std::uint8_t> addresses{1};
    TSerialNumber serial{0x00, 0x12, 0xA3, 0xFF};
    TFirmwareVersion firmware;
    bool assignMode = false;
    bool bareAck = false;
    QString stateFile;
    QString portFile;
    bool quiet = false;
    bool exitOnEof = false;
    bool help = false;
    bool version = false;
    TSimFaults faults;
};

struct TOptionsParse {
    TSimOptions options;
    QString error; // empty when the command line was good
};

// arguments: without the program name.
TOptionsParse ParseSimOptions(const QStringList& arguments);
QString SimUsageText();

// The modules --address, --serial and --firmware describe; further modules get
// the following serial numbers. The host applies --assign-mode and --bare-ack,
// also to the modules a state file defines.
std::vector<TSimModule> StartModules(const TSimOptions& options);
