// Language files of any bytes: every text of both windows comes out as one
// line of at most 2047 characters, and a tool tip made of it shows it as the
// words it is, never as markup.
#include "FuzzSupport.h"

#include "files/IniFile.h"
#include "ui/LanguageU.h"

#include <QFile>
#include <QTemporaryDir>

namespace {
void CheckTexts(const QHash<QString, QString>& texts)
{
    for (const QString& text : texts) {
        FUZZ_CHECK(text.size() <= 2047 && !text.contains(u'\n') && !text.contains(u'\r'));
        const QString tip = PlainToolTip(text);
        if (tip == text)
            continue;
        // one paragraph of the text's own characters, escaped
        const qsizetype open = tip.indexOf(u'>');
        FUZZ_CHECK(tip.startsWith(u'<') && open > 0 && tip.endsWith(QStringLiteral("</p>")));
        FUZZ_CHECK(!tip.sliced(open + 1, tip.size() - open - 1 - 4).contains(u'<'));
    }
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("cs.lng"));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                   && file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    }
    const TIniFile ini(path);
    const QHash<QString, QString> texts = ReadLanguageTexts(ini, MainWindowLanguageKeys());
    CheckTexts(texts);
    CheckTexts(ReadLanguageTexts(ini, SettingDialogLanguageKeys()));
    const TIndicatorHints hints = IndicatorHints(texts);
    CheckTexts({{QString(), hints.Hint(hints.tamper, true)}});
    return 0;
}
