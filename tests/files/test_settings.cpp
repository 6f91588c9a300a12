#include "files/IniFile.h"
#include "files/SettingsLockU.h"
#include "files/SettingsU.h"

#include "tests/support/AsNobody.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <grp.h>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// Every field that the file carries, as comparable text.
QStringList Fields(const TStoredSettings& s)
{
    QStringList fields = {
        QString::number(s.top), QString::number(s.left), QString::number(s.comPort),
        QString::number(s.dataBits), s.ipAddress, QString::number(s.ipPort), QString::number(s.lanMode),
        QString::number(s.hwAddress), s.serviceCard, QString::number(s.strikeTime), QString::number(s.beep),
        QString::number(s.doorAjarDelay), QString::number(s.tamperSignal), QString::number(s.forcedDoorSignal),
        QString::number(s.doorAjarSignal), QString::number(s.readerFunction), QString::number(s.master),
        s.lastAppID, QString::number(s.masterFeature),
    };
    for (auto it = s.portPaths.begin(); it != s.portPaths.end(); ++it)
        fields << it.key() + u'=' + it.value();
    return fields;
}
}

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void init();

    void missingFileGivesDefaults();
    void defaultsComeFromTheProgram();
    void garbageGivesDefaults();
    void singleKeys_data();
    void singleKeys();
    void portsSection();

    void roundTrip();
    void writesInTheProgramOrder();
    void writeKeepsOtherLines();
    void beepIsSavedInverted();
    void saveLastAppIDWritesAtOnce();
    void failedWriteNamesTheFile();
    void killedSaveKeepsAllOldOrAllNew();
    void saveSparesTheUsersFiles();
    void savesInPlaceInAFolderNotTheUsers();

private:
    TStoredSettings ReadText(const QByteArray& text);
    QString Path() const { return FDir.filePath(SettingsFileName); }

    QTemporaryDir FDir;
};

void TestSettings::init()
{
    QFile::remove(Path());
}

TStoredSettings TestSettings::ReadText(const QByteArray& text)
{
    WriteFile(Path(), text);
    return ReadSettings(TIniFile(Path()), TSettingsDefaults());
}

void TestSettings::missingFileGivesDefaults()
{
    const TStoredSettings s = ReadSettings(TIniFile(Path()), TSettingsDefaults());
    QCOMPARE(s.top, 82);
    QCOMPARE(s.left, 455);
    QCOMPARE(s.comPort, 2);
    QCOMPARE(s.dataBits, 9);
    QVERIFY(!s.lanMode);
    QCOMPARE(s.ipAddress, QString());
    QCOMPARE(s.ipPort, 10000);
    QCOMPARE(s.hwAddress, 1);
    QCOMPARE(s.serviceCard, QStringLiteral("0000000000000000"));
    QCOMPARE(s.strikeTime, 7);
    QVERIFY(s.beep);
    QCOMPARE(s.doorAjarDelay, 20);
    QCOMPARE(s.tamperSignal, 30);
    QCOMPARE(s.forcedDoorSignal, 30);
    QCOMPARE(s.doorAjarSignal, 30);
    QCOMPARE(s.readerFunction, 0);
    QVERIFY(!s.master);
    QCOMPARE(s.lastAppID, QString());
    QVERIFY(!s.masterFeature);
    QVERIFY(s.portPaths.isEmpty());
    QVERIFY(!QFile::exists(Path()));
}

void TestSettings::defaultsComeFromTheProgram()
{
    TSettingsDefaults defaults;
    defaults.comPort = 5;
    defaults.hwAddress = 12;
    const TStoredSettings s = ReadSettings(TIniFile(Path()), defaults);
    QCOMPARE(s.comPort, 5);
    QCOMPARE(s.hwAddress, 12);
}

void TestSettings::garbageGivesDefaults()
{
    std::mt19937 random(1234);
    for (int round = 0; round < 20; ++round) {
        QByteArray bytes(4096, '\0');
        for (char& c : bytes)
            c = char(random());
        // a few lines that look like the file, buried in the noise
        bytes.insert(100, "\n[ReaderData\nStrikeTime=\xff\xfe\n[Communication]\nHWAddress\n=5\n");
        QCOMPARE(Fields(ReadText(bytes)), Fields(TStoredSettings()));
    }
}

void TestSettings::singleKeys_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("expected");
    // field indices follow Fields()
    QTest::newRow("lan lower case") << QByteArray("[Communication]\nCommunicationMode=lan\n") << 6 << "1";
    QTest::newRow("LAN with blanks") << QByteArray("[Communication]\nCommunicationMode =  LAN \n") << 6 << "1";
    QTest::newRow("other mode") << QByteArray("[Communication]\nCommunicationMode=TCP\n") << 6 << "0";
    QTest::newRow("card abc") << QByteArray("[Communication]\nServiceCard=abc\n") << 8 << "0000000000000ABC";
    QTest::newRow("card XYZ") << QByteArray("[Communication]\nServiceCard=XYZ\n") << 8 << "0000000000000000";
    QTest::newRow("card 17 digits")
        << QByteArray("[Communication]\nServiceCard=12345678901234567\n") << 8 << "0000000000000000";
    QTest::newRow("card empty") << QByteArray("[Communication]\nServiceCard=\n") << 8 << "0000000000000000";
    QTest::newRow("address 40") << QByteArray("[Communication]\nHWAddress=40\n") << 7 << "16";
    QTest::newRow("address 0") << QByteArray("[Communication]\nHWAddress=0\n") << 7 << "1";
    QTest::newRow("address hex $0A") << QByteArray("[Communication]\nHWAddress=$0A\n") << 7 << "10";
    QTest::newRow("address not a number") << QByteArray("[Communication]\nHWAddress=ten\n") << 7 << "1";
    QTest::newRow("port kept as read") << QByteArray("[Communication]\nCOM_Port=9\n") << 2 << "9";
    QTest::newRow("data bits 8") << QByteArray("[Communication]\nDataBits=8\n") << 3 << "8";
    QTest::newRow("data bits 256") << QByteArray("[Communication]\nDataBits=256\n") << 3 << "9";
    QTest::newRow("data bits -1") << QByteArray("[Communication]\nDataBits=-1\n") << 3 << "9";
    QTest::newRow("host") << QByteArray("[Communication]\nIPAddress= 10.0.0.7 \n") << 4 << "10.0.0.7";
    QTest::newRow("ip port 0x10") << QByteArray("[Communication]\nIPPort=0x10\n") << 5 << "16";
    QTest::newRow("strike $1F") << QByteArray("[ReaderData]\nStrikeTime=$1F\n") << 9 << "31";
    QTest::newRow("strike 300") << QByteArray("[ReaderData]\nStrikeTime=300\n") << 9 << "255";
    QTest::newRow("strike -5") << QByteArray("[ReaderData]\nStrikeTime=-5\n") << 9 << "0";
    QTest::newRow("strike empty") << QByteArray("[ReaderData]\nStrikeTime=\n") << 9 << "7";
    QTest::newRow("beep 5") << QByteArray("[ReaderData]\nBeepFunction=5\n") << 10 << "0";
    QTest::newRow("beep 1") << QByteArray("[ReaderData]\nBeepFunction=1\n") << 10 << "0";
    QTest::newRow("beep 0") << QByteArray("[ReaderData]\nBeepFunction=0\n") << 10 << "1";
    QTest::newRow("ajar delay 256") << QByteArray("[ReaderData]\nDoorAjarDelay=256\n") << 11 << "255";
    QTest::newRow("tamper -1") << QByteArray("[ReaderData]\nTamperSignal=-1\n") << 12 << "0";
    QTest::newRow("forced 1000") << QByteArray("[ReaderData]\nForcedDoorSignal=1000\n") << 13 << "255";
    QTest::newRow("ajar signal 0x20") << QByteArray("[ReaderData]\nDoorAjarSignal=0x20\n") << 14 << "32";
    QTest::newRow("function 1") << QByteArray("[ReaderData]\nReaderFunction=1\n") << 15 << "1";
    QTest::newRow("function 2") << QByteArray("[ReaderData]\nReaderFunction=2\n") << 15 << "0";
    QTest::newRow("function -1") << QByteArray("[ReaderData]\nReaderFunction=-1\n") << 15 << "0";
    QTest::newRow("master 1") << QByteArray("[ReaderData]\nMaster=1\n") << 16 << "1";
    QTest::newRow("master 2") << QByteArray("[ReaderData]\nMaster=2\n") << 16 << "0";
    QTest::newRow("master $1") << QByteArray("[ReaderData]\nMaster=$1\n") << 16 << "1";
    QTest::newRow("app id") << QByteArray("[ReaderData]\nLastAppID=010000ff\n") << 17 << "010000ff";
    QTest::newRow("set master 1") << QByteArray("[Version]\nSetMaster=1\n") << 18 << "1";
    QTest::newRow("set master 7") << QByteArray("[Version]\nSetMaster=7\n") << 18 << "1";
    QTest::newRow("set master 0") << QByteArray("[Version]\nSetMaster=0\n") << 18 << "0";
    QTest::newRow("names ignore case") << QByteArray("[readerdata]\nstriketime=12\n") << 9 << "12";
    QTest::newRow("key in another section") << QByteArray("[Window]\nStrikeTime=12\n") << 9 << "7";
}

void TestSettings::singleKeys()
{
    QFETCH(QByteArray, file);
    QFETCH(int, field);
    QFETCH(QString, expected);
    const QStringList read = Fields(ReadText(file));
    QStringList wanted = Fields(TStoredSettings());
    wanted[field] = expected;
    // the key changes its own field and no other
    QCOMPARE(read, wanted);
}

void TestSettings::portsSection()
{
    const TStoredSettings s = ReadText("[Ports]\n"
                                       "COM1=/dev/ttyS0\n"
                                       "com3 = /dev/ttyUSB0\n"
                                       "Com8=/dev/serial/by-id/usb-FTDI-if00\n"
                                       "COM4=\n"
                                       "COM9=/dev/ttyS9\n"
                                       "COM10=/dev/ttyS10\n"
                                       "COM0=/dev/ttyS7\n"
                                       "Speed=19200\n"
                                       "[Other]\n"
                                       "COM2=/dev/ttyS1\n");
    QMap<QString, QString> expected;
    expected.insert("COM1", "/dev/ttyS0");
    expected.insert("COM3", "/dev/ttyUSB0");
    expected.insert("COM8", "/dev/serial/by-id/usb-FTDI-if00");
    QCOMPARE(s.portPaths, expected);
}

void TestSettings::roundTrip()
{
    TStoredSettings written;
    written.top = -20;
    written.left = 1900;
    written.comPort = 7;
    written.dataBits = 8;
    written.ipAddress = "reader.example.org";
    written.ipPort = 8111;
    written.lanMode = true;
    written.hwAddress = 16;
    written.serviceCard = "00000000DEADBEEF";
    written.strikeTime = 255;
    written.beep = false;
    written.doorAjarDelay = 0;
    written.tamperSignal = 1;
    written.forcedDoorSignal = 2;
    written.doorAjarSignal = 3;
    written.readerFunction = 1;
    written.master = true;

    TIniFile ini(Path());
    WriteSettings(ini, written);
    const TStoredSettings read = ReadSettings(ini, TSettingsDefaults());
    QCOMPARE(Fields(read), Fields(written));
}

void TestSettings::writesInTheProgramOrder()
{
    TIniFile ini(Path());
    WriteSettings(ini, TStoredSettings());
    const QByteArray expected = "[Window]\n"
                                "Top=82\n"
                                "Left=455\n"
                                "[Communication]\n"
                                "COM_Port=2\n"
                                "HWAddress=1\n"
                                "DataBits=9\n"
                                "IPAddress=\n"
                                "IPPort=10000\n"
                                "CommunicationMode=COM\n"
                                "ServiceCard=0000000000000000\n"
                                "[ReaderData]\n"
                                "Master=0\n"
                                "StrikeTime=7\n"
                                "BeepFunction=0\n"
                                "DoorAjarDelay=20\n"
                                "TamperSignal=30\n"
                                "ForcedDoorSignal=30\n"
                                "DoorAjarSignal=30\n"
                                "ReaderFunction=0\n";
    QCOMPARE(ReadFile(Path()), expected);
}

void TestSettings::writeKeepsOtherLines()
{
    WriteFile(Path(), "; site notes\n"
                      "[Ports]\n"
                      "COM2=/dev/ttyUSB1\n"
                      "[ReaderData]\n"
                      "LastAppID=0000a001\n"
                      "StrikeTime=3\n"
                      "Vendor=x\n"
                      "[Version]\n"
                      "SetMaster=1\n");
    TIniFile ini(Path());
    TStoredSettings s = ReadSettings(ini, TSettingsDefaults());
    s.strikeTime = 9;
    WriteSettings(ini, s);

    const QByteArray text = ReadFile(Path());
    QVERIFY(text.startsWith("; site notes\n[Ports]\nCOM2=/dev/ttyUSB1\n[ReaderData]\nLastAppID=0000a001\n"
                            "StrikeTime=9\nVendor=x\n"));
    QVERIFY(text.contains("[Version]\nSetMaster=1\n"));
    const TStoredSettings again = ReadSettings(ini, TSettingsDefaults());
    QCOMPARE(again.lastAppID, QStringLiteral("0000a001"));
    QVERIFY(again.masterFeature);
    QCOMPARE(again.portPaths.value("COM2"), QStringLiteral("/dev/ttyUSB1"));
    QCOMPARE(again.strikeTime, 9);
}

void TestSettings::beepIsSavedInverted()
{
    TIniFile ini(Path());
    WriteFile(Path(), "[ReaderData]\nBeepFunction=5\n");
    WriteSettings(ini, ReadSettings(ini, TSettingsDefaults()));
    QCOMPARE(ini.ReadString("ReaderData", "BeepFunction", QString()), QStringLiteral("1"));

    WriteSettings(ini, TStoredSettings());
    QCOMPARE(ini.ReadString("ReaderData", "BeepFunction", QString()), QStringLiteral("0"));
}

void TestSettings::saveLastAppIDWritesAtOnce()
{
    TIniFile ini(Path());
    const TSettingsLock lock(Path());
    // an assignment makes no settings file of its own
    SaveHWAddress(ini, lock, 5);
    QVERIFY(!QFile::exists(Path()));
    SaveLastAppID(ini, lock, "010000ff");
    QCOMPARE(ReadFile(Path()), QByteArray("[ReaderData]\nLastAppID=010000ff\n"));
    // the save at close leaves it alone
    WriteSettings(ini, TStoredSettings());
    QCOMPARE(ReadSettings(ini, TSettingsDefaults()).lastAppID, QStringLiteral("010000ff"));
}

void TestSettings::failedWriteNamesTheFile()
{
    const QString path = FDir.filePath("missing-folder/" + QString(SettingsFileName));
    TIniFile ini(path);
    try {
        WriteSettings(ini, TStoredSettings());
        QFAIL("no error raised");
    } catch (const EIniFileError& e) {
        QCOMPARE(QString::fromUtf8(e.what()), "Unable to write to " + path);
    }
}

// A child process saves and is killed after each key in turn, and once after
// the save: the file then holds every old value or every new one.
void TestSettings::killedSaveKeepsAllOldOrAllNew()
{
    TStoredSettings before;
    TStoredSettings after;
    after.top = 1;
    after.left = 2;
    after.comPort = 5;
    after.hwAddress = 16;
    after.ipAddress = "10.0.0.7";
    after.lanMode = true;
    after.serviceCard = "00000000DEADBEEF";
    after.strikeTime = 200;
    after.beep = false;
    after.readerFunction = 1;
    after.master = true;
    const TSettingsDefaults defaults;
    constexpr int Keys = 17;
    for (int killAfter = 1; killAfter <= Keys + 1; ++killAfter) {
        TIniFile ini(Path());
        WriteSettings(ini, before);
        const pid_t child = fork();
        if (child == 0) {
            ini.SetEntryHook([killAfter](qsizetype applied) {
                if (applied == killAfter)
                    raise(SIGKILL);
            });
            WriteSettings(ini, after);
            raise(SIGKILL);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));
        const QStringList found = Fields(ReadSettings(ini, defaults));
        const QStringList expected = Fields(killAfter <= Keys ? before : after);
        QCOMPARE(found, expected);
    }
}

// Only what a save killed half way left behind goes, and the file keeps its
// group and mode (a save run as root once gave it root's group).
void TestSettings::saveSparesTheUsersFiles()
{
    const QString name = SettingsFileName;
    const QString ours = u'.' + name + ".vyxsave-";
    // the user's copy is as old as a stale temporary, a save under way is not
    for (const QString& file : {ours + "Ab3dEf", name + ".backup", ours + "Fresh1", name}) {
        WriteFile(FDir.filePath(file), "[Window]\nTop=1\n");
        QFile old(FDir.filePath(file));
        QVERIFY(old.open(QIODevice::ReadWrite));
        if (!file.endsWith("Fresh1"))
            QVERIFY(old.setFileTime(QDateTime::currentDateTime().addSecs(-600), QFileDevice::FileModificationTime));
    }
    const QByteArray path = QFile::encodeName(Path());
    const gid_t group = getgrnam("nogroup") ? getgrnam("nogroup")->gr_gid : getegid();
    QCOMPARE(::chown(path.constData(), geteuid(), group), 0);
    QCOMPARE(::chmod(path.constData(), 0640), 0);

    TIniFile ini(Path());
    WriteSettings(ini, TStoredSettings());
    // the lock file of an earlier case stays, as lock files do
    QStringList left = QDir(FDir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    left.removeAll(name + ".lock");
    QCOMPARE(left, QStringList({ours + "Fresh1", name, name + ".backup"}));
    struct stat saved {};
    QCOMPARE(::stat(path.constData(), &saved), 0);
    QCOMPARE(saved.st_gid, group);
    QCOMPARE(saved.st_mode & 07777, mode_t(0640));
}

// A shared install: the file is everyone's to write, its folder is not.
void TestSettings::savesInPlaceInAFolderNotTheUsers()
{
    const QString path = FDir.filePath("shared/") + SettingsFileName;
    QVERIFY(QDir(FDir.path()).mkdir("shared"));
    for (const QString& folder : {FDir.path(), FDir.filePath("shared")})
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0705), 0);
    WriteFile(path, "[Window]\nTop=1\n");
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0606), 0);
    TAsNobody asNobody(::geteuid() == 0);
    TIniFile ini(path);
    WriteSettings(ini, TStoredSettings());
    QVERIFY(ReadFile(path).contains("StrikeTime=7"));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
