// The --state file text: what goes in comes back, and bad files are refused
// with the line that is wrong.

#include "tools/module-sim/StateFile.h"

#include <QTest>

class TestSimStateFile : public QObject {
    Q_OBJECT

private slots:
    void roundTrip();
    void missingKeysKeepFactoryValues();
    void badTextIsRefused_data();
    void badTextIsRefused();
};

void TestSimStateFile::roundTrip()
{
    std::vector<TSimModule> modules{TSimModule(3), TSimModule(16)};
    modules[0].SetRegister(0x00, 0xAA);
    modules[0].SetSerial({0x01, 0x02, 0x03, 0x04});
    modules[1].SetMasterCard(0, {0, 0, 0, 0, 0, 0, 0x12, 0x34});
    modules[1].SetMasterCard(1, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10});

    const TStateParse parsed = ParseState(FormatState(modules), TFirmwareVersion{3, 1});
    QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
    QCOMPARE(parsed.modules.size(), 2u);
    for (std::size_t i = 0; i < modules.size(); ++i) {
        QCOMPARE(parsed.modules[i].Address(), modules[i].Address());
        for (std::uint8_t r = 0; r < SimRegister::Count; ++r)
            QCOMPARE(parsed.modules[i].Register(r), modules[i].Register(r));
        QCOMPARE(parsed.modules[i].MasterCard(0), modules[i].MasterCard(0));
        QCOMPARE(parsed.modules[i].MasterCard(1), modules[i].MasterCard(1));
        QCOMPARE(parsed.modules[i].Firmware().major, 3); // firmware is not state
    }
}

void TestSimStateFile::missingKeysKeepFactoryValues()
{
    const TStateParse parsed = ParseState("[module]\r\n  Address = 4 \r\n", {});
    QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
    QCOMPARE(parsed.modules.front().Address(), 4);
    QCOMPARE(parsed.modules.front().Serial(), (TSerialNumber{0x00, 0x12, 0xA3, 0xFF}));
    QCOMPARE(parsed.modules.front().Register(0x00), 7);
}

void TestSimStateFile::badTextIsRefused_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("empty") << "" << "no [module] section";
    QTest::newRow("key first") << "address=1\n[module]\n" << "line 1: key outside a [module] section";
    QTest::newRow("no equals") << "[module]\naddress 1\n" << "line 2: expected key=value or [module]";
    QTest::newRow("unknown key") << "[module]\ncolour=red\n" << "line 2: unknown key \"colour\"";
    QTest::newRow("address 0") << "[module]\naddress=0\n" << "line 2: address must be 1..16";
    QTest::newRow("few registers") << "[module]\nregisters=01 02\n" << "line 2: registers must be 11 hex bytes";
    QTest::newRow("bad register") << "[module]\nregisters=01 02 03 04 05 06 07 08 09 0A ZZ\n"
                                  << "line 2: registers: \"ZZ\" is not a hex byte";
    QTest::newRow("bad card") << "[module]\nplus-card=\n" << "line 2: plus-card must be 1 to 16 hex digits";
    QTest::newRow("same address twice") << "[module]\n[module]\n" << "two modules at address 1";
    QString many;
    for (int i = 0; i < 17; ++i)
        many += QStringLiteral("[module]\naddress=%1\n").arg(i % 16 + 1);
    QTest::newRow("17 modules") << many << "line 33: more than 16 modules";
}

void TestSimStateFile::badTextIsRefused()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    const TStateParse parsed = ParseState(text, {});
    QCOMPARE(parsed.error, error);
    QVERIFY(parsed.modules.empty());
}

QTEST_GUILESS_MAIN(TestSimStateFile)
#include "test_sim_statefile.moc"
