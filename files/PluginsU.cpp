#include "files/PluginsU.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPluginLoader>
#include <QStringList>

namespace {
QStringList PluginFolders()
{
    const QString programFolder = QCoreApplication::applicationDirPath();
    QStringList folders{programFolder, QDir::cleanPath(programFolder + QStringLiteral("/" VYX_PLUGIN_RELATIVE_DIR))};
    for (const QString& folder : QCoreApplication::libraryPaths()) {
        if (!folders.contains(QDir::cleanPath(folder)))
            folders << QDir::cleanPath(folder);
    }
    return folders;
}

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

QObject* LoadOwnPlugin(const QString& fileName, const char* iid, QString& reasons)
{
    QStringList lines;
    for (const QString& folder : PluginFolders()) {
        QString reason;
        if (QObject* instance = LoadFrom(folder + u'/' + fileName, QLatin1String(iid), reason))
            return instance;
        lines << QDir::toNativeSeparators(folder) + QStringLiteral(": ") + reason;
    }
    reasons = lines.join(u'\n');
    return nullptr;
}
