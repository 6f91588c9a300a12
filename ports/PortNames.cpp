// COM1..COM8 to device paths, in this one place.
//
// Default mapping (when the settings file's "Ports" section names no path):
//   COM1 -> /dev/ttyS0     the first built-in UART, as COM1 on a PC
//   COM2 -> /dev/ttyUSB0   the first USB adapter (FTDI, CP210x, CH340, PL2303);
//                          COM2 is the link's default port
//   COM3 -> /dev/ttyUSB1   the second USB adapter
//   COM4 -> /dev/ttyACM0   the first CDC-ACM adapter
//   COM5 -> /dev/ttyACM1   the second CDC-ACM adapter
//   COM6 -> /dev/ttyS1     the second built-in UART
//   COM7 -> /dev/ttyUSB2   the third USB adapter
//   COM8 -> /dev/ttyUSB3   the fourth USB adapter
// A fixed table rather than "the n-th device found": a port number must not
// move to another device when an adapter is plugged in or out. For a device
// that stays put whatever the plugging order, configure its
// /dev/serial/by-id/... path.
// COM names are matched without regard to case. A name that starts with "/" is
// a path and used as it is; any other name is taken as one under /dev
// ("ttyUSB0", and "COM9", which does not exist: errno 2, like a missing port
// on Windows).

#include "ports/PortNames.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QMutex gLock;
QMap<QString, QString> gConfigured; // gLock

const char* const kDefaults[] = {
    "/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0",
    "/dev/ttyACM1", "/dev/ttyS1", "/dev/ttyUSB2", "/dev/ttyUSB3",
};

} // namespace

void PortNames::SetConfiguredPaths(const QMap<QString, QString>& paths)
{
    QMap<QString, QString> cleaned;
    for (auto it = paths.cbegin(); it != paths.cend(); ++it) {
        const QString path = it.value().trimmed();
        if (!path.isEmpty()) // an empty entry leaves the default in force
            cleaned.insert(it.key().trimmed().toUpper(), path);
    }
    QMutexLocker lock(&gLock);
    gConfigured = cleaned;
}

QMap<QString, QString> PortNames::ConfiguredPaths()
{
    QMutexLocker lock(&gLock);
    return gConfigured;
}

QString PortNames::DevicePath(const QString& portName)
{
    if (portName.startsWith(QLatin1Char('/')))
        return portName;
    const QString key = portName.toUpper();
    {
        QMutexLocker lock(&gLock);
        const auto it = gConfigured.constFind(key);
        if (it != gConfigured.cend())
            return it.value();
    }
    for (int n = 1; n <= 8; ++n)
        if (key == QStringLiteral("COM%1").arg(n))
            return QString::fromLatin1(kDefaults[n - 1]);
    return QStringLiteral("/dev/") + portName;
}

PortNames::TDeviceAccess PortNames::DeviceAccess(const QString& path)
{
    using TKind = TDeviceAccess::TKind;
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::stat(native.constData(), &info) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return {TKind::NotPresent, {}, {}};
        return {TKind::Other, {}, qt_error_string(error)};
    }
    if (::access(native.constData(), R_OK | W_OK) == 0)
        return {};
    const int error = errno;
    if (error != EACCES)
        return {TKind::Other, {}, qt_error_string(error)};
    // Name the group only when joining it would help: one other than root's
    // that may read and write the device (dialout on Debian, uucp on Arch).
    const group* owner = getgrgid(info.st_gid);
    const bool groupMayUse = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (owner && info.st_gid != 0 && groupMayUse)
        return {TKind::NoPermission, QString::fromLocal8Bit(owner->gr_name), {}};
    return {TKind::NoPermission, {}, {}};
}
