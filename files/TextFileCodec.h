#pragma once
// Settings and language files are 8-bit text: UTF-8 when the bytes are valid
// UTF-8, otherwise windows-1250, the code page of the Czech texts. A file is
// written back in the encoding it was read in.

#include <QByteArray>
#include <QString>

#include <optional>

enum class TTextEncoding { teUtf8, teWindows1250 };

struct TDecodedText {
    QString Text;
    TTextEncoding Encoding = TTextEncoding::teUtf8;
    bool HasBom = false; // a UTF-8 byte-order mark opened the file
};

TDecodedText DecodeTextFile(const QByteArray& bytes);

// Text in windows-1250 that holds a character the code page lacks is written
// as UTF-8 instead, whole, so that nothing is lost; the next read then sees
// valid UTF-8. A BOM is written only for UTF-8.
QByteArray EncodeTextFile(const TDecodedText& text);

// Nothing when the text holds a character the code page lacks.
std::optional<QByteArray> EncodeWindows1250(const QString& text);
