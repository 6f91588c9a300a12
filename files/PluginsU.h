#pragma once
// The program's own plug-ins: the web engine lives in them, so that only what
// needs it (the certificate preview, vyxctl certificate) loads it, when it is
// first needed. One way of finding them for the window and vyxctl alike.

#include <QString>
#include <QStringList>

class QObject;

// Where the program's plug-ins are taken from. A portable copy (a USB stick,
// a build tree) takes them from its own folder only, never from a folder
// above it, where anybody's library may lie. An installed program takes them
// from its installation's plug-in folder, relative to the program so that a
// moved prefix counts as much as the built-in one, then from Qt's.
QStringList PlugInFolders(const QString& programFolder, bool installed, const QStringList& qtLibraryPaths);
// Those of the running program.
QStringList ProgramPlugInFolders();

// The plug-in fileName from the first of the folders where it loads and
// declares the interface iid. Null when none does, and then reasons holds
// one line per folder, "FOLDER: why its file was not taken".
QObject* LoadOwnPlugin(const QString& fileName, const char* iid, const QStringList& folders, QString& reasons);
