#pragma once
// The program numbers its serial ports COM1..COM8; this resolves such a name to
// a device path. A device path set for the name (the settings file's "Ports"
// section) wins; otherwise the default mapping documented in the README.

#include <QMap>
#include <QString>

namespace PortNames {
// Device paths configured by the user, keyed by upper-case "COM1".."COM8".
void SetConfiguredPaths(const QMap<QString, QString>& paths);
QMap<QString, QString> ConfiguredPaths();
// A name that already is a path ("/dev/...") is returned as it is.
QString DevicePath(const QString& portName);
// Whether this user can open the device now, and if not, why.
struct TDeviceAccess {
    enum class TKind {
        Usable,
        NotPresent,
        NoPermission, // group: the device's group, when joining it would help
        Other,        // detail: the system's reason
    };
    TKind kind = TKind::Usable;
    QString group;
    QString detail;
};
TDeviceAccess DeviceAccess(const QString& path);
}
