#pragma once
// The program's own plug-ins: the web engine lives in them, so that only what
// needs it (the certificate preview, vyxctl certificate) loads it, when it is
// first needed. One way of finding them for the window and vyxctl alike.

#include <QString>

class QObject;

// The plug-in fileName from the first folder where it loads and declares the
// interface iid: beside the program first (the build tree, a copied program),
// then the folder it is installed to, relative to the program's own folder so
// that a package's prefix counts as much as a relocated one, then Qt's
// library paths. Null when none does, and then reasons holds one line per
// folder, "FOLDER: why its file was not taken".
QObject* LoadOwnPlugin(const QString& fileName, const char* iid, QString& reasons);
