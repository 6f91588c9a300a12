// Settings files of any bytes. Text read in its code page encodes back to the
// same bytes; the program's save brings back every value it read, also those
// it does not write, and a save it refuses leaves the file byte for byte.
#include "FuzzSupport.h"

#include "files/IniFile.h"
#include "files/SettingsU.h"
#include "files/TextFileCodec.h"

#include <QFile>
#include <QTemporaryDir>

namespace {
QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QTemporaryDir folder;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    if (IsEightBitText(bytes)) {
        const std::optional<QByteArray> again = EncodeTextFile(DecodeTextFile(bytes));
        FUZZ_CHECK(again && *again == bytes);
    }

    const QString path = folder.filePath(QStringLiteral("VyxvozeRadavo.ini"));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    }
    TIniFile ini(path);
    const TStoredSettings read = ReadSettings(ini, TSettingsDefaults());
    try {
        WriteSettings(ini, read);
    } catch (const EIniFileError&) {
        FUZZ_CHECK(ReadAll(path) == bytes);
        return 0;
    }
    FUZZ_CHECK(ReadSettings(ini, TSettingsDefaults()) == read);
    return 0;
}
