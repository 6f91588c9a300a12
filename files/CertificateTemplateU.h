#pragma once
// The certificate of quality and completeness with its warranty section: one
// HTML 4.01 page in windows-1250, built from a format text without widgets.

#include <QString>

// One line; three "%s" filled with the product, the date and the serial
// number in that order, "%%" standing for a percent sign.
extern const QString CertificateTemplate;

// The product the certificate is for, unless vyxctl is told another.
extern const QString CertificateProduct;

// The page for these values. They are inserted as text, HTML-escaped, so
// that what the user types never becomes markup.
QString CertificatePage(const QString& product, const QString& date, const QString& serialNumber);
