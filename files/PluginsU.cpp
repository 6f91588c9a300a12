#include "files/PluginsU.h"

#include "files/AppFoldersU.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPluginLoader>
#include <QStringList>

namespace {
QObject* LoadFrom(const QString& path, const QString& iid, QString& reason)
{
    if (!QFileInfo::exists(path)) {
        reason = QStringLiteral("not there");
        return nullptr;
    }
    QPluginLoader loader(path);
    QObject* instance = loader.instance();
    if (!instance) {
        reason = loader.errorString();
        return nullptr;
    }
    const QString declared = loader.metaData().value(QLatin1String("IID")).toString();
    if (declared == iid)
        return instance;
    // Loaded, but made for another version of this program: calling into it
    // would call the wrong functions.
    reason = QStringLiteral("a plug-in of another version (%1, this program needs %2)").arg(declared, iid);
    loader.unload();
    return nullptr;
}
}

QStringList PlugInFolders(const QString& programFolder, bool installed, const QStringList& qtLibraryPaths)
{
    if (!installed)
        return {QDir::cleanPath(programFolder)};
    QStringList folders{QDir::cleanPath(programFolder + QStringLiteral("/" VYX_PLUGIN_RELATIVE_DIR))};
    for (const QString& folder : qtLibraryPaths) {
        if (!folders.contains(QDir::cleanPath(folder)))
            folders << QDir::cleanPath(folder);
    }
    return folders;
}

QStringList ProgramPlugInFolders()
{
    const QString programFolder = QCoreApplication::applicationDirPath();
    return PlugInFolders(programFolder, IsInstalledProgram(programFolder), QCoreApplication::libraryPaths());
}

QObject* LoadOwnPlugin(const QString& fileName, const char* iid, const QStringList& folders, QString& reasons)
{
    QStringList lines;
    for (const QString& folder : folders) {
        QString reason;
        if (QObject* instance = LoadFrom(folder + u'/' + fileName, QLatin1String(iid), reason))
            return instance;
        lines << QDir::toNativeSeparators(folder) + QStringLiteral(": ") + reason;
    }
    reasons = lines.join(u'\n');
    return nullptr;
}
