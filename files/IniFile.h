#pragma once
// INI files of the private-profile kind: sections in square brackets, lines of
// key=value, names matched without regard to case. The file is read into
// memory once and again only when it has changed on disk, so every value of
// one read comes from the same version of it; a write starts from what the
// file holds at that moment.

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <stdexcept>

// "Unable to write to <file>", raised by a write that could not be made.
class EIniFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    static EIniFileError UnableToWrite(const QString& fileName);
    // The file is binary or UTF-16: saving over it would destroy it.
    static EIniFileError NotText(const QString& fileName);
    static EIniFileError NotInCodePage(const QString& fileName);
    // A pipe, FIFO, device or folder: reading it once would use it up, or
    // wait for ever.
    static EIniFileError NotRegular(const QString& fileName);
};

enum class TIniFileState { Missing, Text, NotText, Unreadable, NotRegular };

// One key to write: section, key, value.
struct TIniEntry {
    QString section;
    QString key;
    QString value;
};

class TIniFile {
public:
    explicit TIniFile(const QString& fileName);
    TIniFile(TIniFile&&) noexcept;
    ~TIniFile();

    QString FileName() const { return FFileName; }
    TIniFileState State() const;
    // Why a file that is there cannot be taken (no regular file, no text), as
    // EIniFileError words it; empty otherwise.
    QString Refusal() const;

    // A missing or unreadable file, one that is no text or no regular file,
    // reads as empty: every key gives its default. The file's encoding (and
    // its byte-order mark) is decided at the first read that finds it and
    // kept for every later read and save: a save that takes away the only
    // bytes that told windows-1250 from UTF-8 must not change how the rest
    // of the file reads.
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
    // cannot store, or when an existing file cannot be read, is no text or no
    // regular file (writing it then would lose its other lines).
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
    struct TCache;
    const TCache& Current() const;

    QString FFileName;
    std::function<void(qsizetype)> FEntryHook;
    std::unique_ptr<TCache> FCache;
};
