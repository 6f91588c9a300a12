#include "files/FileReplace.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// ".VyxvozeRadavo.ini.vyxsave-" and six letters or digits: a hidden name no
// user gives a copy of the file
constexpr char TemporaryMark[] = ".vyxsave-";
// One older than this is no longer being written.
constexpr qint64 StaleTemporarySeconds = 60;

QString TemporaryPrefix(const QFileInfo& file)
{
    return u'.' + file.fileName() + QLatin1String(TemporaryMark);
}

mode_t CurrentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

bool WriteAll(QFile& file, const QByteArray& bytes)
{
    return file.write(bytes) == bytes.size() && file.flush() && ::fsync(file.handle()) == 0;
}

// The only way to save a file whose folder is not ours, and it keeps the
// file's owner, group and mode. Written over the old contents rather than
// after a truncation, which a kill in between would leave empty: shorter new
// contents are padded with blank lines, which a reader passes over, to the
// old length, and the file is cut to its new length only once they are in.
bool RewriteInPlace(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadWrite))
        return false;
    QByteArray padded = bytes;
    if (padded.size() < file.size())
        padded.append(QByteArray(file.size() - padded.size(), '\n'));
    return WriteAll(file, padded) && file.resize(bytes.size()) && ::fsync(file.handle()) == 0;
}

bool FolderWritable(const QFileInfo& file)
{
    return ::access(QFile::encodeName(file.absolutePath()).constData(), W_OK | X_OK) == 0;
}

// The temporary takes what the old file has; a new file what the user's
// umask gives (the temporary itself starts private to the user).
bool TakeOwnerAndMode(int fd, const struct stat* old)
{
    if (!old)
        return ::fchmod(fd, 0666 & ~CurrentUmask()) == 0;
    if ((old->st_uid != ::geteuid() || old->st_gid != ::getegid()) && ::fchown(fd, old->st_uid, old->st_gid) != 0)
        return false;
    return ::fchmod(fd, old->st_mode & 07777) == 0;
}
}

bool ReplaceFileContents(const QString& fileName, const QByteArray& bytes)
{
    const QFileInfo given(fileName);
    const QString path = given.isSymLink() && given.exists() ? given.canonicalFilePath() : given.absoluteFilePath();
    const QByteArray nativePath = QFile::encodeName(path);
    struct stat old {};
    const bool exists = ::stat(nativePath.constData(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return false;

    const QFileInfo target(path);
    QTemporaryFile temporary(target.dir().filePath(TemporaryPrefix(target) + QStringLiteral("XXXXXX")));
    if (!temporary.open())
        return !FolderWritable(target) && RewriteInPlace(path, bytes);
    if (!TakeOwnerAndMode(temporary.handle(), exists ? &old : nullptr))
        return RewriteInPlace(path, bytes);
    if (!WriteAll(temporary, bytes))
        return false;
    if (::rename(QFile::encodeName(temporary.fileName()).constData(), nativePath.constData()) != 0)
        return false;
    temporary.setAutoRemove(false);
    return true;
}

void RemoveStaleTemporaries(const QString& fileName)
{
    const QFileInfo file(fileName);
    const QRegularExpression ours(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(TemporaryPrefix(file)) + QStringLiteral("[A-Za-z0-9]{6}")));
    const QDateTime staleBefore = QDateTime::currentDateTimeUtc().addSecs(-StaleTemporarySeconds);
    const QFileInfoList candidates = file.dir().entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo& candidate : candidates)
        if (ours.match(candidate.fileName()).hasMatch() && candidate.lastModified().toUTC() < staleBefore)
            QFile::remove(candidate.filePath());
}
