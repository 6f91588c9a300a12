#include "files/SettingsLockU.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// One name for one file however it is reached, also before it exists: a
// settings file that is a link locks its target.
QString SettingsFilePath(const QString& settingsFile)
{
    const QFileInfo file(settingsFile);
    if (file.exists())
        return file.canonicalFilePath();
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? file.absoluteFilePath() : QDir(folder).filePath(file.fileName());
}

bool CanCreateFilesIn(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

// The process that holds the lock on the open file, as the kernel lists it
// ("1: FLOCK  ADVISORY  WRITE 4711 08:01:131090 0 EOF"). By the inode alone:
// an overlay file system shows another device there than stat does.
std::optional<qint64> LockHolder(int handle)
{
    struct stat info {};
    QFile locks(QStringLiteral("/proc/locks"));
    if (::fstat(handle, &info) != 0 || !locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    const QByteArray inode = ':' + QByteArray::number(quint64(info.st_ino));
    for (QByteArray line = locks.readLine(); !line.isEmpty(); line = locks.readLine()) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // a process waiting for the lock has "->" before FLOCK
        if (fields.size() >= 6 && fields[1] == "FLOCK" && fields[5].endsWith(inode))
            return fields[4].toLongLong();
    }
    return std::nullopt;
}

QString ProgramName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed()) : QString();
}

// Who holds the lock, as far as the kernel says; a holder it does not name
// is "another program".
ESettingsLocked::THolder Holder(const QString& settingsFile, const QString& lockFile, int handle)
{
    const std::optional<qint64> pid = LockHolder(handle);
    const QString program = pid ? ProgramName(*pid) : QString();
    return {QDir::toNativeSeparators(settingsFile), program.isEmpty() ? QStringLiteral("another program") : program,
            pid.value_or(0), QSysInfo::machineHostName(), lockFile};
}

QString SystemErrorText(int errnoValue)
{
    return QString::fromLocal8Bit(std::strerror(errnoValue));
}
}

namespace {
QString LockMessage(const ESettingsLocked::THolder& h)
{
    if (h.program.isEmpty())
        return QStringLiteral("The settings file %1 cannot be locked (%2)").arg(h.settingsFile, h.lockFile);
    if (h.pid == 0)
        return QStringLiteral("The settings file %1 is in use by %2; end that program first").arg(h.settingsFile, h.program);
    return QStringLiteral("The settings file %1 is in use by %2 (process %3 on %4); end that program first")
        .arg(h.settingsFile, h.program)
        .arg(h.pid)
        .arg(h.host);
}
}

ESettingsLocked::ESettingsLocked(const THolder& holder)
    : std::runtime_error(LockMessage(holder).toLocal8Bit().toStdString())
    , FHolder(holder)
{
}

TSettingsLock::TSettingsLock(const QString& settingsFile)
{
    const QString path = SettingsFilePath(settingsFile);
    const QString lockName = path + QStringLiteral(".lock");
    const auto cannotLock = [&](const QString& file, int error) {
        return ESettingsLocked({QDir::toNativeSeparators(settingsFile), {}, 0, {},
                                QStringLiteral("%1: %2").arg(file, SystemErrorText(error))});
    };
    // Read-only: another user's lock file may be one this user can only read,
    // and a lock needs no more. A link planted in its place is not followed.
    const int create = CanCreateFilesIn(QFileInfo(path).absolutePath()) ? O_CREAT : 0;
    FLockFile.fd = ::open(QFile::encodeName(lockName).constData(),
                          O_RDONLY | create | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW, 0666);
    if (FLockFile.fd < 0 && errno != ENOENT)
        throw cannotLock(lockName, errno);
    // Only a regular file: opening a device has effects of its own. One this
    // user may not read is one he never writes either.
    if (QFileInfo(path).isFile())
        FSettings.fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);

    for (const THandle* handle : {&FLockFile, &FSettings}) {
        if (handle->fd < 0 || ::flock(handle->fd, LOCK_EX | LOCK_NB) == 0)
            continue;
        if (errno == EWOULDBLOCK)
            throw ESettingsLocked(Holder(settingsFile, handle == &FLockFile ? lockName : path, handle->fd));
        throw cannotLock(handle == &FLockFile ? lockName : path, errno);
    }
}

TSettingsLock::THandle::~THandle()
{
    if (fd >= 0)
        ::close(fd);
}
