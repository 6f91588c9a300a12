#include "files/CertificateTemplateU.h"

#include <QStringList>

#include <array>

namespace {
// the elements of the page, in order; the template joins them with tabs
const QStringList TemplateElements = {
    QStringLiteral(R"(<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01//EN" "http://www.w3.org/TR/html4/strict.dtd">)"),
    QStringLiteral(R"(<html lang="cs">)"),
    QStringLiteral("<head>"),
    QStringLiteral(R"(<meta http-equiv="Content-Type" content="text/html; charset=windows-1250">)"),
    QStringLiteral(R"(<meta name="keywords" content="osvědčení, jakost, kompletnost, záruční list, Kalvent">)"),
    QStringLiteral("<title>Osvědčení o jakosti a kompletnosti výrobku</title>"),
    QStringLiteral(R"(<style type="text/css">h1 {text-align: center;} h2 {text-align: center;} )"
                   "table {width: 100%%;} hr {height: 1px;} td {height: 6em;}</style>"),
    QStringLiteral("</head>"),
    QStringLiteral("<body>"),
    QStringLiteral("<h1>Osvědčení</h1>"),
    QStringLiteral("<h2>o jakosti a kompletnosti výrobku</h2>"),
    QStringLiteral("<p>Výrobce <b>Kalvent</b>, Na Výsluní 7, 123 45 Horní Lhota, IČO 00000000, "
                   "tímto potvrzuje, že vlastnosti výrobku odpovídají zaručovaným technickým podmínkám "
                   "a výrobek je kompletní dle přiložené dokumentace.</p>"),
    QStringLiteral("<table>"),
    QStringLiteral("<tr><td>Výrobek:</td><td><b>%s</b></td><td>Datum:</td><td><b>%s</b></td></tr>"),
    QStringLiteral("<tr><td>Výrobní číslo:</td><td><b>%s</b></td><td>Razítko a podpis:</td><td>&nbsp;</td></tr>"),
    QStringLiteral("</table>"),
    QStringLiteral("<hr>"),
    QStringLiteral("<h1>Záruční list</h1>"),
    QStringLiteral("<h3>Záruční podmínky</h3>"),
    QStringLiteral("<ul>"),
    QStringLiteral("<li>Držitel výrobku je při uplatňování odpovědnosti za vady povinen doložit tento list "
                   "řádně vyplněný prodejcem nebo montážní firmou.</li>"),
    QStringLiteral("<li>Dodavatel poskytuje záruční lhůtu 24 měsíců ode dne prodeje odběrateli.</li>"),
    QStringLiteral("<li>Výrobce neodpovídá za vady způsobené nesprávným použitím výrobku, nedodržením pokynů "
                   "pro obsluhu a montáž, neodbornou instalací apod.</li>"),
    QStringLiteral("<li>Není-li při opravě zjištěna závada na níž se vztahuje záruka nebo není-li výrobek označen "
                   "výrobním číslem, hradí náklady spojené s výkonem servisního technika držitel výrobku.</li>"),
    QStringLiteral("</ul>"),
    QStringLiteral("<h3>Prodejce nebo montážní organizace</h3>"),
    QStringLiteral("<p>(adresa, datum, razítko a podpis)</p>"),
    QStringLiteral("</body>"),
    QStringLiteral("</html>"),
};

// toHtmlEscaped leaves the apostrophe as it is
QString Escaped(const QString& value)
{
    return value.toHtmlEscaped().replace(QLatin1Char('\''), QLatin1String("&#39;"));
}
}

const QString CertificateTemplate = TemplateElements.join(QLatin1Char('\t'));

const QString CertificateProduct = QStringLiteral("Quor 51");

QString CertificatePage(const QString& product, const QString& date, const QString& serialNumber)
{
    const std::array<QString, 3> values = {Escaped(product), Escaped(date), Escaped(serialNumber)};
    QString page;
    page.reserve(CertificateTemplate.size() + 64);
    std::size_t next = 0;
    // One pass over the template: a value is never scanned again, so a "%"
    // typed by the user stays a percent sign.
    for (qsizetype i = 0; i < CertificateTemplate.size(); ++i) {
        const QChar c = CertificateTemplate.at(i);
        const QChar following = i + 1 < CertificateTemplate.size() ? CertificateTemplate.at(i + 1) : QChar();
        if (c == QLatin1Char('%') && following == QLatin1Char('s') && next < values.size()) {
            page += values[next++];
            ++i;
        } else if (c == QLatin1Char('%') && following == QLatin1Char('%')) {
            page += c;
            ++i;
        } else {
            page += c;
        }
    }
    return page;
}
