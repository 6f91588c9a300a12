#pragma once
// The certificate window's view of a page. The web engine behind it is large
// (hundreds of megabytes mapped, a render process): it lives in a plug-in that
// is loaded only when the certificate window is first shown, so that the
// program starts as fast and as small as without it. Printing, which needs
// Qt's print support library, lives there too.

#include <QtPlugin>

#include <functional>

class QPrinter;
class QString;
class QWidget;

class TPageView {
public:
    virtual ~TPageView() = default;
    // the view itself, a child of the window that asked for it
    virtual QWidget* Widget() = 0;
    virtual void Navigate(const QString& localPath) = 0;
    // The system print dialog: the printer chosen, kept by the view with the
    // user's choices for the next print; null when the user cancels. Printing
    // to a file offers fileName unless the user chose a printer last time.
    virtual QPrinter* ChoosePrinter(QWidget* dialogParent, const QString& fileName) = 0;
    // Prints the page shown; done(success) runs once the page has gone to the
    // printer. The printer must live until then.
    virtual void Print(QPrinter* printer, std::function<void(bool success)> done) = 0;
};

class TPageViewFactory {
public:
    virtual ~TPageViewFactory() = default;
    virtual TPageView* CreatePageView(QWidget* parent) = 0;
};

// The number changes with every change of TPageView or TPageViewFactory: a
// plug-in built for another version is then refused by name instead of being
// called through a table of functions that no longer matches.
#define TPageViewFactory_iid "cz.kalvent.vyxvozeradavo.PageViewFactory/3"
Q_DECLARE_INTERFACE(TPageViewFactory, TPageViewFactory_iid)
