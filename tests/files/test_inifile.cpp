#include "files/IniFile.h"
#include "files/TextFileCodec.h"

#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {
ino_t Inode(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}
}

class TestIniFile : public QObject {
    Q_OBJECT
private slots:
    void init();

    void readsStrings_data();
    void readsStrings();
    void cutsLongValues();
    void readsIntegers_data();
    void readsIntegers();
    void missingFileGivesDefaults();
    void readsTheFileAgainEachTime();
    void listsTheKeysOfASection();
    void refusesWhatIsNoRegularFile_data();
    void refusesWhatIsNoRegularFile();

    void writeKeepsEveryOtherLine();
    void writeCreatesAMissingFile();
    void writeKeepsCrLf();
    void writeKeepsValuesOnOneLine();
    void writeReplacesTheFileWhole();
    void failedWrites_data();
    void failedWrites();

    void decodesWindows1250AndUtf8_data();
    void decodesWindows1250AndUtf8();
    void writesWindows1250Back();
    void refusesCharactersOutsideTheCodePage();
    void keepsUtf8AndItsBom();
    void keepsTheEncodingItFirstRead();
    void neverSavesOverWhatIsNoText();

private:
    QString Path(const QString& name = "VyxvozeRadavo.ini") const { return FDir->filePath(name); }
    std::unique_ptr<QTemporaryDir> FDir;
};

void TestIniFile::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
}

void TestIniFile::readsStrings_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    const QString dflt = "default";
    QTest::newRow("names without case") << QByteArray("[Communication]\nIPAddress=10.0.0.1\n")
                                        << "COMMUNICATION" << "ipaddress" << "10.0.0.1";
    QTest::newRow("blanks around") << QByteArray(" [ S ] \n \tkey \t= \t a value \t\n") << "s" << "KEY" << "a value";
    QTest::newRow("equals in value") << QByteArray("[S]\nk=a=b\n") << "S" << "k" << "a=b";
    QTest::newRow("empty value is not missing") << QByteArray("[S]\nk=\n") << "S" << "k" << "";
    QTest::newRow("missing key") << QByteArray("[S]\nother=1\n") << "S" << "k" << dflt;
    QTest::newRow("missing section") << QByteArray("[T]\nk=1\n") << "S" << "k" << dflt;
    QTest::newRow("key of the next section") << QByteArray("[S]\n[T]\nk=1\n") << "S" << "k" << dflt;
    QTest::newRow("before any section") << QByteArray("k=1\n[S]\n") << "S" << "k" << dflt;
    QTest::newRow("line without equals") << QByteArray("[S]\nk\n") << "S" << "k" << dflt;
    QTest::newRow("comment") << QByteArray("[S]\n;k=1\n") << "S" << ";k" << dflt;
    QTest::newRow("first key wins") << QByteArray("[S]\nk=1\nK=2\n") << "S" << "k" << "1";
    QTest::newRow("section given twice") << QByteArray("[S]\na=1\n[T]\n[s]\nk=2\n") << "S" << "k" << "2";
    QTest::newRow("crlf") << QByteArray("[S]\r\nk=v\r\n") << "S" << "k" << "v";
    QTest::newRow("utf-8 bom") << QByteArray("\xEF\xBB\xBF[S]\nk=v\n") << "S" << "k" << "v";
    QTest::newRow("no final line break") << QByteArray("[S]\nk=v") << "S" << "k" << "v";
    QTest::newRow("unclosed section") << QByteArray("[S]\n[T\nk=v") << "S" << "k" << "v";
}

void TestIniFile::readsStrings()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    WriteFile(Path(), content);
    QCOMPARE(TIniFile(Path()).ReadString(section, key, "default"), expected);
}

void TestIniFile::cutsLongValues()
{
    WriteFile(Path(), "[S]\nk=" + QByteArray(3000, 'x') + "\n");
    QCOMPARE(TIniFile(Path()).ReadString("S", "k", ""), QString(2047, 'x'));
}

void TestIniFile::readsIntegers_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("decimal") << QByteArray("42") << 42;
    QTest::newRow("blanks") << QByteArray(" 42 ") << 42;
    QTest::newRow("dollar hex") << QByteArray("$1F") << 31;
    QTest::newRow("0x hex") << QByteArray("0x1f") << 31;
    QTest::newRow("0X hex") << QByteArray("0X1F") << 31;
    QTest::newRow("negative") << QByteArray("-5") << -5;
    QTest::newRow("negative hex") << QByteArray("-$10") << -16;
    QTest::newRow("int max") << QByteArray("2147483647") << 2147483647;
    QTest::newRow("int min") << QByteArray("-2147483648") << int(-2147483648LL);
    QTest::newRow("empty") << QByteArray("") << -1;
    QTest::newRow("text") << QByteArray("abc") << -1;
    QTest::newRow("trailing text") << QByteArray("12abc") << -1;
    QTest::newRow("inner blank") << QByteArray("1 2") << -1;
    QTest::newRow("prefix alone") << QByteArray("0x") << -1;
    QTest::newRow("dollar alone") << QByteArray("$") << -1;
    QTest::newRow("sign alone") << QByteArray("-") << -1;
    QTest::newRow("two prefixes") << QByteArray("0x0x1") << -1;
    QTest::newRow("sign after prefix") << QByteArray("$-5") << -1;
    QTest::newRow("too big") << QByteArray("2147483648") << -1;
    QTest::newRow("far too big") << QByteArray("$FFFFFFFFFFFFFFFFFF") << -1;
}

void TestIniFile::readsIntegers()
{
    QFETCH(QByteArray, value);
    QFETCH(int, expected);
    WriteFile(Path(), "[S]\nk=" + value + "\n");
    QCOMPARE(TIniFile(Path()).ReadInteger("S", "k", -1), expected);
}

void TestIniFile::missingFileGivesDefaults()
{
    const TIniFile ini(Path());
    QCOMPARE(ini.ReadString("S", "k", "d"), QString("d"));
    QCOMPARE(ini.ReadInteger("S", "k", 10000), 10000);
    QCOMPARE(ini.ReadSection("S"), QStringList());
    QVERIFY(!QFile::exists(Path()));
}

void TestIniFile::readsTheFileAgainEachTime()
{
    const TIniFile ini(Path());
    WriteFile(Path(), "[S]\nk=1\n");
    QCOMPARE(ini.ReadInteger("S", "k", 0), 1);
    WriteFile(Path(), "[S]\nk=2\n");
    QCOMPARE(ini.ReadInteger("S", "k", 0), 2);
}

void TestIniFile::listsTheKeysOfASection()
{
    WriteFile(Path(), "[Ports]\nCOM1=a\n; note=x\nCOM2=b\ncom1=c\n[Other]\nCOM3=d\n[ports]\nCOM4=e\n");
    QCOMPARE(TIniFile(Path()).ReadSection("PORTS"), QStringList({"COM1", "COM2", "COM4"}));
}

// Read as it is, such a path would be used up (a pipe), wait for ever for a
// writer (a FIFO), or be a device: each is refused before it is opened.
void TestIniFile::refusesWhatIsNoRegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO without a writer") << "fifo";
    QTest::newRow("folder") << "folder";
    QTest::newRow("device") << "device";
}

void TestIniFile::refusesWhatIsNoRegularFile()
{
    QFETCH(QString, kind);
    QString path = Path();
    if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == "folder")
        QVERIFY(QDir(FDir->path()).mkdir("VyxvozeRadavo.ini"));
    else
        path = "/dev/null";
    const TIniFile ini(path);
    QCOMPARE(ini.State(), TIniFileState::NotRegular);
    QCOMPARE(ini.ReadInteger("S", "k", 5), 5);
    QVERIFY(ini.Refusal().startsWith(path + " is no regular file"));
}

void TestIniFile::writeKeepsEveryOtherLine()
{
    WriteFile(Path(), "; settings\n"
                     "stray=1\n"
                     "[Window]\n"
                     "Top = 10\n"
                     "; keep me\n"
                     "Unknown=x\n"
                     "\n"
                     "[Extra]\n"
                     "what ever\n");
    TIniFile ini(Path());
    ini.WriteInteger("window", "TOP", 20);
    ini.WriteInteger("Window", "Left", 30);
    ini.WriteString("Communication", "IPAddress", "10.0.0.1");
    QCOMPARE(ReadFile(Path()), QByteArray("; settings\n"
                                         "stray=1\n"
                                         "[Window]\n"
                                         "Top=20\n"
                                         "; keep me\n"
                                         "Unknown=x\n"
                                         "Left=30\n"
                                         "\n"
                                         "[Extra]\n"
                                         "what ever\n"
                                         "[Communication]\n"
                                         "IPAddress=10.0.0.1\n"));
}

void TestIniFile::writeCreatesAMissingFile()
{
    TIniFile ini(Path());
    ini.WriteInteger("ReaderData", "StrikeTime", -7);
    ini.WriteString("ReaderData", "LastAppID", "0a0b0c0d");
    QCOMPARE(ReadFile(Path()), QByteArray("[ReaderData]\nStrikeTime=-7\nLastAppID=0a0b0c0d\n"));
    QCOMPARE(ini.ReadInteger("readerdata", "striketime", 0), -7);
}

void TestIniFile::writeKeepsCrLf()
{
    WriteFile(Path(), "[S]\r\na=1\r\n");
    TIniFile(Path()).WriteString("S", "b", "2");
    QCOMPARE(ReadFile(Path()), QByteArray("[S]\r\na=1\r\nb=2\r\n"));
}

void TestIniFile::writeKeepsValuesOnOneLine()
{
    TIniFile ini(Path());
    ini.WriteString("S", "k", "a\r\n[T]\nx=1");
    QCOMPARE(ini.ReadString("S", "k", ""), QString("a  [T] x=1"));
    QCOMPARE(ini.ReadString("T", "x", "none"), QString("none"));
}

void TestIniFile::writeReplacesTheFileWhole()
{
    // A write that went into the file itself would keep its inode; a new file
    // renamed over the old one has another. So the file is never seen half
    // written, and no temporary file is left beside it.
    WriteFile(Path(), "[S]\nk=1\n");
    const ino_t before = Inode(Path());
    QVERIFY(before != 0);
    TIniFile(Path()).WriteString("S", "k", "2");
    QVERIFY(Inode(Path()) != before);
    QCOMPARE(ReadFile(Path()), QByteArray("[S]\nk=2\n"));
    QCOMPARE(QDir(FDir->path()).entryList(QDir::Files | QDir::Hidden), QStringList({"VyxvozeRadavo.ini"}));
}

void TestIniFile::failedWrites_data()
{
    // The tests run as root, whom a folder without write permission does not
    // stop; a "folder" that is a regular file stops everyone.
    QTest::addColumn<QString>("setup");
    QTest::newRow("folder is a file") << "folder is a file";
    QTest::newRow("file marked read-only") << "read-only file";
    QTest::newRow("path is a folder") << "path is a folder";
}

void TestIniFile::failedWrites()
{
    QFETCH(QString, setup);
    QString path = Path();
    const QByteArray original("[S]\nk=1\n");
    if (setup == "folder is a file") {
        WriteFile(Path("plain"), original);
        path = Path("plain") + "/VyxvozeRadavo.ini";
    } else if (setup == "read-only file") {
        WriteFile(path, original);
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    } else {
        QVERIFY(QDir(FDir->path()).mkdir("VyxvozeRadavo.ini"));
    }

    TIniFile ini(path);
    try {
        ini.WriteString("S", "k", "2");
        QFAIL("the write did not fail");
    } catch (const EIniFileError& error) {
        QCOMPARE(QString::fromStdString(error.what()), "Unable to write to " + path);
    }
    QCOMPARE(ini.ReadString("S", "k", "default"), setup == "read-only file" ? "1" : "default");
    if (setup == "folder is a file")
        QCOMPARE(ReadFile(Path("plain")), original);
}

void TestIniFile::decodesWindows1250AndUtf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<TTextEncoding>("encoding");
    QTest::newRow("windows-1250") << QByteArray("\x9E\xE1\x8A\xE8") << QString::fromUtf8("žáŠč")
                                  << TTextEncoding::teWindows1250;
    QTest::newRow("utf-8") << QByteArray("\xC5\xBE\xC3\xA1") << QString::fromUtf8("žá") << TTextEncoding::teUtf8;
    QTest::newRow("ascii") << QByteArray("plain") << QString("plain") << TTextEncoding::teWindows1250;
    // a sequence cut off at the end is no UTF-8: 0xC5 is "Ĺ" in windows-1250
    QTest::newRow("cut utf-8") << QByteArray("a\xC5") << QString::fromUtf8("aĹ") << TTextEncoding::teWindows1250;
    // the mark stays where it was, also before text that turns out to be no UTF-8
    QTest::newRow("two BOMs") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBFk") << QChar(0xFEFF) + QString("k")
                              << TTextEncoding::teUtf8;
    QTest::newRow("BOM, then windows-1250") << QByteArray("\xEF\xBB\xBFk=\x9E") << QString::fromUtf8("k=ž")
                                            << TTextEncoding::teWindows1250;
}

void TestIniFile::decodesWindows1250AndUtf8()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(TTextEncoding, encoding);
    const TDecodedText decoded = DecodeTextFile(bytes);
    QCOMPARE(decoded.Text, text);
    QCOMPARE(decoded.Encoding, encoding);
    QCOMPARE(EncodeTextFile(decoded), std::optional(bytes));
}

void TestIniFile::writesWindows1250Back()
{
    WriteFile(Path("czech.lng"), "[MainWindow]\nBeep=P\xEDpnut\xED\nExit=Konec\n");
    TIniFile ini(Path("czech.lng"));
    QCOMPARE(ini.ReadString("MainWindow", "Beep", ""), QString::fromUtf8("Pípnutí"));
    ini.WriteString("MainWindow", "Exit", QString::fromUtf8("Ukončit"));
    QCOMPARE(ReadFile(Path("czech.lng")), QByteArray("[MainWindow]\nBeep=P\xEDpnut\xED\nExit=Ukon\xE8it\n"));
}

// never UTF-8 bytes inside a windows-1250 file
void TestIniFile::refusesCharactersOutsideTheCodePage()
{
    WriteFile(Path(), "[S]\nname=\x9E\xE1\n");
    TIniFile ini(Path());
    QVERIFY_THROWS_EXCEPTION(EIniFileError, ini.WriteString("S", "other", QString::fromUtf8("日本")));
    QCOMPARE(ReadFile(Path()), QByteArray("[S]\nname=\x9E\xE1\n"));
}

void TestIniFile::keepsUtf8AndItsBom()
{
    WriteFile(Path(), "\xEF\xBB\xBF[S]\nname=\xC5\xBE\xC3\xA1\n");
    TIniFile ini(Path());
    QCOMPARE(ini.ReadString("s", "NAME", ""), QString::fromUtf8("žá"));
    ini.WriteString("S", "more", QString::fromUtf8("č"));
    QCOMPARE(ReadFile(Path()), QByteArray("\xEF\xBB\xBF[S]\nname=\xC5\xBE\xC3\xA1\nmore=\xC4\x8D\n"));
}

// The bytes that told windows-1250 from UTF-8 sit on the line the save
// rewrites; the rest would read as UTF-8 after it ("hĂˇst" as "hást").
void TestIniFile::keepsTheEncodingItFirstRead()
{
    const QByteArray host("IPAddress=h\xC3\xA1st\n");
    WriteFile(Path(), "[Window]\nTop=\x9E\n[Communication]\n" + host);
    TIniFile ini(Path());
    QCOMPARE(ini.ReadString("Communication", "IPAddress", ""), QString::fromUtf8("hĂˇst"));
    ini.WriteInteger("Window", "Top", 82);
    QCOMPARE(ini.ReadString("Communication", "IPAddress", ""), QString::fromUtf8("hĂˇst"));
    ini.WriteString("Communication", "IPPort", QString::fromUtf8("č"));
    QCOMPARE(ReadFile(Path()), "[Window]\nTop=82\n[Communication]\n" + host + "IPPort=\xE8\n");
}

// Binary data or UTF-16 reads as no file at all and is left byte for byte.
void TestIniFile::neverSavesOverWhatIsNoText()
{
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(char((i * 7919 + 13) % 256));
    static const char tail[] = "\n[\n]\n=\n[]=x\n\0\0=\0\n";
    garbage.append(tail, sizeof tail - 1);
    const QString text("[S]\r\nk=1\r\n");
    const QByteArray utf16 = "\xFF\xFE" + QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    for (const QByteArray& bytes : {garbage, utf16}) {
        WriteFile(Path(), bytes);
        TIniFile ini(Path());
        QCOMPARE(ini.ReadInteger("S", "k", 5), 5);
        QVERIFY_THROWS_EXCEPTION(EIniFileError, ini.WriteInteger("S", "k", 6));
        QCOMPARE(ReadFile(Path()), bytes);
    }
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "test_inifile.moc"
