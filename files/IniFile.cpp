#include "files/IniFile.h"

#include "files/FileReplace.h"
#include "files/TextFileCodec.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <limits>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

    static TIniDocument FromBytes(const QByteArray& bytes, std::optional<TTextEncoding> kept)
    {
        TIniDocument document;
        document.Format = DecodeTextFile(bytes, kept);
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

// Which version of the file was read: a save replaces it (another inode) or
// rewrites it in place (another size or time).
struct TFileVersion {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    explicit TFileVersion(const struct stat& info)
        : device(info.st_dev)
        , inode(info.st_ino)
        , size(info.st_size)
        , modified(info.st_mtim)
        , changed(info.st_ctim)
    {
    }
    bool operator==(const TFileVersion& other) const
    {
        const auto same = [](const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; };
        return device == other.device && inode == other.inode && size == other.size && same(modified, other.modified)
               && same(changed, other.changed);
    }
};

std::optional<TFileVersion> VersionOf(const QByteArray& nativePath, TIniFileState& state)
{
    struct stat info {};
    if (::stat(nativePath.constData(), &info) != 0) {
        state = errno == ENOENT || errno == ENOTDIR ? TIniFileState::Missing : TIniFileState::Unreadable;
        return std::nullopt;
    }
    // looked at before it is opened: opening a FIFO waits for a writer, a
    // serial device raises its lines
    if (!S_ISREG(info.st_mode)) {
        state = TIniFileState::NotRegular;
        return std::nullopt;
    }
    return TFileVersion(info);
}

// The whole file in one pass; the version is the one of the file read.
TIniFileState ReadBytes(const QByteArray& nativePath, QByteArray& bytes, std::optional<TFileVersion>& version)
{
    TIniFileState state = TIniFileState::Text;
    version = VersionOf(nativePath, state);
    if (!version)
        return state;
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT ? TIniFileState::Missing : TIniFileState::Unreadable;
    struct stat info {};
    // replaced by something else between the look and the open
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return TIniFileState::NotRegular;
    }
    version = TFileVersion(info);
    bytes.clear();
    char buffer[16384];
    bool failed = false;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0)
            bytes.append(buffer, got);
        else if (got < 0 && errno == EINTR)
            continue;
        failed = got < 0;
        if (got <= 0)
            break;
    }
    ::close(fd);
    if (failed)
        return TIniFileState::Unreadable;
    return IsEightBitText(bytes) ? TIniFileState::Text : TIniFileState::NotText;
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

EIniFileError EIniFileError::NotRegular(const QString& fileName)
{
    return EIniFileError(
        QStringLiteral("%1 is no regular file (a pipe, device or folder); it is not read").arg(fileName).toStdString());
}

// The file as last read, and the encoding decided at its first read.
struct TIniFile::TCache {
    bool read = false;
    TIniFileState state = TIniFileState::Missing;
    std::optional<TFileVersion> version;
    TIniDocument document;
    std::optional<TTextEncoding> encoding;
    time_t readAt = 0;

    void Read(const QString& fileName)
    {
        QByteArray bytes;
        readAt = ::time(nullptr);
        state = ReadBytes(QFile::encodeName(fileName), bytes, version);
        read = true;
        document = state == TIniFileState::Text ? TIniDocument::FromBytes(bytes, encoding) : TIniDocument();
        if (state == TIniFileState::Text)
            encoding = document.Format.Encoding;
        else if (encoding)
            document.Format.Encoding = *encoding; // a file deleted since is made again as it was
    }

    // File times move in clock ticks: a file changed in the second it was
    // read may change again without its version showing it.
    bool Settled() const { return !version || version->modified.tv_sec + 1 < readAt; }
};

TIniFile::TIniFile(const QString& fileName)
    : FFileName(fileName)
    , FCache(std::make_unique<TCache>())
{
}

TIniFile::TIniFile(TIniFile&&) noexcept = default;
TIniFile::~TIniFile() = default;

const TIniFile::TCache& TIniFile::Current() const
{
    // only a file that changed on disk is read again
    TIniFileState state = TIniFileState::Text;
    if (!FCache->read || !FCache->Settled() || VersionOf(QFile::encodeName(FFileName), state) != FCache->version)
        FCache->Read(FFileName);
    return *FCache;
}

TIniFileState TIniFile::State() const
{
    return Current().state;
}

QString TIniFile::Refusal() const
{
    switch (State()) {
    case TIniFileState::NotText:
        return QString::fromLocal8Bit(EIniFileError::NotText(FFileName).what());
    case TIniFileState::NotRegular:
        return QString::fromLocal8Bit(EIniFileError::NotRegular(FFileName).what());
    default:
        return QString();
    }
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    const TIniDocument& document = Current().document;
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
    return Current().document.Keys(section);
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    WriteStrings({{section, key, value}});
}

void TIniFile::WriteStrings(const QList<TIniEntry>& entries)
{
    // what the file holds now, also when another program saved it since
    FCache->Read(FFileName);
    switch (FCache->state) {
    case TIniFileState::NotText:
        throw EIniFileError::NotText(FFileName);
    case TIniFileState::NotRegular:
    case TIniFileState::Unreadable:
        throw EIniFileError::UnableToWrite(FFileName);
    case TIniFileState::Missing:
    case TIniFileState::Text:
        break;
    }
    if (MarkedReadOnly(FFileName))
        throw EIniFileError::UnableToWrite(FFileName);
    TIniDocument document = FCache->document;
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
    // read back at the next use, in the encoding kept
    FCache->read = false;
    RemoveStaleTemporaries(FFileName);
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value)
{
    WriteString(section, key, QString::number(value));
}
