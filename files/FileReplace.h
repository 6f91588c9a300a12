#pragma once
// Saving a file of the user's: its bytes are replaced whole, while the file
// keeps its owner, group and mode, and nothing else in its folder is touched.

#include <QByteArray>
#include <QString>

// The new bytes go to a temporary file of our own naming beside the file,
// which is renamed over it, so a reader or a program killed mid-save sees the
// old file or the new one. Where that cannot keep the file what it is (a
// folder the user may not create files in, a file of another owner or group
// than the user can give), the file is rewritten in place instead. A link is
// followed: its target is replaced. False when neither way worked.
bool ReplaceFileContents(const QString& fileName, const QByteArray& bytes);

// Removes the temporaries that saves of the file killed half way left behind,
// those old enough not to be a save still running. Only names of our own
// making go: a user's "VyxvozeRadavo.ini.backup" stays.
void RemoveStaleTemporaries(const QString& fileName);
