// The application object: an exception that escapes an event handler goes to
// the general error reporting instead of ending the program.

#include "base/AppErrors.h"
#include "ui/ApplicationU.h"
#include "ui/QuietTerminalU.h"

#include <QMessageBox>
#include <QTest>
#include <QTimer>

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
