#pragma once
// INI files of the private-profile kind: sections in square brackets, lines of
// key=value, names matched without regard to case. Every read and write goes
// to the file itself; nothing is cached between calls.

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>

// "Unable to write to <file>", raised by a write that could not be made.
class EIniFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    static EIniFileError UnableToWrite(const QString& fileName);
    // The file is binary or UTF-16: saving over it would destroy it.
    static EIniFileError NotText(const QString& fileName);
    static EIniFileError NotInCodePage(const QString& fileName);
};

enum class TIniFileState { Missing, Text, NotText, Unreadable };

// One key to write: section, key, value.
struct TIniEntry {
    QString section;
    QString key;
    QString value;
};

class TIniFile {
public:
    explicit TIniFile(const QString& fileName);

    QString FileName() const { return FFileName; }
    TIniFileState State() const;

    // A missing or unreadable file, or one that is no text, reads as empty:
    // every key gives its default.
    // The value is the text after the first '=' without surrounding blanks,
    // at most 2047 characters; a key present with an empty value gives "".
    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    // Decimal, or hexadecimal after "$" or "0x", with an optional minus sign.
    // Missing, empty, not a number or outside the int range: the default.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    // The keys of a section in file order, each once.
    QStringList ReadSection(const QString& section) const;

    // Replaces the key's line, or adds the key at the end of its section, or
    // the section at the end of the file; every other line stays as it was.
    // The file is replaced as a whole (ReplaceFileContents), in the encoding
    // it was read in. Line breaks in the value become spaces (they would
    // start new lines). Raises EIniFileError when the file or its folder
    // cannot be written, when a value holds a character the file's encoding
    // cannot store, or when an existing file cannot be read or is no text
    // (writing it then would lose its other lines).
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);
    // Writes the entries in order, as WriteString would, in one replacement of
    // the file: a reader, or a program killed during the save, sees all old
    // values or all new ones. After the replacement the temporary files that
    // earlier saves left behind (a program killed mid-save) are removed.
    void WriteStrings(const QList<TIniEntry>& entries);

    // For tests: called with the number of entries applied so far, after each
    // one, while the file on disk is still the old one.
    void SetEntryHook(std::function<void(qsizetype applied)> hook) { FEntryHook = std::move(hook); }

private:
    QString FFileName;
    std::function<void(qsizetype)> FEntryHook;
};
