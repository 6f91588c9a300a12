// The settings dialog as the main window opens it: filled from the link,
// confirmed or cancelled with the keys, applied to the link and the window.

#include "tests/support/AsNobody.h"
#include "MainWindowTestSupport.h"
#include "tests/support/TestFiles.h"

#include "link/CommThreadU.h"
#include "ports/PortNames.h"
#include "module/CardNumbersU.h"
#include "files/IniFile.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>


namespace {
const QByteArray LanSettings = "[Communication]\nCommunicationMode=lan\nDataBits=9\nIPAddress=10.0.0.5\n"
                               "IPPort=8111\nServiceCard=ab\nCOM_Port=3\n";

// The link as one line: port, data bits, host:port, transport.
QString LinkState(TMainWindow& window)
{
    TCommThread& link = window.CommThread();
    return QStringLiteral("COM%1 %2 %3:%4 %5")
        .arg(link.GetComPort())
        .arg(int(link.DataBits))
        .arg(link.GetIPAddress())
        .arg(link.GetIPPort())
        .arg(link.LANMode() ? "LAN" : "COM");
}

QString ShownServiceCard(TMainWindow& window)
{
    QString card;
    WhileSettingDialogOpen(window, [&](TSettingDlg& dialog) {
        card = Control<QLineEdit>(dialog, "Edit1")->text();
        Control<QPushButton>(dialog, "CancelBtn")->click();
    });
    return card;
}
}

class TestSettingDlg : public QObject {
    Q_OBJECT
private slots:
    void opensInLanModeCentredOnWindow();
    void okAppliesToLink_data();
    void okAppliesToLink();
    void serviceCardIsNormalisedAndShownNextTime();
    void cancelChangesNothing();
    void hostRefusesWhatTheFileCannotHold();
    void okNeedsValidCardAndIPPort_data();
    void okNeedsValidCardAndIPPort();
    void languageKeysSetOnlyTheirCaptions_data();
    void languageKeysSetOnlyTheirCaptions();
    void portDeviceHint_data();
    void portDeviceHint();
};

void TestSettingDlg::opensInLanModeCentredOnWindow()
{
    TProgramFolder folder(LanSettings);
    TMainWindow window(folder.Path());
    AddSettingDialog(window);
    window.show();
    window.move(40, 30);
    WhileSettingDialogOpen(window, [&](TSettingDlg& dialog) {
        QVERIFY(Control<QRadioButton>(dialog, "NetworkRadioButton")->isChecked());
        QVERIFY(!Control<QRadioButton>(dialog, "SerialRadioButton")->isChecked());
        for (const char* name : {"Edit2", "Edit3", "IPAddressLB", "IPPortLB"})
            QVERIFY2(Control<QWidget>(dialog, name)->isEnabled(), name);
        for (const char* name : {"ComboBox1", "ComboBox2", "ComPortLB", "DataBitsLB"})
            QVERIFY2(!Control<QWidget>(dialog, name)->isEnabled(), name);
        // LAN mode forced the 8-bit form over the file's 9
        QCOMPARE(Control<QComboBox>(dialog, "ComboBox2")->currentText(), QStringLiteral("8"));
        QCOMPARE(Control<QComboBox>(dialog, "ComboBox1")->currentText(), QStringLiteral("COM 3"));
        QCOMPARE(Control<QLineEdit>(dialog, "Edit2")->text(), QStringLiteral("10.0.0.5"));
        QCOMPARE(Control<QLineEdit>(dialog, "Edit3")->text(), QStringLiteral("8111"));
        QCOMPARE(Control<QLineEdit>(dialog, "Edit1")->text(), QStringLiteral("00000000000000AB"));
        QCOMPARE(dialog.size(), QSize(TSettingDlg::ClientWidth, TSettingDlg::ClientHeight));
        // within the window frame's margins
        const QPoint offset = dialog.frameGeometry().center() - window.frameGeometry().center();
        QVERIFY2(qAbs(offset.x()) <= 2 && qAbs(offset.y()) <= 2, "not centred on the main window");
        SaveRendering(dialog, "settingdlg-network");
        QTest::keyClick(Control<QLineEdit>(dialog, "Edit2"), Qt::Key_Escape);
    });
}

void TestSettingDlg::okAppliesToLink_data()
{
    QTest::addColumn<bool>("network");
    QTest::addColumn<QString>("expected");
    QTest::newRow("COM 5 and 9 bits") << false << "COM5 9 192.168.7.9:4001 COM";
    // SetLANMode comes last and forces the 8-bit form
    QTest::newRow("network with 9 bits") << true << "COM5 8 192.168.7.9:4001 LAN";
}

void TestSettingDlg::okAppliesToLink()
{
    QFETCH(bool, network);
    QFETCH(QString, expected);
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    AddSettingDialog(window);
    WhileSettingDialogOpen(window, [&](TSettingDlg& dialog) {
        Control<QComboBox>(dialog, "ComboBox1")->setCurrentIndex(4);
        Control<QComboBox>(dialog, "ComboBox2")->setCurrentIndex(1);
        Control<QLineEdit>(dialog, "Edit2")->setText("192.168.7.9");
        Control<QLineEdit>(dialog, "Edit3")->setText("4001");
        Control<QRadioButton>(dialog, network ? "NetworkRadioButton" : "SerialRadioButton")->click();
        QTest::keyClick(Control<QLineEdit>(dialog, "Edit1"), Qt::Key_Return);
        QVERIFY(!dialog.isVisible());
    });
    QCOMPARE(LinkState(window), expected);
}

void TestSettingDlg::serviceCardIsNormalisedAndShownNextTime()
{
    TProgramFolder folder;
    TMainWindow window(folder.Path());
    AddSettingDialog(window);
    QCOMPARE(ShownServiceCard(window), QStringLiteral("0000000000000000"));
    WhileSettingDialogOpen(window, [&](TSettingDlg& dialog) {
        Control<QLineEdit>(dialog, "Edit1")->setText("12ab");
        Control<QPushButton>(dialog, "OKBtn")->click();
    });
    QCOMPARE(ShownServiceCard(window), QStringLiteral("00000000000012AB"));
}

void TestSettingDlg::cancelChangesNothing()
{
    TProgramFolder folder(LanSettings);
    TMainWindow window(folder.Path());
    AddSettingDialog(window);
    const QString before = LinkState(window);
    WhileSettingDialogOpen(window, [&](TSettingDlg& dialog) {
        Control<QRadioButton>(dialog, "SerialRadioButton")->click();
        Control<QComboBox>(dialog, "ComboBox1")->setCurrentIndex(7);
        Control<QComboBox>(dialog, "ComboBox2")->setCurrentIndex(1);
        Control<QLineEdit>(dialog, "Edit2")->setText("example.net");
        Control<QLineEdit>(dialog, "Edit3")->setText("10001");
        Control<QLineEdit>(dialog, "Edit1")->setText("FFFF");
        SaveRendering(dialog, "settingdlg-serial");
        Control<QPushButton>(dialog, "CancelBtn")->click();
    });
    QCOMPARE(LinkState(window), before);
    QCOMPARE(ShownServiceCard(window), QStringLiteral("00000000000000AB"));
}

// The host is stored in the windows-1250 settings file: typed letter by letter,
// a character the code page lacks is refused at once.
void TestSettingDlg::hostRefusesWhatTheFileCannotHold()
{
    TProgramFolder folder(LanSettings);
    TMainWindow window(folder.Path());
    AddSettingDialog(window);
    WhileSettingDialogOpen(window, [&](TSettingDlg& dialog) {
        auto* host = Control<QLineEdit>(dialog, "Edit2");
        host->clear();
        for (const QChar c : QString::fromUtf8("řeka日.cz"))
            QTest::sendKeyEvent(QTest::Click, host, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QCOMPARE(host->text(), QString::fromUtf8("řeka.cz"));
    });
}

void TestSettingDlg::okNeedsValidCardAndIPPort_data()
{
    QTest::addColumn<bool>("network");
    QTest::addColumn<QString>("card");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("host");
    QTest::newRow("empty card: all zeros") << false << "" << "10000" << true << "host";
    QTest::newRow("16 digits, either case") << false << "0123456789abcDEF" << "1" << true << "host";
    QTest::newRow("17 digits") << false << "0123456789ABCDEF0" << "10000" << false << "host";
    QTest::newRow("letter G") << false << "12G" << "10000" << false << "host";
    QTest::newRow("port 65535, blanks around") << true << "1" << " 65535 " << true << "host";
    QTest::newRow("port 0") << true << "1" << "0" << false << "host";
    QTest::newRow("port 65536") << true << "1" << "65536" << false << "host";
    QTest::newRow("port not a number") << true << "1" << "80a" << false << "host";
    QTest::newRow("port negative") << true << "1" << "-5" << false << "host";
    QTest::newRow("port empty") << true << "1" << "" << false << "host";
    // the port is applied in serial mode too
    QTest::newRow("bad port, serial transport") << false << "1" << "x" << false << "host";
    QTest::newRow("empty host") << true << "1" << "10000" << false << "";
    QTest::newRow("blank host") << true << "1" << "10000" << false << "  ";
    QTest::newRow("host with a blank") << true << "1" << "10000" << false << "my host";
    // the host field cannot be edited while the serial line is chosen
    QTest::newRow("empty host, serial transport") << false << "1" << "10000" << true << "";
}

void TestSettingDlg::okNeedsValidCardAndIPPort()
{
    QFETCH(bool, network);
    QFETCH(QString, card);
    QFETCH(QString, port);
    QFETCH(bool, ok);
    QFETCH(QString, host);
    TSettingDlg dialog(TIniFile(QStringLiteral("/nonexistent/x.lng")));
    dialog.Fill({2, 8, host, 10000, network, "0"});
    auto* portField = Control<QLineEdit>(dialog, "Edit3");
    const QColor plain = portField->palette().color(QPalette::Base);
    Control<QLineEdit>(dialog, "Edit1")->setText(card);
    portField->setText(port);
    QCOMPARE(Control<QPushButton>(dialog, "OKBtn")->isEnabled(), ok);
    // nor does Enter get past a disabled OK
    dialog.show();
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QTest::keyClick(Control<QLineEdit>(dialog, "Edit1"), Qt::Key_Return);
    QCOMPARE(accepted.count(), ok ? 1 : 0);
    // a card fault leaves the port field as it was; a port fault marks it
    const bool hostMarked = !ok && host != "host";
    const bool portMarked = !ok && IsValidCardNumber(NormalizeCardNumber(card)) && !hostMarked;
    QCOMPARE(portField->palette().color(QPalette::Base) != plain, portMarked);
    QCOMPARE(portField->toolTip().isEmpty(), !portMarked);
    // the host field says why it blocks OK
    const QString hostHint = Control<QLineEdit>(dialog, "Edit2")->toolTip();
    QCOMPARE(hostHint, !hostMarked            ? QString()
                       : host.trimmed().isEmpty() ? QStringLiteral("Enter the device server's host")
                                                  : QStringLiteral("A host holds no blanks"));
}

void TestSettingDlg::languageKeysSetOnlyTheirCaptions_data()
{
    QTest::addColumn<QByteArray>("language");
    QTest::addColumn<QString>("comPortLabel");
    QTest::addColumn<QString>("ipAddressLabel");
    QTest::addColumn<QString>("cancel");
    QTest::addColumn<QString>("title");
    QTest::newRow("no file: English") << QByteArray() << "COM Port:" << "IP address:" << "Cancel" << "Setting";
    QTest::newRow("ComPort only") << QByteArray("[SettingDialog]\nComPort=Port:\n") << "Port:" << "IP address:"
                                  << "Cancel" << "Setting";
    QTest::newRow("IPAddress, title and Cancel")
        << QByteArray("[SettingDialog]\nIPAddress=Host:\nCaption=Nastaveni\n[General]\nCancelButton=Zpet\n")
        << "COM Port:" << "Host:" << "Zpet" << "Nastaveni";
}

void TestSettingDlg::languageKeysSetOnlyTheirCaptions()
{
    QFETCH(QByteArray, language);
    QFETCH(QString, comPortLabel);
    QFETCH(QString, ipAddressLabel);
    QFETCH(QString, cancel);
    QFETCH(QString, title);
    QTemporaryDir dir;
    const QString path = dir.filePath("cesky.lng");
    if (!language.isEmpty())
        WriteFile(path, language);
    TSettingDlg dialog((TIniFile(path)));
    QCOMPARE(Control<QLabel>(dialog, "ComPortLB")->text(), comPortLabel);
    QCOMPARE(Control<QLabel>(dialog, "IPAddressLB")->text(), ipAddressLabel);
    QCOMPARE(Control<QPushButton>(dialog, "CancelBtn")->text(), cancel);
    QCOMPARE(dialog.windowTitle(), title);
    QCOMPARE(Control<QLabel>(dialog, "ServiceCardLB")->text(), QStringLiteral("Service card:"));
    QCOMPARE(Control<QRadioButton>(dialog, "NetworkRadioButton")->text(), QStringLiteral("Network communication"));
}

void TestSettingDlg::portDeviceHint_data()
{
    QTest::addColumn<int>("mode"); // -1: no file
    QTest::addColumn<QByteArray>("group"); // empty: the creator's
    QTest::addColumn<QString>("suffix");
    QTest::newRow("present") << 0666 << QByteArray() << "";
    QTest::newRow("not present") << -1 << QByteArray() << " not present";
    QTest::newRow("no permission") << 0 << QByteArray() << ": no permission";
    QTest::newRow("group may use it") << 0660 << QByteArray("dialout") << ": no permission, see the dialout group";
}

void TestSettingDlg::portDeviceHint()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, group);
    QFETCH(QString, suffix);
    const bool root = geteuid() == 0;
    const struct group* owner = group.isEmpty() ? nullptr : getgrnam(group.constData());
    if (!group.isEmpty() && (!root || !owner))
        QSKIP("needs root and the group");
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther);
    const QString device = dir.filePath("ttyVYX");
    const QByteArray native = QFile::encodeName(device);
    if (mode >= 0) {
        WriteFile(device, {});
        QCOMPARE(::chmod(native.constData(), mode), 0);
        if (owner)
            QCOMPARE(::chown(native.constData(), -1, owner->gr_gid), 0);
    }
    PortNames::SetConfiguredPaths({{"COM6", device}});
    TSettingDlg dialog(TIniFile(dir.filePath("x.lng")));
    {
        TAsNobody asNobody(root);
        dialog.Fill({6, 8, "", 10000, false, ""});
    }
    PortNames::SetConfiguredPaths({});
    auto* hint = Control<QLabel>(dialog, "PortDeviceLB");
    QCOMPARE(hint->toolTip(), device + suffix);
    QVERIFY(hint->isEnabled());
    // another number shows its own device
    Control<QComboBox>(dialog, "ComboBox1")->setCurrentIndex(1);
    QVERIFY(hint->toolTip().startsWith("/dev/ttyUSB0"));
}

QTEST_MAIN(TestSettingDlg)
#include "test_settingdlg.moc"
