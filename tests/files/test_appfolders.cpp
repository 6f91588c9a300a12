// Where the program keeps its files: installed (bin beside share/vyxvozeradavo)
// or portable, on real folders in a temporary tree.

#include "files/AppFoldersU.h"
#include "files/IniFile.h"

#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestAppFolders : public QObject {
    Q_OBJECT
private slots:
    void init();

    void portableKeepsEverythingBeside();
    void installedUsesTheUsersFolders();
    void installedLanguage_data();
    void installedLanguage();

private:
    QString Path(const QString& relative) const { return FRoot.filePath(relative); }
    void MakeInstallTree();

    QTemporaryDir FRoot;
};

void TestAppFolders::init()
{
    QVERIFY(FRoot.isValid());
    qputenv("XDG_CONFIG_HOME", Path("config").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", Path("runtime").toLocal8Bit());
    QDir().mkpath(Path("runtime"));
}

void TestAppFolders::MakeInstallTree()
{
    QDir().mkpath(Path("prefix/bin"));
    QDir().mkpath(Path("prefix/share/vyxvozeradavo"));
    WriteFile(Path("prefix/share/vyxvozeradavo/en.lng"), "[Messages]\nConnected=Connected.\n");
    WriteFile(Path("prefix/share/vyxvozeradavo/cs.lng"), "[Messages]\nConnected=P\xc5\x99ipojeno.\n");
}

void TestAppFolders::portableKeepsEverythingBeside()
{
    // a bin folder without the installed data beside it is a plain folder too
    QDir().mkpath(Path("tool/bin"));
    for (const QString& dir : {Path("tool/bin"), Path("tool")}) {
        const TAppFolders f = AppFolders(dir, "cs_CZ");
        QVERIFY(!f.installed);
        QCOMPARE(f.settingsFile, dir + "/VyxvozeRadavo.ini");
        QCOMPARE(f.languageFile, dir + "/default.lng");
        QCOMPARE(f.pageFolder, dir + '/');
    }
    QVERIFY(!QFileInfo::exists(Path("config/VyxvozeRadavo")));
}

void TestAppFolders::installedUsesTheUsersFolders()
{
    MakeInstallTree();
    const TAppFolders f = AppFolders(Path("prefix/bin"), "en_GB");
    QVERIFY(f.installed);
    QCOMPARE(f.settingsFile, Path("config/VyxvozeRadavo/VyxvozeRadavo.ini"));
    QCOMPARE(f.pageFolder, Path("runtime/VyxvozeRadavo/"));
    for (const QString& dir : {Path("config/VyxvozeRadavo"), Path("runtime/VyxvozeRadavo")})
        QCOMPARE(QFileInfo(dir).permissions() & 0x0077, QFileDevice::Permissions());

    // a session without a runtime folder: the cache folder
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_CACHE_HOME", Path("cache").toLocal8Bit());
    QCOMPARE(AppFolders(Path("prefix/bin"), "en_GB").pageFolder, Path("cache/VyxvozeRadavo/"));

    // the settings file is writable there
    TIniFile ini(f.settingsFile);
    ini.WriteString("Window", "Top", "1");
    QCOMPARE(ini.ReadString("Window", "Top", ""), QStringLiteral("1"));
}

void TestAppFolders::installedLanguage_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("ownFile");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("the user's language") << "cs_CZ" << false << "prefix/share/vyxvozeradavo/cs.lng";
    QTest::newRow("no file of it: English") << "de_DE" << false << "prefix/share/vyxvozeradavo/en.lng";
    QTest::newRow("the user's own file wins") << "cs_CZ" << true << "config/VyxvozeRadavo/moje.lng";
}

void TestAppFolders::installedLanguage()
{
    QFETCH(QString, locale);
    QFETCH(bool, ownFile);
    QFETCH(QString, chosen);
    MakeInstallTree();
    if (ownFile) {
        QDir().mkpath(Path("config/VyxvozeRadavo"));
        WriteFile(Path("config/VyxvozeRadavo/moje.lng"), "");
    }
    QCOMPARE(QDir::cleanPath(AppFolders(Path("prefix/bin"), locale).languageFile), Path(chosen));
}

QTEST_GUILESS_MAIN(TestAppFolders)
#include "test_appfolders.moc"
