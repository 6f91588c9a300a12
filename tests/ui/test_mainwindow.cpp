// The main window without a module: start-up state, the decoding of replies
// handed to it, the set-by-card mode, the request bodies and the settings.

#include "tests/support/AsNobody.h"
#include "MainWindowTestSupport.h"
#include "tests/support/TestFiles.h"

#include "base/AppErrors.h"
#include "files/IniFile.h"
#include "files/SettingsU.h"
#include "link/CommThreadU.h"
#include "ports/PortNames.h"
#include "ports/TerminationSignals.h"
#include "ui/ApplicationU.h"
#include "module/ModuleRequestsU.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QScopeGuard>
#include <QPushButton>
#include <QSpinBox>
#include <QScreen>
#include <QTemporaryFile>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const QByteArray MasterOn = "[Version]\nSetMaster=1\n";

// A reply frame as the link hands it over: the check word is not looked at.
TCanonicalFrame Reply(std::uint8_t code, const QList<std::uint8_t>& payload, std::uint8_t from = 1)
{
    TCanonicalFrame frame = BytesOf({from, static_cast<std::uint8_t>(payload.size()), code});
    for (std::uint8_t b : payload)
        frame.append(static_cast<char>(b));
    return frame + BytesOf({0x00, 0x00});
}

TCanonicalFrame StatusReply(std::uint8_t flags, const QList<std::uint8_t>& card = QList<std::uint8_t>(8, 0),
                            std::uint8_t code = 0)
{
    return Reply(0xB5, QList<std::uint8_t>{0x00} + card + QList<std::uint8_t>{flags, code});
}

TCanonicalFrame RegisterValue(std::uint8_t reg, std::uint8_t value, std::uint8_t from = 1)
{
    return Reply(0xB7, {reg, value}, from);
}
}

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void startsStoppedWithEnglishTextsAndBlankIndicators();
    void masterFeatureDecidesRowsAndHeight_data();
    void masterFeatureDecidesRowsAndHeight();
    void masterFieldsFollowTheirCheckBox();

    void statusFlagsDriveIndicators_data();
    void statusFlagsDriveIndicators();
    void statusReplyWithoutCardBitKeepsCard();
    void firmwareReply_data();
    void firmwareReply();
    void serialNumberRunsThroughDots();
    void serialNumberOfAllFFStaysDotted();
    void shortRepliesUseOnlyWhatIsThere();
    void transferMessagesSurviveGoodReplies();
    void statusWordingDoesNotDecideState();
    void timeOutAndCheckErrorShowOnLampAndIndicators();
    void failureIsSaidWhereTheTechnicianLooks_data();
    void failureIsSaidWhereTheTechnicianLooks();
    void idleTipsNameTheLink();

    void setByCardEndsWithOneBeep();
    void setByCardSecondPressCancels();
    void addressChangeResetsInformation();

    void requestBodies();
    void setByCardFrame_data();
    void setByCardFrame();

    void settingsAreAppliedAndSavedBack();
    void failedSaveIsReportedNotFatal_data();
    void failedSaveIsReportedNotFatal();
    void positionOffEveryScreenIsCentred();
    void languageTextsShowAsWritten();

    void renderings();
};

void TestMainWindow::startsStoppedWithEnglishTextsAndBlankIndicators()
{
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    QCOMPARE(window.windowTitle(), QStringLiteral("Vyx voze Radavo 2.2"));
    QCOMPARE(Control<QAction>(window, "Start1")->text(), QStringLiteral("Start"));
    QCOMPARE(Control<QLabel>(window, "Label9")->text(), QStringLiteral("HW Address"));
    auto* functions = Control<QComboBox>(window, "InputFunctionCB");
    QCOMPARE(functions->count(), 2);
    QCOMPARE(functions->itemText(1), QStringLiteral("Door + REX button"));
    QCOMPARE(functions->currentIndex(), 0);

    QCOMPARE(Indicators(window), AllIndicators(clWhite));
    QCOMPARE(TextColor(window, "CardLB"), VclColor(clGreyedOnWhite));
    QCOMPARE(LampBrush(window), clBtnFace);
    QCOMPARE(Control<QLabel>(window, "Label1")->text(), QStringLiteral("fw: NA"));

    QVERIFY(!Control<QAction>(window, "WriteMI")->isEnabled());
    QVERIFY(Control<QAction>(window, "Nastaven1")->isEnabled());
    QVERIFY(!Control<QPushButton>(window, "Button1")->isEnabled());
    QVERIFY(!Control<QToolButton>(window, "SpeedButton1")->isEnabled());
    QVERIFY(Control<QTimer>(window, "SlowTimer")->isActive());
    QVERIFY(!Control<QTimer>(window, "Timer1")->isActive());
}

void TestMainWindow::masterFeatureDecidesRowsAndHeight_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("clientHeight");
    QTest::newRow("no file") << QByteArray() << false << TMainWindow::ClientHeightWithoutMaster;
    QTest::newRow("SetMaster=0") << QByteArray("[Version]\nSetMaster=0\n") << false
                                 << TMainWindow::ClientHeightWithoutMaster;
    QTest::newRow("SetMaster=1") << MasterOn << true << TMainWindow::ClientHeight;
    QTest::newRow("SetMaster=7") << QByteArray("[Version]\nSetMaster=7\n") << true << TMainWindow::ClientHeight;
}

void TestMainWindow::masterFeatureDecidesRowsAndHeight()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, shown);
    QFETCH(int, clientHeight);
    TProgramFolder folder(settings);
    TMainWindow window(folder.Path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.centralWidget()->size(), QSize(TMainWindow::ClientWidth, clientHeight));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    for (const char* name : {"MasterReaderCB", "AddCardED", "DelCardED", "AppIDED", "SetAddCardBtn", "SetDelCardBtn",
                             "SetAddressBtn", "PrintBtn"})
        QCOMPARE(Control<QWidget>(window, name)->isVisible(), shown);
    QVERIFY(Control<QWidget>(window, "InputFunctionCB")->isVisible());
    auto* statusBar = Control<QWidget>(window, "FriendlyStatusBar1");
    QCOMPARE(statusBar->geometry().bottom(), clientHeight - 1);
}

void TestMainWindow::masterFieldsFollowTheirCheckBox()
{
    TProgramFolder folder(MasterOn);
    TMainWindow window(folder.Path());
    auto* master = Control<QCheckBox>(window, "MasterReaderCB");
    const QList<const char*> fields = {"AddCardED", "DelCardED", "AppIDED", "SetAddCardBtn", "SetDelCardBtn",
                                       "AddCardLB", "DelCardLB", "AppIDLB"};
    for (const char* name : fields)
        QVERIFY(!Control<QWidget>(window, name)->isEnabled());
    master->setChecked(true);
    for (const char* name : fields)
        QVERIFY(Control<QWidget>(window, name)->isEnabled());
    // no module has told its serial number: there is nothing to certify
    QVERIFY(!Control<QWidget>(window, "PrintBtn")->isEnabled());
    // the link is closed: the master guard never opens the write
    QVERIFY(!Control<QAction>(window, "WriteMI")->isEnabled());

    window.CommThread().OnReply(nullptr, StatusReply(0x80, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}));
    Control<QPushButton>(window, "SetAddCardBtn")->click();
    QCOMPARE(Control<QLineEdit>(window, "AddCardED")->text(), QStringLiteral("0011223344556677"));
}

void TestMainWindow::statusFlagsDriveIndicators_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QList<TColor>>("expected"); // Relay1, Input1, Input2, Tamper, DoorAjar, ForcedDoor
    QTest::newRow("0x81 relay") << 0x81 << QList<TColor>{clRed, clLime, clLime, clBtnFace, clBtnFace, clBtnFace};
    QTest::newRow("0x3E all but relay") << 0x3E << QList<TColor>{clLime, clRed, clRed, clYellow, clYellow, clRed};
    QTest::newRow("0x02 is input 2") << 0x02 << QList<TColor>{clLime, clLime, clRed, clBtnFace, clBtnFace, clBtnFace};
    QTest::newRow("0x04 is input 1") << 0x04 << QList<TColor>{clLime, clRed, clLime, clBtnFace, clBtnFace, clBtnFace};
    QTest::newRow("0x40 not decoded") << 0x40
                                      << QList<TColor>{clLime, clLime, clLime, clBtnFace, clBtnFace, clBtnFace};
}

void TestMainWindow::statusFlagsDriveIndicators()
{
    QFETCH(int, flags);
    QFETCH(QList<TColor>, expected);
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    window.CommThread().OnReply(nullptr, StatusReply(std::uint8_t(flags), {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77},
                                                0x0C));
    QCOMPARE(Indicators(window), expected);
    QCOMPARE(TextColor(window, "CardLB"), VclColor(clNavy));
    QCOMPARE(TextColor(window, "Code"), VclColor(clNavy));
    const bool cardRead = flags & 0x80;
    QCOMPARE(Control<QLabel>(window, "CardLB")->text(),
             cardRead ? QStringLiteral("0011223344556677") : QStringLiteral("0000000000000000"));
    QCOMPARE(Control<QLabel>(window, "Code")->text(), cardRead ? QStringLiteral("0C") : QStringLiteral("00"));
    QCOMPARE(StatusText(window), QStringLiteral("Connected."));
    QCOMPARE(LampBrush(window), clLime);
}

void TestMainWindow::statusReplyWithoutCardBitKeepsCard()
{
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    window.CommThread().OnReply(nullptr, StatusReply(0x80, {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0xAB}, 0xFE));
    window.CommThread().OnReply(nullptr, StatusReply(0x00, QList<std::uint8_t>(8, 0x55), 0x11));
    QCOMPARE(Control<QLabel>(window, "CardLB")->text(), QStringLiteral("DEADBEEF010203AB"));
    QCOMPARE(Control<QLabel>(window, "Code")->text(), QStringLiteral("FE"));
}

void TestMainWindow::firmwareReply_data()
{
    QTest::addColumn<TCanonicalFrame>("reply");
    QTest::addColumn<QString>("expected");
    QTest::newRow("2.5") << Reply(0xFF, {2, 5}) << "fw: 2.5";
    QTest::newRow("1.10") << Reply(0xFF, {1, 10}) << "fw: 1.10";
    QTest::newRow("0.0") << Reply(0xFF, {0, 0}) << "fw: 0.0";
    QTest::newRow("255.255") << Reply(0xFF, {255, 255}) << "fw: 255.255";
    QTest::newRow("minor missing") << Reply(0xFF, {3}) << "fw: NA";
    QTest::newRow("other code") << Reply(0xFE, {2, 5}) << "fw: NA";
}

void TestMainWindow::firmwareReply()
{
    QFETCH(TCanonicalFrame, reply);
    QFETCH(QString, expected);
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    window.CommThread().OnReply(nullptr, reply);
    QCOMPARE(Control<QLabel>(window, "Label1")->text(), expected);
    QCOMPARE(LampBrush(window), clLime);
}

void TestMainWindow::serialNumberRunsThroughDots()
{
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    auto* label = Control<QLabel>(window, "Label2");
    const QList<std::uint8_t> bytes = {0x00, 0x12, 0xA3, 0xFF};
    const QStringList dots = {"sn: .", "sn: ..", "sn: ...", "sn: 0012A3FF"};
    for (int i = 0; i < 4; ++i) {
        window.CommThread().OnReply(nullptr, RegisterValue(std::uint8_t(6 + i), bytes[i]));
        QCOMPARE(label->text(), dots[i]);
    }
    label->setText("changed");
    window.CommThread().OnReply(nullptr, RegisterValue(10, 0x99));
    QCOMPARE(label->text(), QStringLiteral("sn: 0012A3FF"));
    window.CommThread().OnReply(nullptr, RegisterValue(7, 0x34));
    QCOMPARE(label->text(), QStringLiteral("sn: 0034A3FF"));
}

void TestMainWindow::serialNumberOfAllFFStaysDotted()
{
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    for (std::uint8_t reg = 6; reg <= 9; ++reg)
        window.CommThread().OnReply(nullptr, RegisterValue(reg, 0xFF));
    QCOMPARE(Control<QLabel>(window, "Label2")->text(), QStringLiteral("sn: ...."));
}

void TestMainWindow::shortRepliesUseOnlyWhatIsThere()
{
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    // code only, no length byte: the common steps still run
    window.CommThread().OnReply(nullptr, BytesOf({0x01}));
    window.CommThread().OnReply(nullptr, BytesOf({0x01, 0x0B, 0xB5}));
    QCOMPARE(StatusText(window), QStringLiteral("Connected."));
    QCOMPARE(Indicators(window), AllIndicators(clWhite));

    // the length byte claims more than the frame holds
    window.CommThread().OnReply(nullptr, BytesOf({0x01, 0x0B, 0xB5, 0x00, 0x11, 0x00, 0x00}));
    QCOMPARE(Indicators(window), AllIndicators(clWhite));

    // card and flags there, code byte missing: the card shows, the code stays
    window.CommThread().OnReply(nullptr, Reply(0xB5, {0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x81}));
    QCOMPARE(Control<QLabel>(window, "CardLB")->text(), QStringLiteral("0102030405060708"));
    QCOMPARE(Control<QLabel>(window, "Code")->text(), QStringLiteral("00"));
    QCOMPARE(Control<TLMDTechnicalLine>(window, "Relay1")->FillColor(), clRed);

    // a register reply without its value changes no serial byte
    window.CommThread().OnReply(nullptr, Reply(0xB7, {0x06}));
    QCOMPARE(Control<QLabel>(window, "Label2")->text(), QStringLiteral("sn: NA"));
}

void TestMainWindow::transferMessagesSurviveGoodReplies()
{
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    // a Write that finds the link closed sends nothing and says so
    window.CommThread().OnReply(nullptr, StatusReply(0));
    window.CommThread().OnTimeout(nullptr);
    window.WriteMIClick();
    QCOMPARE(StatusText(window), QStringLiteral("Data transfer failed!"));
    window.CommThread().OnReply(nullptr, StatusReply(0));
    QCOMPARE(StatusText(window), QStringLiteral("Data transfer failed!"));
    QCOMPARE(Control<QProgressBar>(window, "ProgressBar1")->maximum(), 0);
}

void TestMainWindow::statusWordingDoesNotDecideState()
{
    // a translation that words a time-out like a finished transfer
    TProgramFolder folder;
    WriteFile(folder.Path() + "same.lng", "[Messages]\nTimedOut=Hotovo\nDataTransferOK=Hotovo\n");
    TMainWindow window(folder.Path());
    window.CommThread().OnTimeout(nullptr);
    QCOMPARE(StatusText(window), QStringLiteral("Hotovo"));
    window.CommThread().OnReply(nullptr, StatusReply(0));
    QCOMPARE(StatusText(window), QStringLiteral("Connected."));
}

void TestMainWindow::timeOutAndCheckErrorShowOnLampAndIndicators()
{
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    window.CommThread().OnReply(nullptr, StatusReply(0x3F));
    window.CommThread().OnTimeout(nullptr);
    QCOMPARE(StatusText(window), QStringLiteral("Timed out!"));
    QCOMPARE(LampBrush(window), clRed);
    QCOMPARE(Indicators(window), AllIndicators(clBtnFace));
    QVERIFY(!Control<QTimer>(window, "Timer1")->isActive());

    window.CommThread().OnReply(nullptr, StatusReply(0));
    QCOMPARE(StatusText(window), QStringLiteral("Connected."));
    window.CommThread().OnChecksumError(nullptr);
    QCOMPARE(LampBrush(window), clYellow);
    QCOMPARE(Indicators(window), AllIndicators(clBtnFace));

    window.CommThread().OnCommError(nullptr);
    QCOMPARE(LampBrush(window), clBtnShadow);
    QCOMPARE(StatusText(window), QString());
}

void TestMainWindow::failureIsSaidWhereTheTechnicianLooks_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("language");
    for (const char* language : {"", "cs.lng"})
        for (const char* failure : {"not present", "in use", "no permission", "refused", "unknown host"})
            QTest::newRow(qPrintable(QString::fromLatin1(failure) + (*language ? " cs" : "")))
                << QString::fromLatin1(failure) << QString::fromLatin1(language);
}

// The status bar says why Start failed, short enough to be read whole or cut
// visibly, the lamp's and the bar's tool tips in a whole sentence, until the
// next Start.
void TestMainWindow::failureIsSaidWhereTheTechnicianLooks()
{
    QFETCH(QString, failure);
    QFETCH(QString, language);
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther);
    QString device = dir.filePath("ttyVYX");
    QByteArray link = "CommunicationMode=COM\nCOM_Port=1\n";
    QString expected, sentence;
    int master = -1, holder = -1;
    if (failure == "not present") {
        expected = device + " not present";
        sentence = device + " is not present";
    } else if (failure == "in use") {
        // another program holds the pty as a serial program does
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        device = QString::fromLocal8Bit(::ptsname(master));
        holder = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX | LOCK_NB) == 0);
        expected = device + " in use";
        sentence = device + " is in use by another program";
    } else if (failure == "no permission") {
        WriteFile(device, {});
        QVERIFY(QFile::setPermissions(device, QFile::ReadOwner | QFile::WriteOwner));
        expected = "No permission: " + device;
        sentence = "No permission for " + device + ": add the user to the dialout group and log in again";
    } else if (failure == "refused") {
        // a port that was free a moment ago
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        QVERIFY(::bind(s, reinterpret_cast<sockaddr*>(&address), size) == 0
                && ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0);
        ::close(s);
        const QByteArray port = QByteArray::number(ntohs(address.sin_port));
        link = "CommunicationMode=LAN\nIPAddress=127.0.0.1\nIPPort=" + port + "\n";
        const QString where = "127.0.0.1:" + QString::fromLatin1(port);
        expected = where + (language.isEmpty() ? QStringLiteral(" refused") : QStringLiteral(" odmítl"));
        sentence = where + (language.isEmpty() ? QStringLiteral(" refused the connection") : QStringLiteral(" odmítl spojení"));
    } else {
        link = "CommunicationMode=LAN\nIPAddress=x.invalid\nIPPort=10000\n";
        expected = "Unknown host x.invalid";
        sentence = "Host x.invalid not found";
    }
    TProgramFolder folder("[Communication]\n" + link + "[Ports]\nCOM1=" + device.toUtf8() + "\n");
    if (!language.isEmpty())
        QVERIFY(QFile::copy(QStringLiteral(VYX_LANGUAGE_DIR "/") + language, folder.Path() + language));
    QStringList reports;
    AppErrors::SetHandler([&reports](const QString& message) { reports << message; });
    const auto restore = qScopeGuard([] { AppErrors::SetHandler(nullptr); });
    TMainWindow window(folder.Path());
    {
        TAsNobody asNobody(failure == "no permission" && ::geteuid() == 0);
        window.Start1Click();
    }
    PortNames::SetConfiguredPaths({});
    auto* bar = Control<TFriendlyStatusBar>(window, "FriendlyStatusBar1");
    // the Czech words of one reason stand for the rest
    if (language.isEmpty() || failure == "refused") {
        QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), expected, 10000);
        QCOMPARE(bar->toolTip(), sentence);
        QCOMPARE(Control<TShape>(window, "S1")->toolTip(), sentence);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(!StatusText(window).isEmpty(), 10000);
        QVERIFY2(StatusText(window) != expected, qPrintable(expected));
        expected = StatusText(window);
    }
    // drawn whole, or cut with an ellipsis that says so; never cut off mid-word
    window.show();
    const QString shown = bar->ShownPanelText(2);
    QVERIFY2(shown == expected || shown.endsWith(u'\u2026'), qPrintable(shown));
    QVERIFY2(bar->fontMetrics().horizontalAdvance(shown) <= bar->PanelRect(2).width(), qPrintable(shown));
    SaveRendering(window, "reason " + QString(QTest::currentDataTag()).replace(',', ""));
    // the lookup's box in a technician's words; a socket's own words only when it is not about the name
    if (failure == "unknown host") {
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports.first().startsWith("Host x.invalid"), qPrintable(reports.first()));
    }
    QCOMPARE(Control<QAction>(window, "Start1")->text(), QStringLiteral("Start"));
    for (int fd : {holder, master})
        if (fd >= 0)
            ::close(fd);
    window.Start1Click();
    QVERIFY(StatusText(window) != expected);
    window.Start1Click();
}

// Until something fails the tips say which link the window uses.
void TestMainWindow::idleTipsNameTheLink()
{
    const QList<QPair<QByteArray, QString>> links = {
        {"CommunicationMode=COM\nCOM_Port=2\nDataBits=9\n", "COM2 (/dev/ttyUSB0), 9-bit"},
        {"CommunicationMode=LAN\nIPAddress=192.168.1.10\nIPPort=10001\n", "TCP 192.168.1.10:10001"}};
    for (const auto& [settings, expected] : links) {
        TProgramFolder folder("[Communication]\n" + settings);
        TMainWindow window(folder.Path());
        QCOMPARE(Control<TShape>(window, "S1")->toolTip(), expected);
        QCOMPARE(Control<TFriendlyStatusBar>(window, "FriendlyStatusBar1")->toolTip(), expected);
    }
}

void TestMainWindow::setByCardEndsWithOneBeep()
{
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    QList<QByteArray> sounds;
    window.SetBeepHook([&sounds](const char* soundEvent) { sounds.append(soundEvent); });
    auto* timer = Control<QTimer>(window, "SetAddressTimer");
    auto* frame = Control<TColorBevel>(window, "ColorBevel3");

    window.Button1Click();
    QVERIFY(timer->isActive());
    QCOMPARE(frame->BriteColor(), clRed);
    QCOMPARE(frame->DarkColor(), clRed);

    // a reply that is not a status reply does not end the mode
    window.CommThread().OnReply(nullptr, Reply(0xFF, {2, 5}));
    QVERIFY(timer->isActive());

    window.CommThread().OnReply(nullptr, StatusReply(0));
    window.CommThread().OnReply(nullptr, StatusReply(0));
    QVERIFY(!timer->isActive());
    QCOMPARE(frame->BriteColor(), clBtnFace);
    QVERIFY(sounds.isEmpty());
    window.SlowTimerTimer();
    window.SlowTimerTimer();
    QCOMPARE(sounds, QList<QByteArray>{"dialog-information"});
}

void TestMainWindow::setByCardSecondPressCancels()
{
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    int beeps = 0;
    window.SetBeepHook([&beeps](const char*) { ++beeps; });
    window.Button1Click();
    window.Button1Click();
    QVERIFY(!Control<QTimer>(window, "SetAddressTimer")->isActive());
    QCOMPARE(Control<TColorBevel>(window, "ColorBevel3")->BriteColor(), clBtnFace);
    window.CommThread().OnReply(nullptr, StatusReply(0));
    window.SlowTimerTimer();
    QCOMPARE(beeps, 0);
}

void TestMainWindow::addressChangeResetsInformation()
{
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    window.CommThread().OnReply(nullptr, Reply(0xFF, {2, 5}));
    for (std::uint8_t reg = 6; reg <= 9; ++reg)
        window.CommThread().OnReply(nullptr, RegisterValue(reg, reg));
    Control<QSpinBox>(window, "SetAddressSE")->setValue(16);
    window.SetAddressSEChange();
    QCOMPARE(Control<QLabel>(window, "Label1")->text(), QStringLiteral("fw: NA"));
    QCOMPARE(Control<QLabel>(window, "Label2")->text(), QStringLiteral("sn: NA"));
    QCOMPARE(int(window.CommThread().HWAddress), 16);
    // a late answer of the module at 1 is not the identity of 16
    window.CommThread().OnReply(nullptr, Reply(0xFF, {2, 5}));
    QCOMPARE(Control<QLabel>(window, "Label1")->text(), QStringLiteral("fw: NA"));
    window.CommThread().OnReply(nullptr, RegisterValue(6, 0x42, 16));
    QCOMPARE(Control<QLabel>(window, "Label2")->text(), QStringLiteral("sn: ."));
}

void TestMainWindow::requestBodies()
{
    QCOMPARE(ModuleRequests::FirmwareVersion(3), BytesOf({0x03, 0x00, 0xFF}));
    QCOMPARE(ModuleRequests::RegisterRead(16, 9), BytesOf({0x10, 0x01, 0x53, 0x09}));
    QCOMPARE(ModuleRequests::Lightning(1), BytesOf({0x01, 0x03, 0x54, 0x02, 0x00, 0x00}));
    QCOMPARE(ModuleRequests::AssignedAddress(16), std::uint8_t(0));
    QCOMPARE(ModuleRequests::AssignedAddress(15), std::uint8_t(15));
}

void TestMainWindow::setByCardFrame_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("card");
    QTest::addColumn<TByteString>("expected");
    QTest::newRow("v=5") << 5 << "0123456789ABCDEF" << BytesOf({0x00, 0x05, 0x02, 0x05, 0xEF, 0xCD, 0xAB, 0x89});
    QTest::newRow("v=16 goes as 0") << 16 << "0000000000000ABC"
                                    << BytesOf({0x00, 0x05, 0x02, 0x00, 0xBC, 0x0A, 0x00, 0x00});
    QTest::newRow("short card text") << 1 << "12" << BytesOf({0x00, 0x05, 0x02, 0x01, 0x12, 0x00, 0x00, 0x00});
}

void TestMainWindow::setByCardFrame()
{
    QFETCH(int, address);
    QFETCH(QString, card);
    QFETCH(TByteString, expected);
    QCOMPARE(ModuleRequests::SetByCard(address, card), expected);
}

void TestMainWindow::settingsAreAppliedAndSavedBack()
{
    TProgramFolder folder("[Communication]\nHWAddress=40\nCommunicationMode=lan\nDataBits=9\nIPAddress=10.0.0.7\n"
                          "IPPort=4001\nServiceCard=abc\n[ReaderData]\nStrikeTime=300\nBeepFunction=5\n"
                          "ReaderFunction=1\n[Version]\nSetMaster=1\n");
    {
        TMainWindow window(folder.Path());
        QCOMPARE(Control<QSpinBox>(window, "SetAddressSE")->value(), 16);
        QCOMPARE(int(window.CommThread().HWAddress), 16);
        QVERIFY(window.CommThread().LANMode());
        QCOMPARE(int(window.CommThread().DataBits), 8);
        QCOMPARE(window.CommThread().GetIPAddress(), QStringLiteral("10.0.0.7"));
        QCOMPARE(Control<QSpinBox>(window, "StrikeTimeSE")->value(), 255);
        QVERIFY(!Control<QCheckBox>(window, "BeepCB")->isChecked());
        QCOMPARE(Control<QComboBox>(window, "InputFunctionCB")->currentIndex(), 1);
        Control<QSpinBox>(window, "DoorAjarSE")->setValue(42);
    }
    const QByteArray saved = folder.Settings();
    for (const char* line : {"HWAddress=16", "CommunicationMode=LAN", "DataBits=8", "IPPort=4001",
                             "ServiceCard=0000000000000ABC", "BeepFunction=1", "DoorAjarDelay=42", "StrikeTime=255"})
        QVERIFY2(saved.contains(line), line);
}

void TestMainWindow::failedSaveIsReportedNotFatal_data()
{
    QTest::addColumn<bool>("bySignal");
    QTest::newRow("closed by the user: in a box") << false;
    QTest::newRow("closed by SIGTERM: on stderr, no box to wait on") << true;
}

// Saved on a screen that has gone: opened, and saved again, on the screen there is.
void TestMainWindow::positionOffEveryScreenIsCentred()
{
    TProgramFolder folder("[Window]\nTop=-99999999\nLeft=2147483647\n");
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    {
        TMainWindow window(folder.Path());
        QCOMPARE(window.geometry().center(), screen.center());
    }
    const TStoredSettings saved = ReadSettings(TIniFile(folder.Path() + "VyxvozeRadavo.ini"), TSettingsDefaults());
    QVERIFY(screen.intersects(QRect(saved.left, saved.top, 100, 100)));
}

// A language file holds words, whoever wrote it: markup in it is shown as
// the characters it is made of, in captions and in tool tips.
void TestMainWindow::languageTextsShowAsWritten()
{
    TProgramFolder folder;
    WriteFile(folder.Path() + "x.lng", "[MainWindow]\nModuleStatus=<b>Stav</b>\n"
                                      "[Hints]\nTamper=<img src=\"file:///etc/passwd\">\nLightning=<a href=\"x\">Blesk</a>\n");
    TMainWindow window(folder.Path());
    auto* label = Control<QLabel>(window, "ModuleStatusLB");
    QCOMPARE(label->textFormat(), Qt::PlainText);
    QCOMPARE(label->text(), QStringLiteral("<b>Stav</b>"));
    const auto shown = [](const QString& tip) {
        QTextDocument document;
        if (Qt::mightBeRichText(tip))
            document.setHtml(tip);
        else
            document.setPlainText(tip);
        return document.toPlainText();
    };
    QCOMPARE(shown(Control<QWidget>(window, "Tamper")->toolTip()),
             QStringLiteral("<img src=\"file:///etc/passwd\">: not known while the module does not answer"));
    QCOMPARE(shown(Control<QWidget>(window, "SpeedButton1")->toolTip()), QStringLiteral("<a href=\"x\">Blesk</a>"));
}

void TestMainWindow::failedSaveIsReportedNotFatal()
{
    QFETCH(bool, bySignal);
    TProgramFolder folder;
    // a file marked read-only is kept as it is, also by root
    const QString settings = folder.Path() + "VyxvozeRadavo.ini";
    WriteFile(settings, "[Window]\nTop=1\n");
    QVERIFY(QFile::setPermissions(settings, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    QStringList reports;
    AppErrors::SetHandler([&reports](const QString& message) { reports << message; });
    QTemporaryFile printed;
    QVERIFY(printed.open());
    const int stderrBefore = ::dup(STDERR_FILENO);
    ::dup2(printed.handle(), STDERR_FILENO);
    {
        TTerminationSignals termination;
        QString error;
        QVERIFY(termination.Install(error));
        TMainWindow window(folder.Path());
        CloseOnRequestToEnd(window, termination);
        window.show();
        if (bySignal) {
            ::kill(::getpid(), SIGTERM);
            QTRY_VERIFY(!window.isVisible());
        }
    }
    ::dup2(stderrBefore, STDERR_FILENO);
    ::close(stderrBefore);
    AppErrors::SetHandler(nullptr);
    QCOMPARE(reports.size(), bySignal ? 0 : 1);
    QVERIFY(printed.seek(0)); // the writes to stderr moved the shared offset
    QCOMPARE(printed.readAll().contains("Unable to write to"), bySignal);
}

void TestMainWindow::renderings()
{
    {
        TProgramFolder folder;
        TMainWindow window(folder.Path());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        SaveRendering(window, "mainwindow-stopped-master-off");
        window.CommThread().OnReply(nullptr, StatusReply(0x81, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}, 0x0C));
        window.CommThread().OnTimeout(nullptr);
        SaveRendering(window, "mainwindow-timed-out");
    }
    TProgramFolder folder(MasterOn);
    TMainWindow window(folder.Path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Control<QCheckBox>(window, "MasterReaderCB")->setChecked(true);
    SaveRendering(window, "mainwindow-stopped-master-on");
}

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
