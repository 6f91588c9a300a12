// The firmware version and serial number of one module out of the replies on
// a bus, read as the window reads them.

#include "module/ModuleInfoU.h"

#include <QTest>

#include <optional>

class TestModuleInfo : public QObject {
    Q_OBJECT
private slots:
    void readsOneModule_data();
    void readsOneModule();
};

void TestModuleInfo::readsOneModule_data()
{
    // replies as canonical frames without their check word, which is not read
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<QString>("firmware"); // empty: none
    QTest::addColumn<QString>("serial");
    const QStringList serial{"0302b70600", "0302b70712", "0302b708a3", "0302b709ff"};
    QTest::newRow("all four registers and the firmware")
        << QStringList{"0302ff0205"} + serial << "2.5" << "0012A3FF";
    QTest::newRow("another module's replies are passed over")
        << QStringList{"0402ff010a", "0402b70677"} + serial << "" << "0012A3FF";
    QTest::newRow("three registers of four") << serial.mid(1) << "" << "";
    QTest::newRow("all 0xFF: no serial number given")
        << QStringList{"0302b706ff", "0302b707ff", "0302b708ff", "0302b709ff"} << "" << "";
    QTest::newRow("other registers and a short reply change nothing")
        << serial + QStringList{"0302b70a01", "0301b706"} << "" << "0012A3FF";
}

void TestModuleInfo::readsOneModule()
{
    QFETCH(QStringList, replies);
    QFETCH(QString, firmware);
    QFETCH(QString, serial);
    TModuleInfo info(3);
    for (const QString& reply : replies)
        info.Take(QByteArray::fromHex(reply.toLatin1() + "0000"));
    QCOMPARE(info.Firmware().value_or(QString()), firmware);
    QCOMPARE(info.SerialNumber().value_or(QString()), serial);
}

QTEST_GUILESS_MAIN(TestModuleInfo)
#include "test_moduleinfo.moc"
