#pragma once
// Settings and language files are 8-bit text in windows-1250, the code page of
// the Czech texts. A file that is evidently UTF-8 (a byte-order mark, or bytes
// beyond ASCII that are valid UTF-8) is read and written as UTF-8, so that a
// file the user keeps in UTF-8 stays whole; plain ASCII is windows-1250.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

enum class TTextEncoding { teUtf8, teWindows1250 };

struct TDecodedText {
    QString Text;
    TTextEncoding Encoding = TTextEncoding::teWindows1250;
    bool HasBom = false; // a UTF-8 byte-order mark opened the file, whatever followed it
};

// False for what no editor would have saved as 8-bit text: bytes of UTF-16
// or UTF-32 (a byte-order mark, or NUL bytes) and other binary data.
bool IsEightBitText(QByteArrayView bytes);

// Decides the encoding from the bytes, or takes the one decided at an earlier
// read of the same file: windows-1250 stays, UTF-8 stays while the bytes are
// UTF-8 (else they are taken as windows-1250, which keeps every byte).
TDecodedText DecodeTextFile(const QByteArray& bytes, std::optional<TTextEncoding> kept = std::nullopt);

// In the encoding the text was read in, with the BOM it had; nothing when it
// holds a character that encoding cannot store, which is never replaced by
// another one.
std::optional<QByteArray> EncodeTextFile(const TDecodedText& text);

// Nothing when the text holds a character the code page lacks.
std::optional<QByteArray> EncodeWindows1250(const QString& text);
