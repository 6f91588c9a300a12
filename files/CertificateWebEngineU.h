#pragma once
// The certificate as the web engine renders it, for the window's web view
// plug-in and for vyxctl alike: one page layout, so that a PDF printed from the
// window and one written on the production line are the same document, and one
// way of setting the engine up for a page that is our own local file.

class QPageLayout;
class QWebEnginePage;

// A4 portrait with 15 mm margins: the paper the certificate is designed for.
QPageLayout CertificatePageLayout();

// Before the engine's first page. Its sandbox refuses to start for root and
// takes the whole process down with it; a kiosk or production PC often runs as
// root. The page is our own local file and every remote load is refused
// (RestrictToLocalFiles), so for root the sandbox is turned off.
void PrepareWebEngine();

// No scripts, no plug-ins, and every request for anything but a local file
// refused.
void RestrictToLocalFiles(QWebEnginePage& page);
