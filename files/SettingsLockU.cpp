#include "files/SettingsLockU.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include <unistd.h>

namespace {
// the lock file of a settings file found through a link is the target's
QString SettingsFilePath(const QString& settingsFile)
{
    const QFileInfo file(settingsFile);
    return file.exists() ? file.canonicalFilePath() : file.absoluteFilePath();
}

bool CanCreateFilesIn(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}
}

ESettingsLocked::ESettingsLocked(const QString& message)
    : std::runtime_error(message.toLocal8Bit().toStdString())
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
        throw ESettingsLocked(QStringLiteral("The settings file %1 is in use by %2 (process %3 on %4); "
                                             "end that program first")
                                  .arg(QDir::toNativeSeparators(settingsFile), program)
                                  .arg(pid)
                                  .arg(host));
    throw ESettingsLocked(QStringLiteral("The settings file %1 cannot be locked (%2)")
                              .arg(QDir::toNativeSeparators(settingsFile), FLock->fileName()));
}

TSettingsLock::~TSettingsLock() = default;
