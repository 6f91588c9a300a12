// What the window does with its settings file: it shares it with vyxctl, the
// file handing out the serial numbers (while one of them has it, the other is
// refused, so no number goes to two modules; the lock of a program that was
// killed is taken over), and it never saves over a file that is no text.

#include "MainWindowTestSupport.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/VyxctlRun.h"

#include "base/AppErrors.h"
#include "files/SettingsLockU.h"
#include "files/SettingsU.h"
#include "link/CommThreadU.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QProcess>
#include <QTcpServer>

#include <memory>

namespace {
constexpr int WaitMs = 10000;

const QByteArray MasterSettings = "[ReaderData]\nMaster=1\nLastAppID=000000FF\n[Version]\nSetMaster=1\n";

QStringList MasterWrite(const TProgramFolder& folder, const QString& where)
{
    return {"--settings", folder.Path() + QLatin1String(SettingsFileName), "--lan", where, "--json", "write", "--master",
            "--app-id", "next", "--add-card", "1", "--del-card", "2"};
}
}

class TestSettingsFile : public QObject {
    Q_OBJECT
private slots:
    void windowAndVyxctlNeverShareASerialNumber();
    void lockOfAKilledVyxctlIsTakenOver();
    void fileThatIsNoTextIsNeverSavedOver();
    void typedHostIsStoredInWindows1250();
};

void TestSettingsFile::windowAndVyxctlNeverShareASerialNumber()
{
    QTemporaryDir stateDir;
    const QString moduleState = stateDir.filePath("module.ini");
    TSimProcess simulator;
    QVERIFY(simulator.Start({"--tcp", "127.0.0.1:0", "--state", moduleState}));
    TProgramFolder folder("[Communication]\nCommunicationMode=LAN\nIPAddress=127.0.0.1\nIPPort="
                          + QByteArray::number(simulator.TcpPort()) + "\n" + MasterSettings);
    auto window = std::make_unique<TMainWindow>(folder.Path());
    Control<QAction>(*window, "Start1")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(window->CommThread().IsActive(), WaitMs);
    Control<QLineEdit>(*window, "AddCardED")->setText("3");
    Control<QLineEdit>(*window, "DelCardED")->setText("4");
    Control<QAction>(*window, "WriteMI")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(*window), QStringLiteral("Data transfer OK."), WaitMs);
    const QByteArray written = ReadFile(moduleState);
    QCOMPARE(SimStateValue(written, "registers").mid(18, 11), QStringLiteral("00 00 00 FF"));

    // the window holds the file and the next number in its field
    const TCtlRun refused = RunVyxctl(MasterWrite(folder, simulator.Where()), WaitMs);
    QCOMPARE(refused.exitCode, 5);
    QVERIFY2(refused.err.contains(QStringLiteral("in use by test_settingsfile (process %1 ").arg(::getpid())),
             qPrintable(refused.err));
    QCOMPARE(ReadFile(moduleState), written);
    QVERIFY(folder.Settings().contains("LastAppID=010000ff"));
    QVERIFY_THROWS_EXCEPTION(ESettingsLocked, TMainWindow second(folder.Path()));

    window.reset();
    const TCtlRun next = RunVyxctl(MasterWrite(folder, simulator.Where()), WaitMs);
    QVERIFY2(next.exitCode == 0, qPrintable(next.err));
    QVERIFY(next.out.contains("\"serialNumber\":\"010000ff\""));
    QVERIFY(folder.Settings().contains("LastAppID=020000ff"));
}

void TestSettingsFile::lockOfAKilledVyxctlIsTakenOver()
{
    TProgramFolder folder(MasterSettings);
    QTcpServer silentModule;
    QVERIFY(silentModule.listen(QHostAddress::LocalHost));
    QProcess write;
    write.start(QStringLiteral(VYX_CTL),
                MasterWrite(folder, QStringLiteral("127.0.0.1:%1").arg(silentModule.serverPort())));
    // connected, so past taking the lock, and waiting for the first reply
    QVERIFY(silentModule.waitForNewConnection(WaitMs));
    ::kill(pid_t(write.processId()), SIGKILL);
    QVERIFY(write.waitForFinished(WaitMs));
    const QString lockFile = TSettingsLock::LockFileName(folder.Path() + QLatin1String(SettingsFileName));
    QVERIFY(QFile::exists(lockFile));

    TMainWindow window(folder.Path());
    QVERIFY(ReadFile(lockFile).startsWith(QByteArray::number(::getpid()) + '\n'));
}

void TestSettingsFile::fileThatIsNoTextIsNeverSavedOver()
{
    TProgramFolder folder;
    const QString text("[Communication]\r\nIPAddress=10.0.0.1\r\n");
    const QByteArray utf16 = "\xFF\xFE" + QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    WriteFile(folder.Path() + QLatin1String(SettingsFileName), utf16);
    QStringList reports;
    AppErrors::SetHandler([&reports](const QString& message) { reports << message; });
    {
        TMainWindow window(folder.Path());
        QCOMPARE(window.CommThread().GetIPAddress(), QString());
    }
    AppErrors::SetHandler(nullptr);
    QCOMPARE(reports.size(), 1);
    QVERIFY2(reports[0].contains("cannot be read as text"), qPrintable(reports[0]));
    QCOMPARE(folder.Settings(), utf16);
}

// Typed as a person types, letter by letter: what windows-1250 lacks is refused
// at once, the rest reaches the file as windows-1250 bytes, not as UTF-8.
void TestSettingsFile::typedHostIsStoredInWindows1250()
{
    TProgramFolder folder("[Communication]\nCommunicationMode=LAN\n");
    {
        TMainWindow window(folder.Path());
        AddSettingDialog(window);
        WhileSettingDialogOpen(window, [&](TSettingDlg& dialog) {
            auto* host = Control<QLineEdit>(dialog, "Edit2");
            host->setFocus();
            for (const QChar c : QString::fromUtf8("převodník日.local")) {
                QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
                QApplication::sendEvent(host, &press);
            }
            QCOMPARE(host->text(), QString::fromUtf8("převodník.local"));
            Control<QPushButton>(dialog, "OKBtn")->click();
        });
    }
    QVERIFY2(folder.Settings().contains("\nIPAddress=p\xF8\x65vodn\xEDk.local\n"), folder.Settings().constData());
}

QTEST_MAIN(TestSettingsFile)
#include "test_settingsfile.moc"
