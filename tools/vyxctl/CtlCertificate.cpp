#include "tools/vyxctl/CtlCertificate.h"

#include "tools/vyxctl/CtlCommands.h"
#include "tools/vyxctl/CtlDatabase.h"
#include "tools/vyxctl/CtlOutput.h"
#include "tools/vyxctl/CtlPdfWriter.h"
#include "tools/vyxctl/CtlSession.h"
#include "module/CardNumbersU.h"
#include "files/CertificateTemplateU.h"
#include "files/IniFile.h"
#include "files/PluginsU.h"
#include "files/SettingsU.h"
#include "files/TextFileCodec.h"

#include <QDate>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

namespace {

// The serial number the last master write used: the one before the stored next one.
QString LastWrittenSerial(const TCtlCommandLine& cl)
{
    const QString next = ReadSettings(TIniFile(SettingsFilePath(cl)), {}).lastAppID;
    if (!IsValidAppID(next))
        throw EUsage(QStringLiteral("no --serial given and the settings file holds no serial number"));
    return SerialNumberText(DecrementAppID(AppIDBytes(next)));
}

QDate DateOption(const TCtlCommandLine& cl)
{
    if (!cl.Has("--date"))
        return QDate::currentDate();
    const QDate date = QDate::fromString(cl.options["--date"], Qt::ISODate);
    if (!date.isValid())
        throw EUsage(QStringLiteral("--date: \"%1\" is not a date YYYY-MM-DD").arg(cl.options["--date"]));
    return date;
}

TPdfWriter* LoadPdfWriter(TCtlOutput& out)
{
    const QString fileName = QStringLiteral(VYX_CTL_PDF_PLUGIN);
    QString reasons;
    if (auto* writer = qobject_cast<TPdfWriter*>(LoadOwnPlugin(fileName, TPdfWriter_iid, ProgramPlugInFolders(), reasons)))
        return writer;
    out.Error(QStringLiteral("the certificate needs the web engine's plug-in %1 (package vyxvozeradavo-webengine), "
                             "which could not be loaded:").arg(fileName));
    for (const QString& reason : reasons.split(u'\n'))
        out.Error(reason);
    return nullptr;
}
}

int RunCertificate(const TCtlCommandLine& cl, TCtlOutput& out)
{
    // a named settings file is checked as every command checks it, also when --serial leaves it unused
    const bool named = !cl.settingsFile.isEmpty();
    if (named || !cl.Has("--serial"))
        CheckSettingsFile(TIniFile(SettingsFilePath(cl)), named);
    const QString outFile = cl.options.value("--out");
    if (outFile.isEmpty())
        throw EUsage(QStringLiteral("certificate needs --out FILE.pdf"));
    if (!outFile.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        throw EUsage(QStringLiteral("--out: \"%1\" does not end in .pdf, and a PDF is what is written").arg(outFile));
    const QString product = cl.options.value("--product", CertificateProduct);
    const QString given = cl.Has("--serial") ? cl.options["--serial"] : LastWrittenSerial(cl);
    if (!IsValidAppID(given))
        throw EUsage(QStringLiteral("--serial: \"%1\" is not 8 hex digits").arg(given));
    const QString serial = SerialNumberText(AppIDBytes(given));
    // the date as the certificate window shows it: the user's short format
    const std::optional<QDate> recorded = cl.Has("--date") ? std::nullopt : RecordedWriteDate(cl, serial);
    const QString date = QLocale::system().toString(recorded.value_or(DateOption(cl)), QLocale::ShortFormat);

    // the same file as the window's preview, windows-1250 as the page declares
    const std::optional<QByteArray> page = EncodeWindows1250(CertificatePage(product, date, serial));
    if (!page)
        throw EUsage(QStringLiteral("the product or the serial number holds a character windows-1250 cannot store"));
    TPdfWriter* writer = LoadPdfWriter(out);
    if (!writer)
        return CtlExit::NotRendered;
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("tmp.html")));
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly) || file.write(*page) != page->size() || !file.flush()) {
        out.Error(QStringLiteral("cannot write the page: %1").arg(file.errorString()));
        return CtlExit::NotRendered;
    }
    file.close();

    if (const QString why = writer->WritePdf(file.fileName(), outFile); !why.isEmpty()) {
        out.Error(why);
        return CtlExit::NotRendered;
    }
    out.Result(QStringLiteral("certificate for %1 written to %2").arg(serial, outFile),
               {{"serialNumber", serial}, {"product", product}, {"date", date}, {"file", outFile}});
    return CtlExit::Done;
}
