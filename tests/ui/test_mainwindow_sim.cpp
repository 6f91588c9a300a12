// The main window against the module simulator, a process of its own on a
// free TCP port, driven through its standard input.

#include "MainWindowTestSupport.h"

#include "link/CommThreadU.h"
#include "session/ModuleSessionU.h"
#include "ports/ClientSocket.h"
#include "ports/TerminationSignals.h"
#include "tests/support/DeadServer.h"
#include "tests/support/FastTiming.h"
#include "tests/support/SimProcess.h"
#include "ui/ApplicationU.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimer>

#include <memory>

namespace {
constexpr int LinkWaitMs = 5000;

QByteArray LanSettings(int port)
{
    return "[Communication]\nCommunicationMode=LAN\nIPAddress=127.0.0.1\nIPPort=" + QByteArray::number(port)
           + "\n[Version]\nSetMaster=1\n";
}
}

class TestMainWindowSim : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startConnectsAndReadsModuleInformation();
    void presentedCardAndInputsShow();
    void silentModuleTimesOut();
    void corruptedReplyTurnsLampYellow();
    void stopGreysLampAtOnceAndBlanksOnClose();
    void closingWhileRunningNeedsNoSecondAction();
    void terminationClosesLinkThenSavesSettings();
    void lampToolTipSaysWhyTheLinkFailed();
    void stopAbandonsAConnectionBeingMade();
    void addressChangeRequeuesInformationRequests();
    void typedAddressIsUsedAtOnce_data();
    void typedAddressIsUsedAtOnce();
    void typingSixteenNeverVisitsOne();
    void replacedModuleShowsItsOwnSerial();
    void certificateNamesTheModuleOnTheBus();
    void setByCardEndsWithOneBeepOnModuleAnswer();
    void writeGuardInMasterMode_data();
    void writeGuardInMasterMode();
    void settingDialogChoosesTheNetworkForGood();

private:
    void StartWindow();
    void Connect();

    std::unique_ptr<TSimProcess> FSimulator;
    std::unique_ptr<TProgramFolder> FFolder;
    std::unique_ptr<TMainWindow> FWindow;
    int FBeeps = 0;
};

void TestMainWindowSim::init()
{
    FSimulator = std::make_unique<TSimProcess>();
    QVERIFY(FSimulator->Start({"--tcp", "127.0.0.1:0"}));
    FFolder = std::make_unique<TProgramFolder>(LanSettings(FSimulator->TcpPort()));
    StartWindow();
}

void TestMainWindowSim::cleanup()
{
    FWindow.reset();
    FFolder.reset();
    FSimulator.reset();
}

void TestMainWindowSim::StartWindow()
{
    FBeeps = 0;
    FWindow = std::make_unique<TMainWindow>(FFolder->Path());
    FWindow->Session().SetTiming(FastTiming());
    AddSettingDialog(*FWindow);
    FWindow->SetBeepHook([this](const char*) { ++FBeeps; });
    FWindow->show();
}

void TestMainWindowSim::Connect()
{
    Control<QAction>(*FWindow, "Start1")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(*FWindow), QStringLiteral("Connected."), LinkWaitMs);
}

void TestMainWindowSim::startConnectsAndReadsModuleInformation()
{
    TMainWindow& window = *FWindow;
    Connect();
    QCOMPARE(LampBrush(window), clLime);
    QCOMPARE(Control<QAction>(window, "Start1")->text(), QStringLiteral("Stop"));
    QVERIFY(Control<QAction>(window, "WriteMI")->isEnabled());
    QVERIFY(!Control<QAction>(window, "Nastaven1")->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(window, "Label1")->text(), QStringLiteral("fw: 2.5"), LinkWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(window, "Label2")->text(), QStringLiteral("sn: 0012A3FF"), LinkWaitMs);
    FSimulator->Command("silent on");
    QTRY_COMPARE_WITH_TIMEOUT(LampBrush(window), clRed, LinkWaitMs);
}

void TestMainWindowSim::presentedCardAndInputsShow()
{
    TMainWindow& window = *FWindow;
    Connect();
    FSimulator->Command("code 0C");
    FSimulator->Command("relay on");
    FSimulator->Command("tamper on");
    FSimulator->Command("card 0011223344556677");
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(window, "CardLB")->text(), QStringLiteral("0011223344556677"),
                              LinkWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(Control<TLMDTechnicalLine>(window, "Relay1")->FillColor(), clRed, LinkWaitMs);
    QCOMPARE(Control<TShape>(window, "Tamper")->Brush(), clYellow);
    QCOMPARE(Control<TLMDTechnicalLine>(window, "Input1")->FillColor(), clLime);
    QCOMPARE(TextColor(window, "CardLB"), VclColor(clNavy));
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(window, "Label2")->text(), QStringLiteral("sn: 0012A3FF"), LinkWaitMs);
    SaveRendering(window, "mainwindow-running-card");
}

void TestMainWindowSim::silentModuleTimesOut()
{
    TMainWindow& window = *FWindow;
    Connect();
    // the information requests first: a queued request that times out is a failed transfer
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(window, "Label2")->text(), QStringLiteral("sn: 0012A3FF"), LinkWaitMs);
    FSimulator->Command("silent on");
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("Timed out!"), LinkWaitMs);
    QCOMPARE(LampBrush(window), clRed);
    QCOMPARE(Indicators(window), AllIndicators(clBtnFace));
    FSimulator->Command("silent off");
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("Connected."), LinkWaitMs);
}

void TestMainWindowSim::corruptedReplyTurnsLampYellow()
{
    TMainWindow& window = *FWindow;
    Connect();
    FSimulator->Command("corrupt on");
    QTRY_COMPARE_WITH_TIMEOUT(LampBrush(window), clYellow, LinkWaitMs);
    QCOMPARE(Indicators(window), AllIndicators(clBtnFace));
}

void TestMainWindowSim::stopGreysLampAtOnceAndBlanksOnClose()
{
    TMainWindow& window = *FWindow;
    Connect();
    window.Start1Click();
    QCOMPARE(LampBrush(window), clBtnFace);
    QTRY_VERIFY_WITH_TIMEOUT(!window.CommThread().IsActive(), LinkWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(Control<QAction>(window, "Start1")->text(), QStringLiteral("Start"), LinkWaitMs);
    QCOMPARE(Indicators(window), AllIndicators(clWhite));
    QCOMPARE(TextColor(window, "CardLB"), VclColor(clGreyedOnWhite));
    QCOMPARE(Control<QLabel>(window, "Label1")->text(), QStringLiteral("fw: NA"));
    QVERIFY(!Control<QAction>(window, "WriteMI")->isEnabled());
}

void TestMainWindowSim::closingWhileRunningNeedsNoSecondAction()
{
    TMainWindow& window = *FWindow;
    Connect();
    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), LinkWaitMs);
    QVERIFY(!window.CommThread().IsActive());
}

// SIGTERM as at logout, with the link open: the window closes as from its
// close box, the link first, and the settings are saved when it goes.
void TestMainWindowSim::terminationClosesLinkThenSavesSettings()
{
    TTerminationSignals termination;
    QString error;
    QVERIFY2(termination.Install(error), qPrintable(error));
    CloseOnRequestToEnd(*FWindow, termination);
    Connect();
    Control<QSpinBox>(*FWindow, "StrikeTimeSE")->setValue(42);
    QVERIFY(!FFolder->Settings().contains("StrikeTime"));

    QCOMPARE(::kill(::getpid(), SIGTERM), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!FWindow->isVisible(), LinkWaitMs);
    QVERIFY(!FWindow->CommThread().IsActive());
    QCOMPARE(Control<QAction>(*FWindow, "Start1")->text(), QStringLiteral("Start"));
    FWindow.reset();
    const QByteArray saved = FFolder->Settings();
    QVERIFY2(saved.contains("StrikeTime=42") && saved.contains("CommunicationMode=LAN"), saved);
}

void TestMainWindowSim::lampToolTipSaysWhyTheLinkFailed()
{
    auto* lamp = Control<TShape>(*FWindow, "S1");
    Connect();
    const QString linkInUse = QStringLiteral("TCP 127.0.0.1:%1").arg(FSimulator->TcpPort());
    QCOMPARE(lamp->toolTip(), linkInUse);
    // the module server goes away: its end of the connection is closed
    const int port = FSimulator->TcpPort();
    FSimulator.reset();
    QTRY_COMPARE_WITH_TIMEOUT(lamp->toolTip(), QStringLiteral("Connection closed by the device server"), LinkWaitMs);
    // stopped, and it stays so: no time-out of the closed link turns it red
    QCOMPARE(LampBrush(*FWindow), clBtnFace);
    QTest::qWait(1000);
    QCOMPARE(LampBrush(*FWindow), clBtnFace);
    QCOMPARE(StatusText(*FWindow), QStringLiteral("Closed by the device server"));

    Control<QAction>(*FWindow, "Start1")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(lamp->toolTip(), QStringLiteral("127.0.0.1:%1 refused the connection").arg(port),
                              LinkWaitMs);
    QCOMPARE(StatusText(*FWindow), QStringLiteral("127.0.0.1:%1 refused").arg(port));

    FSimulator = std::make_unique<TSimProcess>();
    QVERIFY(FSimulator->Start({"--tcp", QStringLiteral("127.0.0.1:%1").arg(port)}));
    Connect();
    QCOMPARE(lamp->toolTip(), linkInUse);
}

// A device server that does not answer: Stop during the connect gives it up
// for good, and the settings wait for it.
void TestMainWindowSim::stopAbandonsAConnectionBeingMade()
{
    TMainWindow& window = *FWindow;
    TDeadServer dead;
    QVERIFY(dead.Filled());
    window.CommThread().SetIPPort(dead.Port());
    auto* start = Control<QAction>(window, "Start1");
    auto* settings = Control<QAction>(window, "Nastaven1");
    start->trigger();
    QCOMPARE(start->text(), QStringLiteral("Stop"));
    QVERIFY(!settings->isEnabled());
    QTest::qWait(1000);
    start->trigger();
    QCOMPARE(start->text(), QStringLiteral("Start"));
    QCOMPARE(LampBrush(window), clBtnFace);
    QVERIFY(settings->isEnabled());
    // an attempt that fails on its own leaves the window stopped as well
    window.CommThread().ClientSocket().SetConnectTimeout(300);
    start->trigger();
    QTRY_COMPARE(start->text(), QStringLiteral("Start"));
    QVERIFY(settings->isEnabled());
    // the server takes connections from now on: an attempt still retrying would get through
    dead.Revive();
    QTest::qWait(1500);
    QVERIFY(!dead.Reached());
    QVERIFY(!window.CommThread().IsActive());
    QCOMPARE(start->text(), QStringLiteral("Start"));
}

void TestMainWindowSim::addressChangeRequeuesInformationRequests()
{
    TMainWindow& window = *FWindow;
    Connect();
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(window, "Label2")->text(), QStringLiteral("sn: 0012A3FF"), LinkWaitMs);
    FSimulator->Command("address 1 2");
    Control<QSpinBox>(window, "SetAddressSE")->setValue(2);
    window.SetAddressSEChange();
    QCOMPARE(Control<QLabel>(window, "Label1")->text(), QStringLiteral("fw: NA"));
    QCOMPARE(Control<QLabel>(window, "Label2")->text(), QStringLiteral("sn: NA"));
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(window, "Label1")->text(), QStringLiteral("fw: 2.5"), LinkWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(window, "Label2")->text(), QStringLiteral("sn: 0012A3FF"), LinkWaitMs);
    QCOMPARE(int(window.CommThread().HWAddress), 2);
}

void TestMainWindowSim::typedAddressIsUsedAtOnce_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("action"); // a control to click, or the Return key
    QTest::addColumn<QString>("sent");   // its frame in the wire log, %1 the address
    QTest::addColumn<int>("reads");      // the module there asked who it is
    // Set: once the address is applied, once more when the assignment is done
    QTest::newRow("Set") << "5" << "SetAddressBtn" << "assign address %1\n" << 2;
    QTest::newRow("Set by card") << "6" << "Button1" << "set address %1 by card" << 1;
    QTest::newRow("Write") << "12" << "WriteMI" << "reg write addr %1 0x00=" << 1;
    QTest::newRow("Return") << "4" << "Return" << "firmware request addr %1\n" << 1;
}

// Digits typed and, with no Return, the action at once: its frame goes to the
// typed address once, none to the old one; Return queues nothing more.
void TestMainWindowSim::typedAddressIsUsedAtOnce()
{
    QFETCH(QString, typed);
    QFETCH(QString, action);
    QFETCH(QString, sent);
    QFETCH(int, reads);
    FWindow.reset();
    FSimulator = std::make_unique<TSimProcess>();
    QVERIFY(FSimulator->Start({"--tcp", "127.0.0.1:0"}, true));
    FFolder = std::make_unique<TProgramFolder>(LanSettings(FSimulator->TcpPort()));
    StartWindow();
    Connect();
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(*FWindow, "Label2")->text(), QStringLiteral("sn: 0012A3FF"), LinkWaitMs);
    FSimulator->Command("address 1 " + typed.toLatin1());
    const qsizetype before = FSimulator->Output().size();
    auto* field = Control<QSpinBox>(*FWindow, "SetAddressSE");
    field->selectAll();
    QTest::keyClicks(field, typed);
    if (action == "Return")
        QTest::keyClick(field, Qt::Key_Return);
    else if (action == "WriteMI")
        Control<QAction>(*FWindow, "WriteMI")->trigger();
    else
        QTest::mouseClick(Control<QPushButton>(*FWindow, action.toLatin1()), Qt::LeftButton);
    // up to a poll after the frame: the queue ran empty, so a second one would be in
    const QByteArray frame = sent.arg(typed).toLatin1();
    auto log = [&] { return FSimulator->Output().mid(before); };
    QTRY_VERIFY_WITH_TIMEOUT(log().indexOf("poll addr " + typed.toLatin1() + '\n', log().indexOf(frame)) > 0, LinkWaitMs);
    QCOMPARE(log().count(frame), 1);
    QVERIFY2(!log().contains(sent.arg(1).toLatin1()), log());
    // from the first frame to the typed address on, none to 1
    QVERIFY2(!log().mid(log().indexOf("addr " + typed.toLatin1())).contains("addr 1\n"), log());
    // the module there is asked who it is (after a Write, once it is written)
    QTRY_COMPARE_WITH_TIMEOUT(log().count("firmware request addr " + typed.toLatin1() + '\n'), reads, LinkWaitMs);
}

// From 5 to 16 by typing: the 1 on the way is never an address. Nothing goes
// to the module at 1, and its identity is never shown for 16.
void TestMainWindowSim::typingSixteenNeverVisitsOne()
{
    FWindow.reset();
    FSimulator = std::make_unique<TSimProcess>();
    QVERIFY(FSimulator->Start({"--tcp", "127.0.0.1:0", "--address", "1", "--address", "5"}, true));
    FFolder = std::make_unique<TProgramFolder>(LanSettings(FSimulator->TcpPort()) + "[Communication]\nHWAddress=5\n");
    StartWindow();
    Connect();
    auto* serial = Control<QLabel>(*FWindow, "Label2");
    QTRY_COMPARE_WITH_TIMEOUT(serial->text(), QStringLiteral("sn: 0112A3FF"), LinkWaitMs);
    QStringList shown;
    connect(&FWindow->Session(), &TModuleSession::IdentityChanged, this, [&] { shown << serial->text(); });
    const qsizetype before = FSimulator->Output().size();
    auto* field = Control<QSpinBox>(*FWindow, "SetAddressSE");
    field->selectAll();
    QTest::keyClick(field, Qt::Key_1);
    QTest::qWait(200); // a technician's pause between two digits
    QTest::keyClick(field, Qt::Key_6);
    QTRY_COMPARE_WITH_TIMEOUT(int(FWindow->CommThread().HWAddress), 16, LinkWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(*FWindow), QStringLiteral("Timed out!"), LinkWaitMs);
    const QByteArray log = FSimulator->Output().mid(before);
    QVERIFY2(!log.contains("addr 1\n") && !log.contains("addr 1 "), log);
    QVERIFY2(log.contains("firmware request addr 16\n"), log);
    QVERIFY2(!shown.contains(QStringLiteral("sn: 0012A3FF")), qPrintable(shown.join(", ")));
    QCOMPARE(serial->text(), QStringLiteral("sn: NA"));
    QCOMPARE(Control<QLabel>(*FWindow, "Label1")->text(), QStringLiteral("fw: NA"));
}

// Another module answers at the address after a silence: what the window
// says is that module's, read again, not the one before.
void TestMainWindowSim::replacedModuleShowsItsOwnSerial()
{
    FWindow.reset();
    FSimulator = std::make_unique<TSimProcess>();
    QVERIFY(FSimulator->Start({"--tcp", "127.0.0.1:0", "--address", "1", "--address", "2"}));
    FFolder = std::make_unique<TProgramFolder>(LanSettings(FSimulator->TcpPort()));
    StartWindow();
    Connect();
    auto* serial = Control<QLabel>(*FWindow, "Label2");
    QTRY_COMPARE_WITH_TIMEOUT(serial->text(), QStringLiteral("sn: 0012A3FF"), LinkWaitMs);
    FSimulator->Command("silent on");
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(*FWindow), QStringLiteral("Timed out!"), LinkWaitMs);
    FSimulator->Command("address 1 3");
    FSimulator->Command("address 2 1");
    FSimulator->Command("silent off");
    QTRY_COMPARE_WITH_TIMEOUT(serial->text(), QStringLiteral("sn: 0112A3FF"), LinkWaitMs);
}

// The certificate waits for a serial number read from the module at the
// selected address; after a master Write it names the number written, as
// the module gives it back.
void TestMainWindowSim::certificateNamesTheModuleOnTheBus()
{
    TMainWindow& window = *FWindow;
    auto* print = Control<QPushButton>(window, "PrintBtn");
    Control<QCheckBox>(window, "MasterReaderCB")->setChecked(true);
    Control<QLineEdit>(window, "AddCardED")->setText("1234");
    Control<QLineEdit>(window, "DelCardED")->setText("5678");
    Control<QLineEdit>(window, "AppIDED")->setText("0A0B0C0D");
    QVERIFY(!print->isEnabled()); // no link: no module to certify
    Connect();
    QTRY_VERIFY_WITH_TIMEOUT(print->isEnabled(), LinkWaitMs);
    QCOMPARE(window.CertificateSerialNumber(), QStringLiteral("0012A3FF"));

    window.WriteMIClick();
    QVERIFY(!print->isEnabled()); // the module is being written: its number is not known yet
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("Data transfer OK."), LinkWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(print->isEnabled(), LinkWaitMs);
    QCOMPARE(window.CertificateSerialNumber(), QStringLiteral("0A0B0C0D"));
    QCOMPARE(Control<QLineEdit>(window, "AppIDED")->text(), QStringLiteral("0b0b0c0d"));

}

void TestMainWindowSim::setByCardEndsWithOneBeepOnModuleAnswer()
{
    TMainWindow& window = *FWindow;
    Connect();
    window.Button1Click();
    QCOMPARE(Control<TColorBevel>(window, "ColorBevel3")->BriteColor(), clRed);
    QTRY_VERIFY_WITH_TIMEOUT(!Control<QTimer>(window, "SetAddressTimer")->isActive(), LinkWaitMs);
    QCOMPARE(Control<TColorBevel>(window, "ColorBevel3")->BriteColor(), clBtnFace);
    QTRY_COMPARE_WITH_TIMEOUT(FBeeps, 1, LinkWaitMs);
    // a further SlowTimer tick must not beep again
    QSignalSpy tick(Control<QTimer>(window, "SlowTimer"), &QTimer::timeout);
    QVERIFY(tick.wait(LinkWaitMs));
    QCOMPARE(FBeeps, 1);
}

void TestMainWindowSim::writeGuardInMasterMode_data()
{
    QTest::addColumn<QString>("addCard");
    QTest::addColumn<QString>("delCard");
    QTest::addColumn<QString>("appID");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("masterFeature");
    QTest::newRow("valid") << "1234" << "5678" << "000000FF" << true << true;
    QTest::newRow("differ in case only") << "1a" << "1A" << "000000ff" << true << true;
    QTest::newRow("equal cards") << "12" << "12" << "000000FF" << false << true;
    QTest::newRow("empty card") << "" << "12" << "000000FF" << false << true;
    QTest::newRow("not hex") << "12G" << "12" << "000000FF" << false << true;
    QTest::newRow("AppID of 7 digits") << "1" << "2" << "000000F" << false << true;
    QTest::newRow("ticked but hidden") << "12" << "12" << "" << true << false;
}

void TestMainWindowSim::writeGuardInMasterMode()
{
    QFETCH(QString, addCard);
    QFETCH(QString, delCard);
    QFETCH(QString, appID);
    QFETCH(bool, enabled);
    QFETCH(bool, masterFeature);
    if (!masterFeature) {
        FWindow.reset();
        FFolder = std::make_unique<TProgramFolder>(
            LanSettings(FSimulator->TcpPort()).replace("SetMaster=1", "SetMaster=0"));
        StartWindow();
    }
    TMainWindow& window = *FWindow;
    Connect();
    Control<QLineEdit>(window, "AddCardED")->setText(addCard);
    Control<QLineEdit>(window, "DelCardED")->setText(delCard);
    Control<QLineEdit>(window, "AppIDED")->setText(appID);
    auto* write = Control<QAction>(window, "WriteMI");
    QVERIFY(write->isEnabled()); // the fields do not count while the box is unticked
    Control<QCheckBox>(window, "MasterReaderCB")->setChecked(true);
    QCOMPARE(write->isEnabled(), enabled);
    if (enabled) {
        Control<QComboBox>(window, "InputFunctionCB")->setCurrentIndex(-1);
        QCOMPARE(write->isEnabled(), !masterFeature);
    }
}

void TestMainWindowSim::settingDialogChoosesTheNetworkForGood()
{
    FWindow.reset();
    FFolder = std::make_unique<TProgramFolder>(); // no settings: the serial line
    StartWindow();
    QVERIFY(!FWindow->CommThread().LANMode());
    const QString port = QString::number(FSimulator->TcpPort());
    WhileSettingDialogOpen(*FWindow, [&](TSettingDlg& dialog) {
        Control<QRadioButton>(dialog, "NetworkRadioButton")->click();
        Control<QLineEdit>(dialog, "Edit2")->setText("127.0.0.1");
        Control<QLineEdit>(dialog, "Edit3")->setText(port);
        Control<QLineEdit>(dialog, "Edit1")->setText("12ab");
        Control<QPushButton>(dialog, "OKBtn")->click();
    });
    Connect();
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(*FWindow, "Label1")->text(), QStringLiteral("fw: 2.5"), LinkWaitMs);

    // while the link is open the dialog stays shut, also when asked directly
    auto* dialog = FWindow->findChild<TSettingDlg*>();
    QSignalSpy finished(dialog, &QDialog::finished);
    QTimer::singleShot(0, dialog, &QDialog::reject);
    FWindow->Nastaven1Click();
    QCOMPARE(finished.count(), 0);

    QVERIFY(!FWindow->close());
    QTRY_VERIFY_WITH_TIMEOUT(!FWindow->isVisible(), LinkWaitMs);
    FWindow.reset();
    const QByteArray saved = FFolder->Settings();
    for (const QString& line : {QStringLiteral("CommunicationMode=LAN"), QStringLiteral("IPAddress=127.0.0.1"),
                                "IPPort=" + port, QStringLiteral("DataBits=8"),
                                QStringLiteral("ServiceCard=00000000000012AB")})
        QVERIFY2(saved.contains(line.toLatin1()), qPrintable(line));

    StartWindow();
    Connect();
}

QTEST_MAIN(TestMainWindowSim)
#include "test_mainwindow_sim.moc"
