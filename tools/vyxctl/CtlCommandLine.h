#pragma once
// vyxctl's command line: the connection options before or after the command,
// the command's own options and arguments after it. Every mistake is a usage
// error that names what was wrong.

#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>

// A bad command line or value; vyxctl exits with 2.
class EUsage : public std::runtime_error {
public:
    explicit EUsage(const QString& message);
};

struct TCtlCommandLine {
    QString settingsFile;      // empty: the file the window uses
    QString lan;               // HOST:PORT
    QString serial;            // "COMn" or a device path
    std::optional<int> mode;   // 8 or 9
    std::optional<int> address; // 1..16
    std::optional<int> replyTimeoutMs;
    QString database;          // a postgresql:// URL
    bool json = false;
    bool verbose = false;      // the libraries' own logging on stderr too
    bool help = false;         // with a command: that command's help
    bool version = false;
    bool trace = false;        // each frame on stderr
    QString command;
    QMap<QString, QString> options; // "--strike-time" -> "9"; a flag maps to ""
    QStringList arguments;          // the command's positional arguments

    bool Has(const QString& option) const { return options.contains(option); }
};

// arguments: without the program name. Raises EUsage. With --help or
// --version the rest of the line is not checked.
TCtlCommandLine ParseCommandLine(const QStringList& arguments);

// A whole number from min to max, or EUsage naming what.
int WholeNumber(const QString& what, const QString& text, int min, int max);

// The command's own help, or the whole program's for an empty or unknown one.
QString UsageText(const QString& command = {});
