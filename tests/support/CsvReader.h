#pragma once
// RFC 4180 read back, as a spreadsheet reads it: quoted fields with doubled
// quotes, commas and line breaks, records ended by CRLF.

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

inline QList<QStringList> ParseCsv(const QString& text)
{
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                field += text[++i];
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record << std::exchange(field, {});
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            record << std::exchange(field, {});
            records << std::exchange(record, {});
            ++i;
        } else {
            field += c;
        }
    }
    return records;
}
