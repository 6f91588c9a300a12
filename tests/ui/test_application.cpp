// The application object: an exception that escapes an event handler goes to
// the general error reporting instead of ending the program. What happens
// before the window is there: a request to end during a start-up message,
// and where the window opens.

#include "base/AppErrors.h"
#include "ports/TerminationSignals.h"
#include "ui/ApplicationU.h"
#include "ui/WindowPlacementU.h"
#include "ui/QuietTerminalU.h"

#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <stdexcept>

namespace {
class TThrowingObject : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User)
            throw std::runtime_error("Unable to write to x.ini");
        return QObject::event(e);
    }
};
}

class TestApplication : public QObject {
    Q_OBJECT
private slots:
    void escapedExceptionIsReported();
    void errorBoxCarriesTheApplicationTitle();
    void signalDuringAStartUpMessageEndsTheStart();
    void windowOpensOnAScreen_data();
    void windowOpensOnAScreen();
    // last: it quietens the whole process
    void quietTerminalKeepsTheProgramsWarnings();
};

void TestApplication::escapedExceptionIsReported()
{
    QStringList reports;
    AppErrors::SetHandler([&reports](const QString& message) { reports << message; });
    TThrowingObject target;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QTRY_COMPARE(reports, QStringList{"Unable to write to x.ini"});
    // the loop goes on after the report
    bool ranLater = false;
    QTimer::singleShot(0, [&ranLater] { ranLater = true; });
    QTRY_VERIFY(ranLater);
    AppErrors::SetHandler(nullptr);
}

void TestApplication::errorBoxCarriesTheApplicationTitle()
{
    InstallErrorBox();
    QString title;
    QString text;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            box->accept();
        }
    });
    AppErrors::Report(QStringLiteral("Unable to write to x.ini"));
    AppErrors::SetHandler(nullptr);
    QCOMPARE(title, QStringLiteral("Vyx 400 voze Radavo"));
    QCOMPARE(text, QStringLiteral("Unable to write to x.ini"));
}

// SIGTERM while the box is up: the box goes, what is reported after it goes
// to stderr, and the start is told to end.
void TestApplication::signalDuringAStartUpMessageEndsTheStart()
{
    TTerminationSignals termination;
    QString error;
    QVERIFY2(termination.Install(error), qPrintable(error));
    InstallErrorBox();
    TEndWhileStarting starting(termination);
    bool raised = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!raised && QApplication::activeModalWidget())
            raised = ::raise(SIGTERM) == 0;
    });
    poll.start(5);
    AppErrors::Report(QStringLiteral("VyxvozeRadavo.ini cannot be read as text"));
    QVERIFY(raised);
    QVERIFY(starting.EndAsked());
    // no second box to wait for
    AppErrors::Report(QStringLiteral("Unable to write to VyxvozeRadavo.ini"));
    QVERIFY(!QApplication::activeModalWidget());
    AppErrors::SetHandler(nullptr);
}

void TestApplication::windowOpensOnAScreen_data()
{
    QTest::addColumn<QPoint>("stored");
    QTest::addColumn<QPoint>("placed");
    // a 1920 x 1080 primary screen, a 1280 x 1024 one to its right; the window 400 x 300
    QTest::newRow("on the primary screen") << QPoint(455, 82) << QPoint(455, 82);
    QTest::newRow("on the second screen") << QPoint(2500, 700) << QPoint(2500, 700);
    QTest::newRow("mostly off, a grip left") << QPoint(1870, -250) << QPoint(1870, -250);
    QTest::newRow("a sliver left") << QPoint(3170, 100) << QPoint(760, 390);
    QTest::newRow("below the smaller screen") << QPoint(2500, 1050) << QPoint(760, 390);
    QTest::newRow("far off, both ways") << QPoint(2147483647, -99999999) << QPoint(760, 390);
    QTest::newRow("at the far corner") << QPoint(-2147483647 - 1, 2147483647) << QPoint(760, 390);
}

void TestApplication::windowOpensOnAScreen()
{
    QFETCH(QPoint, stored);
    QFETCH(QPoint, placed);
    const QRect primary(0, 0, 1920, 1080);
    QCOMPARE(WindowPlacement(stored, QSize(400, 300), {primary, QRect(1920, 0, 1280, 1024)}, primary), placed);
}

// Qt's messages, in its own categories and in the default one, go; the
// program's own stay; the web engine is asked for its fatal errors only.
void TestApplication::quietTerminalKeepsTheProgramsWarnings()
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox");
    QuietTerminal(false);
    QVERIFY(!QLoggingCategory::defaultCategory()->isWarningEnabled());
    QVERIFY(!QLoggingCategory("qt.qpa.xcb").isWarningEnabled());
    QVERIFY(ProgramLog().isWarningEnabled());
    QCOMPARE(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), QByteArray("--no-sandbox --log-level=3"));
}

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_application.moc"
