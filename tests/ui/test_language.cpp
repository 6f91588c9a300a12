#include "files/AppFoldersU.h"
#include "files/IniFile.h"
#include "ui/LanguageU.h"
#include "ui/ProgramTextsU.h"

#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {
QString AppDir(const QTemporaryDir& dir)
{
    return dir.path() + u'/';
}

QHash<QString, QString> Defaults(const QList<TLanguageKey>& keys)
{
    QHash<QString, QString> texts;
    for (const TLanguageKey& k : keys)
        texts.insert(QString::fromUtf8(k.key), QString::fromUtf8(k.defaultText));
    return texts;
}

QString ControlOf(const QList<TLanguageKey>& keys, const QString& key)
{
    for (const TLanguageKey& k : keys) {
        if (key == QLatin1String(k.key))
            return QString::fromUtf8(k.control);
    }
    return QString();
}
}

class TestLanguage : public QObject {
    Q_OBJECT
private slots:
    void noLanguageFileNamesDefault();
    void takesTheFirstListedFile();
    void anyCaseOfTheExtension();
    void skipsFoldersNamedLng();

    void tablesHoldEveryKeyOnce_data();
    void tablesHoldEveryKeyOnce();
    void mainWindowDefaults_data();
    void mainWindowDefaults();
    void missingFileGivesEveryDefault();
    void onlyOneMessageChanges();
    void dialogLabelsStayApart();
    void emptyTextIsKept();
    void readsWindows1250();
    void keptTexts();
    void shippedLanguageFilesHoldEveryKey_data();
    void shippedLanguageFilesHoldEveryKey();
};

void TestLanguage::noLanguageFileNamesDefault()
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("VyxvozeRadavo.ini"), "[Window]\n");
    WriteFile(dir.filePath("readme.lng.txt"), "");
    QCOMPARE(ChooseLanguageFile(AppDir(dir)), AppDir(dir) + "default.lng");
}

void TestLanguage::takesTheFirstListedFile()
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("english.lng"), "");
    WriteFile(dir.filePath("cesky.lng"), "");
    const QStringList listed = QDir(dir.path()).entryList({"*.lng"}, QDir::Files, QDir::Unsorted);
    QCOMPARE(listed.size(), 2);
    QCOMPARE(ChooseLanguageFile(AppDir(dir)), AppDir(dir) + listed.first());
}

void TestLanguage::anyCaseOfTheExtension()
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("CESKY.LNG"), "");
    QCOMPARE(ChooseLanguageFile(AppDir(dir)), AppDir(dir) + "CESKY.LNG");
}

void TestLanguage::skipsFoldersNamedLng()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("old.lng"));
    QCOMPARE(ChooseLanguageFile(AppDir(dir)), AppDir(dir) + "default.lng");
    WriteFile(dir.filePath("deutsch.lng"), "");
    QCOMPARE(ChooseLanguageFile(AppDir(dir)), AppDir(dir) + "deutsch.lng");
}

void TestLanguage::tablesHoldEveryKeyOnce_data()
{
    QTest::addColumn<int>("table");
    QTest::addColumn<int>("count");
    QTest::newRow("main window") << 0 << 44;
    QTest::newRow("settings dialog") << 1 << 10;
    QTest::newRow("program's own texts") << 2 << 26;
}

void TestLanguage::tablesHoldEveryKeyOnce()
{
    QFETCH(int, table);
    QFETCH(int, count);
    const QList<TLanguageKey>& keys =
        table == 0 ? MainWindowLanguageKeys() : table == 1 ? SettingDialogLanguageKeys() : ProgramTextKeys();
    QCOMPARE(keys.size(), count);
    QSet<QString> names;
    for (const TLanguageKey& k : keys)
        names.insert(QString::fromUtf8(k.key));
    // the texts are keyed by name alone
    QCOMPARE(names.size(), keys.size());
}

void TestLanguage::mainWindowDefaults_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("control");
    QTest::newRow("program") << "MainMenu-Program" << "&Program" << "Program1";
    QTest::newRow("exit") << "MainMenu-Exit" << "Exit..." << "Konec1";
    QTest::newRow("start") << "MainMenu-Start" << "Start" << "Start1";
    QTest::newRow("stop") << "MainMenu-Stop" << "Stop" << "";
    QTest::newRow("door ajar delay") << "GeneralProperties-DoorAjarDelay" << "Door ajar delay:" << "ForcedDoorDelayLB";
    QTest::newRow("item 0") << "General-ReaderFunction-Handle" << "Door + handle" << "InputFunctionCB#0";
    QTest::newRow("item 1") << "General-ReaderFunction-Button" << "Door + REX button" << "InputFunctionCB#1";
    QTest::newRow("master") << "MasterReader" << "MasterReader" << "MasterReaderCB";
    QTest::newRow("+ card") << "MasterReader+Card" << "\"+\" card:" << "AddCardLB";
    QTest::newRow("- card") << "MasterReader-Card+" << "\"-\" card:" << "DelCardLB";
    QTest::newRow("timed out") << "TimedOut" << "Timed out!" << "";
}

void TestLanguage::mainWindowDefaults()
{
    QFETCH(QString, key);
    QFETCH(QString, text);
    QFETCH(QString, control);
    QCOMPARE(Defaults(MainWindowLanguageKeys()).value(key), text);
    QCOMPARE(ControlOf(MainWindowLanguageKeys(), key), control);
}

void TestLanguage::missingFileGivesEveryDefault()
{
    QTemporaryDir dir;
    const TIniFile ini(ChooseLanguageFile(AppDir(dir)));
    QCOMPARE(ReadLanguageTexts(ini, MainWindowLanguageKeys()), Defaults(MainWindowLanguageKeys()));
    QCOMPARE(ReadLanguageTexts(ini, SettingDialogLanguageKeys()), Defaults(SettingDialogLanguageKeys()));
}

void TestLanguage::onlyOneMessageChanges()
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("english.lng"), "[Messages]\nDataTransferOK=All written.\n");
    const TIniFile ini(ChooseLanguageFile(AppDir(dir)));
    QHash<QString, QString> expected = Defaults(MainWindowLanguageKeys());
    expected["DataTransferOK"] = "All written.";
    QCOMPARE(ReadLanguageTexts(ini, MainWindowLanguageKeys()), expected);
    QCOMPARE(ReadLanguageTexts(ini, SettingDialogLanguageKeys()), Defaults(SettingDialogLanguageKeys()));
}

void TestLanguage::dialogLabelsStayApart()
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("x.lng"), "[SettingDialog]\nComPort=Port:\nIPAddress=Host:\n"
                                     "[MainWindow]\nHWAddress=Bus address\n");
    const TIniFile ini(ChooseLanguageFile(AppDir(dir)));
    const QHash<QString, QString> texts = ReadLanguageTexts(ini, SettingDialogLanguageKeys());
    QCOMPARE(texts.value("ComPort"), QStringLiteral("Port:"));
    QCOMPARE(texts.value("IPAddress"), QStringLiteral("Host:"));
    QCOMPARE(ControlOf(SettingDialogLanguageKeys(), "ComPort"), QStringLiteral("ComPortLB"));
    QCOMPARE(ControlOf(SettingDialogLanguageKeys(), "IPAddress"), QStringLiteral("IPAddressLB"));
    QCOMPARE(texts.value("IPPort"), QStringLiteral("IP port:"));
    // a main-window key of the same file is not a dialog text
    QCOMPARE(ReadLanguageTexts(ini, MainWindowLanguageKeys()).value("HWAddress"), QStringLiteral("Bus address"));
}

void TestLanguage::emptyTextIsKept()
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("x.lng"), "[MainWindow]\nGeneralProperties-Beep=\n[General]\nCancelButton=  \n");
    const TIniFile ini(ChooseLanguageFile(AppDir(dir)));
    const QHash<QString, QString> main = ReadLanguageTexts(ini, MainWindowLanguageKeys());
    QVERIFY(main.contains("GeneralProperties-Beep"));
    QCOMPARE(main.value("GeneralProperties-Beep"), QString(""));
    QCOMPARE(ReadLanguageTexts(ini, SettingDialogLanguageKeys()).value("CancelButton"), QString(""));
}

void TestLanguage::readsWindows1250()
{
    QTemporaryDir dir;
    // "Nastavení...", "Doba otevření:" and "Přenos dat selhal!" in windows-1250
    WriteFile(dir.filePath("cesky.lng"), "[MainWindow]\r\n"
                                         "MainMenu-Setting=&Nastaven\xed...\r\n"
                                         "GeneralProperties-StrikeTime=Doba otev\xf8" "en\xed:\r\n"
                                         "[Messages]\r\n"
                                         "DataTransferFailed=P\xf8" "enos dat selhal!\r\n");
    const TIniFile ini(ChooseLanguageFile(AppDir(dir)));
    const QHash<QString, QString> texts = ReadLanguageTexts(ini, MainWindowLanguageKeys());
    QCOMPARE(texts.value("MainMenu-Setting"), QString::fromUtf8("&Nastavení..."));
    QCOMPARE(texts.value("GeneralProperties-StrikeTime"), QString::fromUtf8("Doba otevření:"));
    QCOMPARE(KeptTexts(texts).dataTransferFailed, QString::fromUtf8("Přenos dat selhal!"));
}

void TestLanguage::keptTexts()
{
    const TKeptTexts defaults = KeptTexts(Defaults(MainWindowLanguageKeys()));
    const TKeptTexts built;
    QCOMPARE(defaults.mainMenuStart, built.mainMenuStart);
    QCOMPARE(defaults.mainMenuStop, built.mainMenuStop);
    QCOMPARE(defaults.dataTransferFailed, built.dataTransferFailed);
    QCOMPARE(defaults.dataTransferOK, built.dataTransferOK);
    QCOMPARE(defaults.dataTransfer, built.dataTransfer);
    QCOMPARE(defaults.connected, built.connected);
    QCOMPARE(defaults.timedOut, built.timedOut);

    QHash<QString, QString> texts = Defaults(MainWindowLanguageKeys());
    texts["MainMenu-Start"] = "Spustit";
    texts["MainMenu-Stop"] = "Zastavit";
    texts["DataTransferFailed"] = "a";
    texts["DataTransferOK"] = "b";
    texts["DataTransfer"] = "c";
    texts["Connected"] = "d";
    texts["TimedOut"] = "e";
    const TKeptTexts kept = KeptTexts(texts);
    QCOMPARE(kept.mainMenuStart, QStringLiteral("Spustit"));
    QCOMPARE(kept.mainMenuStop, QStringLiteral("Zastavit"));
    QCOMPARE(kept.dataTransferFailed, QStringLiteral("a"));
    QCOMPARE(kept.dataTransferOK, QStringLiteral("b"));
    QCOMPARE(kept.dataTransfer, QStringLiteral("c"));
    QCOMPARE(kept.connected, QStringLiteral("d"));
    QCOMPARE(kept.timedOut, QStringLiteral("e"));
}

void TestLanguage::shippedLanguageFilesHoldEveryKey_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("English") << "en.lng";
    QTest::newRow("Czech") << "cs.lng";
}

void TestLanguage::shippedLanguageFilesHoldEveryKey()
{
    QFETCH(QString, file);
    const TIniFile ini(QStringLiteral(VYX_LANGUAGE_DIR "/") + file);
    // kept in the code page the program writes its files in
    QFile raw(QStringLiteral(VYX_LANGUAGE_DIR "/") + file);
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    QVERIFY(file == "en.lng" || !bytes.isValidUtf8());
    static const QRegularExpression placeholder(QStringLiteral("%[0-9]"));
    const auto placeholders = [](const QString& text) {
        QStringList found;
        for (const QRegularExpressionMatch& m : placeholder.globalMatch(text))
            found << m.captured();
        found.sort();
        return found;
    };
    for (const QList<TLanguageKey>* table :
         {&MainWindowLanguageKeys(), &SettingDialogLanguageKeys(), &ProgramTextKeys()}) {
        for (const TLanguageKey& k : *table) {
            const QString text = ini.ReadString(k.section, k.key, QStringLiteral("\x01missing"));
            QVERIFY2(text != QStringLiteral("\x01missing"), k.key);
            // a text that lost its %1 would drop the device or host it names
            QVERIFY2(placeholders(text) == placeholders(QString::fromUtf8(k.defaultText)), k.key);
            // the English file says what the program says without one
            if (file == "en.lng")
                QCOMPARE(text, QString::fromUtf8(k.defaultText));
        }
    }
}

QTEST_GUILESS_MAIN(TestLanguage)
#include "test_language.moc"
