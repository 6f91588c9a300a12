#include "files/SettingsLockU.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

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
}

namespace {
QString LockMessage(const ESettingsLocked::THolder& h)
{
    if (h.program.isEmpty())
        return QStringLiteral("The settings file %1 cannot be locked (%2)").arg(h.settingsFile, h.lockFile);
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

QString TSettingsLock::LockFileName(const QString& settingsFile)
{
    const QString path = SettingsFilePath(settingsFile);
    const QFileInfo file(path);
    if (CanCreateFilesIn(file.absolutePath()))
        return path + QStringLiteral(".lock");
    // one name per settings file, the same for every user of the machine
    const QByteArray key = QCryptographicHash::hash(QFile::encodeName(path), QCryptographicHash::Sha1).toHex().left(16);
    return QDir::temp().filePath(QStringLiteral("%1-%2.lock").arg(file.fileName(), QString::fromLatin1(key)));
}

TSettingsLock::TSettingsLock(const QString& settingsFile)
    : FLock(std::make_unique<QLockFile>(LockFileName(settingsFile)))
{
    // held for hours by a window: only a dead holder makes it stale, never its age
    FLock->setStaleLockTime(0);
    if (FLock->tryLock(0))
        return;
    qint64 pid = 0;
    QString host;
    QString program;
    if (FLock->error() == QLockFile::LockFailedError && FLock->getLockInfo(&pid, &host, &program))
        throw ESettingsLocked({QDir::toNativeSeparators(settingsFile), program, pid, host, FLock->fileName()});
    throw ESettingsLocked({QDir::toNativeSeparators(settingsFile), {}, 0, {}, FLock->fileName()});
}

TSettingsLock::~TSettingsLock() = default;
