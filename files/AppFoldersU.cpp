#include "files/AppFoldersU.h"

#include "files/SettingsU.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
constexpr char EnglishLanguageFile[] = "en.lng";

// The language files come from Windows, where the search ignores case, so
// "CESKY.LNG" counts too. Files only: a folder named "x.lng" would leave
// every text at its default.
QStringList LanguageFiles(const QString& dir)
{
    return QDir(dir).entryList({QStringLiteral("*.lng")}, QDir::Files | QDir::Hidden, QDir::Unsorted);
}

QString WithSeparator(const QString& dir)
{
    return QDir::cleanPath(dir) + u'/';
}

// A folder only the user can enter: the certificate page may name a customer.
QString PrivateFolder(const QString& dir)
{
    QDir().mkpath(dir);
    QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return WithSeparator(dir);
}

// The user's own language file wins; then the shipped one of the user's
// language, then the English one.
QString InstalledLanguageFile(const QString& userDir, const QString& dataDir, const QString& localeName)
{
    if (HasLanguageFile(userDir))
        return ChooseLanguageFile(userDir);
    QStringList shipped{QString::fromLatin1(EnglishLanguageFile)};
    if (const QString language = localeName.section(u'_', 0, 0); !language.isEmpty())
        shipped.prepend(language + QStringLiteral(".lng"));
    for (const QString& name : shipped) {
        if (QFileInfo(dataDir + name).isFile())
            return dataDir + name;
    }
    if (HasLanguageFile(dataDir))
        return ChooseLanguageFile(dataDir);
    return ChooseLanguageFile(userDir);
}

QString PageFolder()
{
    // the runtime folder is private and emptied at logout; the cache folder
    // stands in where a session has none
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString base = !runtime.isEmpty() && QFileInfo(runtime).isDir()
                             ? runtime
                             : QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return PrivateFolder(base + u'/' + QLatin1String(UserFolderName));
}
}

TAppFolders PortableFolders(const QString& dir)
{
    const QString d = WithSeparator(dir);
    return {false, d + QLatin1String(SettingsFileName), ChooseLanguageFile(d), d};
}

namespace {
QString InstalledDataDir(const QString& programDir)
{
    return WithSeparator(programDir + QStringLiteral("/../") + QLatin1String(InstalledDataFolder));
}
}

bool IsInstalledProgram(const QString& programDir)
{
    return QDir(programDir).dirName() == QLatin1String("bin") && QFileInfo(InstalledDataDir(programDir)).isDir();
}

TAppFolders AppFolders(const QString& programDir, const QString& localeName)
{
    if (!IsInstalledProgram(programDir))
        return PortableFolders(programDir);
    const QString dataDir = InstalledDataDir(programDir);

    const QString userDir = PrivateFolder(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                                          + u'/' + QLatin1String(UserFolderName));
    return {true, userDir + QLatin1String(SettingsFileName), InstalledLanguageFile(userDir, dataDir, localeName),
            PageFolder()};
}

QString ChooseLanguageFile(const QString& dir)
{
    const QStringList found = LanguageFiles(dir);
    return QDir(dir).filePath(found.isEmpty() ? QStringLiteral("default.lng") : found.first());
}

bool HasLanguageFile(const QString& dir)
{
    return !LanguageFiles(dir).isEmpty();
}
