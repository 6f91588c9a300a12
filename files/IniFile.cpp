#include "files/IniFile.h"

#include "files/FileReplace.h"
#include "files/TextFileCodec.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

namespace {
// the platform reader returns values through a 2048-byte buffer
constexpr qsizetype MaxValueLength = 2047;

QStringView TrimBlanks(QStringView s)
{
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (!s.isEmpty() && blank(s.front()))
        s = s.sliced(1);
    while (!s.isEmpty() && blank(s.back()))
        s.chop(1);
    return s;
}

bool SameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// "[name]" opens a section; anything after the bracket is ignored.
std::optional<QStringView> SectionName(QStringView line)
{
    line = TrimBlanks(line);
    const qsizetype close = line.indexOf(u']');
    if (!line.startsWith(u'[') || close < 0)
        return std::nullopt;
    return TrimBlanks(line.sliced(1, close - 1));
}

struct TKeyLine {
    QStringView Key;
    QStringView Value;
};

// Lines without '=', without a key, or starting with ';' carry no key.
std::optional<TKeyLine> KeyLine(QStringView line)
{
    const qsizetype equals = line.indexOf(u'=');
    if (equals < 0)
        return std::nullopt;
    const QStringView key = TrimBlanks(line.first(equals));
    if (key.isEmpty() || key.startsWith(u';'))
        return std::nullopt;
    return TKeyLine{key, TrimBlanks(line.sliced(equals + 1))};
}

std::optional<int> ParseInteger(QStringView text)
{
    const bool negative = text.startsWith(u'-');
    if (negative)
        text = text.sliced(1);
    int base = 10;
    if (text.startsWith(u'$')) {
        base = 16;
        text = text.sliced(1);
    } else if (text.startsWith(u"0x", Qt::CaseInsensitive)) {
        base = 16;
        text = text.sliced(2);
    }
    // digits only: the Qt converter would also take signs, blanks and prefixes
    const auto isDigit = [base](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'0' && u <= u'9') || (base == 16 && ((u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F')));
    };
    if (text.isEmpty() || !std::all_of(text.begin(), text.end(), isDigit))
        return std::nullopt;
    bool ok = false;
    const qlonglong magnitude = text.toLongLong(&ok, base);
    if (!ok)
        return std::nullopt;
    const qlonglong value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(value);
}

// The file as lines, with what is needed to write it back the way it was.
struct TIniDocument {
    TDecodedText Format; // encoding and BOM; the text itself is in Lines
    QStringList Lines;
    QString LineBreak = QStringLiteral("\n");

    static TIniDocument FromBytes(const QByteArray& bytes)
    {
        TIniDocument document;
        document.Format = DecodeTextFile(bytes);
        QString text = std::exchange(document.Format.Text, QString());
        if (text.contains(u"\r\n"))
            document.LineBreak = QStringLiteral("\r\n");
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
        document.Lines = text.split(u'\n');
        if (document.Lines.last().isEmpty())
            document.Lines.removeLast();
        return document;
    }

    // Nothing when a line holds a character the file's encoding cannot store.
    std::optional<QByteArray> ToBytes() const
    {
        TDecodedText text = Format;
        text.Text = Lines.isEmpty() ? QString() : Lines.join(LineBreak) + LineBreak;
        return EncodeTextFile(text);
    }

    // Index of the first line of the key in any section of that name, or -1.
    qsizetype FindKey(QStringView section, QStringView key) const
    {
        bool inSection = false;
        for (qsizetype i = 0; i < Lines.size(); ++i) {
            if (const auto name = SectionName(Lines[i]))
                inSection = SameName(*name, section);
            else if (const auto keyLine = KeyLine(Lines[i]); inSection && keyLine && SameName(keyLine->Key, key))
                return i;
        }
        return -1;
    }

    // Where a new key of the section goes: after the last non-blank line of
    // its first occurrence, so blank lines before the next section stay there.
    // -1 when the file has no such section.
    qsizetype InsertionPoint(QStringView section) const
    {
        qsizetype point = -1;
        for (qsizetype i = 0; i < Lines.size(); ++i) {
            if (const auto name = SectionName(Lines[i])) {
                if (point >= 0)
                    break;
                if (SameName(*name, section))
                    point = i + 1;
            } else if (point >= 0 && !TrimBlanks(Lines[i]).isEmpty()) {
                point = i + 1;
            }
        }
        return point;
    }

    QStringList Keys(QStringView section) const
    {
        QStringList keys;
        bool inSection = false;
        for (const QString& line : Lines) {
            if (const auto name = SectionName(line))
                inSection = SameName(*name, section);
            else if (const auto keyLine = KeyLine(line); inSection && keyLine
                     && !keys.contains(keyLine->Key, Qt::CaseInsensitive))
                keys.append(keyLine->Key.toString());
        }
        return keys;
    }
};

TIniFileState ReadBytes(const QString& fileName, QByteArray& bytes)
{
    QFile file(fileName);
    if (!file.exists())
        return TIniFileState::Missing;
    if (!file.open(QIODevice::ReadOnly))
        return TIniFileState::Unreadable;
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return TIniFileState::Unreadable;
    return IsEightBitText(bytes) ? TIniFileState::Text : TIniFileState::NotText;
}

// A file that is no text reads as empty, as a missing one does.
TIniDocument ReadDocument(const QString& fileName)
{
    QByteArray bytes;
    return ReadBytes(fileName, bytes) == TIniFileState::Text ? TIniDocument::FromBytes(bytes) : TIniDocument();
}

void SetLine(TIniDocument& document, const TIniEntry& entry)
{
    QString oneLineValue = entry.value;
    oneLineValue.replace(u'\r', u' ').replace(u'\n', u' ');
    if (const qsizetype line = document.FindKey(entry.section, entry.key); line >= 0) {
        // the key keeps its spelling in the file
        document.Lines[line] = KeyLine(document.Lines[line])->Key.toString() + u'=' + oneLineValue;
    } else if (const qsizetype point = document.InsertionPoint(entry.section); point >= 0) {
        document.Lines.insert(point, entry.key + u'=' + oneLineValue);
    } else {
        document.Lines.append(u'[' + entry.section + u']');
        document.Lines.append(entry.key + u'=' + oneLineValue);
    }
}

// A file marked read-only is kept as it is, even for a user whom the system
// would let replace it.
bool MarkedReadOnly(const QString& fileName)
{
    const QFileInfo info(fileName);
    constexpr auto anyWrite = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return info.exists() && (!info.isWritable() || !(info.permissions() & anyWrite));
}
}

EIniFileError EIniFileError::UnableToWrite(const QString& fileName)
{
    return EIniFileError(QStringLiteral("Unable to write to %1").arg(fileName).toStdString());
}

EIniFileError EIniFileError::NotText(const QString& fileName)
{
    return EIniFileError(
        QStringLiteral("%1 cannot be read as text (binary data or UTF-16); it is left as it is").arg(fileName).toStdString());
}

EIniFileError EIniFileError::NotInCodePage(const QString& fileName)
{
    return EIniFileError(
        QStringLiteral("Unable to write to %1: a value holds characters that windows-1250 cannot store").arg(fileName).toStdString());
}

TIniFile::TIniFile(const QString& fileName)
    : FFileName(fileName)
{
}

TIniFileState TIniFile::State() const
{
    QByteArray bytes;
    return ReadBytes(FFileName, bytes);
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    const TIniDocument document = ReadDocument(FFileName);
    const qsizetype line = document.FindKey(section, key);
    if (line < 0)
        return defaultValue;
    const QStringView value = KeyLine(document.Lines[line])->Value;
    return value.first(std::min(MaxValueLength, value.size())).toString();
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const
{
    return ParseInteger(ReadString(section, key, QString())).value_or(defaultValue);
}

QStringList TIniFile::ReadSection(const QString& section) const
{
    return ReadDocument(FFileName).Keys(section);
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    WriteStrings({{section, key, value}});
}

void TIniFile::WriteStrings(const QList<TIniEntry>& entries)
{
    QByteArray bytes;
    const TIniFileState state = ReadBytes(FFileName, bytes);
    if (state == TIniFileState::NotText)
        throw EIniFileError::NotText(FFileName);
    if (state == TIniFileState::Unreadable || MarkedReadOnly(FFileName))
        throw EIniFileError::UnableToWrite(FFileName);
    TIniDocument document = TIniDocument::FromBytes(bytes);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        SetLine(document, entries[i]);
        if (FEntryHook)
            FEntryHook(i + 1);
    }

    const std::optional<QByteArray> updated = document.ToBytes();
    if (!updated)
        throw EIniFileError::NotInCodePage(FFileName);
    if (!ReplaceFileContents(FFileName, *updated))
        throw EIniFileError::UnableToWrite(FFileName);
    RemoveStaleTemporaries(FFileName);
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value)
{
    WriteString(section, key, QString::number(value));
}
