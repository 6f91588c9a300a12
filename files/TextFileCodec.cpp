#include "files/TextFileCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <optional>

namespace {
const QByteArray Utf8Bom("\xEF\xBB\xBF");
constexpr const char* Windows1250 = "windows-1250";

// A Qt built without the code page has Latin-1 stand in for it: that keeps
// every byte of the file as it was.
QString DecodeWindows1250(QByteArrayView bytes)
{
    QStringDecoder decoder(Windows1250, QStringConverter::Flag::Stateless);
    return decoder.isValid() ? QString(decoder.decode(bytes)) : QString::fromLatin1(bytes);
}
}

std::optional<QByteArray> EncodeWindows1250(const QString& text)
{
    QStringEncoder encoder(Windows1250, QStringConverter::Flag::Stateless);
    if (!encoder.isValid()) {
        const bool latin1 = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() <= 0xFF; });
        return latin1 ? std::optional(text.toLatin1()) : std::nullopt;
    }
    QByteArray bytes = encoder.encode(text);
    return encoder.hasError() ? std::nullopt : std::optional(bytes);
}

bool IsEightBitText(QByteArrayView bytes)
{
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
        return false;
    // tab, line and page breaks and the old end-of-file mark are text; other
    // control bytes, NUL first, are not
    const auto control = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 && u != '\t' && u != '\n' && u != '\v' && u != '\f' && u != '\r' && u != 0x1A;
    };
    return std::none_of(bytes.begin(), bytes.end(), control);
}

TDecodedText DecodeTextFile(const QByteArray& bytes, std::optional<TTextEncoding> kept)
{
    TDecodedText result;
    result.HasBom = bytes.startsWith(Utf8Bom);
    const QByteArrayView body = result.HasBom ? QByteArrayView(bytes).sliced(Utf8Bom.size()) : bytes;
    if (kept != TTextEncoding::teWindows1250) {
        const bool ascii = std::all_of(body.begin(), body.end(), [](char c) { return (c & 0x80) == 0; });
        // stateless: a sequence cut off at the end of the file counts as an
        // error; the file's own mark is off already, a second one is text
        QStringDecoder utf8(QStringDecoder::Utf8,
                            QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        QString text = utf8.decode(body);
        if (!utf8.hasError() && (kept || result.HasBom || !ascii)) {
            result.Text = std::move(text);
            result.Encoding = TTextEncoding::teUtf8;
            return result;
        }
    }
    result.Text = DecodeWindows1250(body);
    return result;
}

std::optional<QByteArray> EncodeTextFile(const TDecodedText& text)
{
    std::optional<QByteArray> body = text.Encoding == TTextEncoding::teWindows1250 ? EncodeWindows1250(text.Text)
                                                                                   : std::optional(text.Text.toUtf8());
    if (body && text.HasBom)
        body->prepend(Utf8Bom);
    return body;
}
