#pragma once
// The settings file hands out serial numbers ("LastAppID"): two programs that
// both had it open would give two modules the same one. So the window, for as
// long as it has the file open, and vyxctl, for a command that writes it,
// each hold a lock on it. It is a lock of the kernel, gone with the process
// that held it, so a killed holder leaves nothing behind and nobody can block
// the file by leaving a file of that name.

#include <QString>

#include <stdexcept>

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
    ~TSettingsLock() = default; // releases it
    TSettingsLock(const TSettingsLock&) = delete;
    TSettingsLock& operator=(const TSettingsLock&) = delete;

private:
    // Two files are locked, each where it can be had: "VyxvozeRadavo.ini.lock"
    // beside the settings file, which is never replaced (made when the folder
    // lets this user create files, else taken when another user made it), and
    // the settings file itself, which is never replaced where a user may not
    // create files in its folder (a shared install), since it is then
    // rewritten in place. Users who may and users who may not write the
    // folder so always meet at one of them.
    class THandle {
    public:
        THandle() = default;
        THandle(const THandle&) = delete;
        THandle& operator=(const THandle&) = delete;
        ~THandle(); // closing the only handle releases its lock
        int fd = -1;
    };
    THandle FLockFile;
    THandle FSettings;
};
