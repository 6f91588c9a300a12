#pragma once
// A pseudo-terminal pair standing in for the module's serial line. The
// simulator holds the master; the tool opens the slave like a serial port.
// The POSIX calls live in PseudoTerminal.cpp.

#include <QString>

class TPseudoTerminal {
public:
    TPseudoTerminal() = default;
    ~TPseudoTerminal();
    TPseudoTerminal(const TPseudoTerminal&) = delete;
    TPseudoTerminal& operator=(const TPseudoTerminal&) = delete;

    // Opens the pair with the slave in raw mode; with linkPath, a symbolic
    // link to the slave is made there (a stale link is replaced).
    bool Open(const QString& linkPath, QString& error);

    int MasterFd() const { return FMaster; }
    QString SlavePath() const { return FSlavePath; }
    QString LinkPath() const { return FLinkPath; }

    // Non-blocking. Read: bytes read, 0 when nothing is waiting, -1 on error
    // (error set). Write: bytes taken, which is fewer when the line is full.
    qint64 Read(char* buffer, qint64 size, QString& error);
    qint64 Write(const char* data, qint64 size, QString& error);

private:
    void Close();

    int FMaster = -1;
    int FSlave = -1; // held open so that clients closing it cause no hangup
    QString FSlavePath;
    QString FLinkPath;
};
