#pragma once
// The settings file hands out serial numbers ("LastAppID"): two programs that
// both had it open would give two modules the same one. So the window, for as
// long as it has the file open, and vyxctl, for a command that writes it,
// each hold a lock on it: a QLockFile beside it that names the process
// holding it. A lock left by a process that has died is taken over.

#include <QString>

#include <memory>
#include <stdexcept>

class QLockFile;

// The lock is held by another process, or cannot be made at all.
class ESettingsLocked : public std::runtime_error {
public:
    struct THolder {
        QString settingsFile; // as the user knows it
        QString program;      // empty: the lock could not be made at all
        qint64 pid = 0;
        QString host;
        QString lockFile;
    };
    explicit ESettingsLocked(const THolder& holder);
    // what the message says, for a front end to word in its own language
    const THolder& Holder() const { return FHolder; }

private:
    THolder FHolder;
};

class TSettingsLock {
public:
    // Takes the lock for settingsFile, or raises ESettingsLocked naming the
    // process that holds it.
    explicit TSettingsLock(const QString& settingsFile);
    ~TSettingsLock(); // releases it

    // "VyxvozeRadavo.ini.lock" beside the file; in the system's temporary
    // folder when its own folder does not let the user create files (a shared
    // install whose settings file is writable to all).
    static QString LockFileName(const QString& settingsFile);

private:
    std::unique_ptr<QLockFile> FLock;
};
