#pragma once
// Where the program keeps its files. A program started from an install tree
// (its folder is a "bin" folder whose sibling "share/vyxvozeradavo/" holds the
// installed data, wherever the prefix was moved) is installed: its settings
// file and the user's own language files live in the user's XDG config folder,
// the shipped language files in the data folder, and the certificate page in
// a private folder of the user's. Started from anywhere else it is portable
// and keeps everything beside itself.

#include <QLocale>
#include <QString>

struct TAppFolders {
    bool installed = false;
    QString settingsFile;
    QString languageFile; // may not exist: then every text takes its default
    QString pageFolder;   // for the certificate page, with its trailing separator
};

constexpr const char* InstalledDataFolder = "share/vyxvozeradavo";
constexpr const char* UserFolderName = "VyxvozeRadavo";

// The program in programDir runs from an install tree.
bool IsInstalledProgram(const QString& programDir);

// programDir: the folder of the program file. localeName ("cs_CZ") chooses
// among the shipped language files. Makes the user's folders of an installed
// program, private to the user.
TAppFolders AppFolders(const QString& programDir, const QString& localeName = QLocale().name());

// Everything in dir, as a program run from there keeps it.
TAppFolders PortableFolders(const QString& dir);

// "default.lng" in dir, or the first "*.lng" that the directory listing returns.
QString ChooseLanguageFile(const QString& dir);
// dir holds at least one "*.lng" file.
bool HasLanguageFile(const QString& dir);
