// The batch that writes the module's configuration, byte for byte.

#include "module/ConfigurationWriteU.h"

#include <QTest>

#include <optional>

Q_DECLARE_METATYPE(TReaderConfiguration)
Q_DECLARE_METATYPE(std::optional<TMasterConfiguration>)

class TestConfigurationWrite : public QObject {
    Q_OBJECT
private slots:
    void batch_data();
    void batch();
};

void TestConfigurationWrite::batch_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<TReaderConfiguration>("reader");
    QTest::addColumn<std::optional<TMasterConfiguration>>("master");
    QTest::addColumn<QStringList>("requests");

    const TReaderConfiguration defaults;
    const QStringList defaultRequests{"0302520007", "0302520114", "0302520200", "030252031e",
                                      "030252041e", "030252051e", "0302520a00"};
    QTest::newRow("settings-file defaults at address 3") << 3 << defaults << std::optional<TMasterConfiguration>()
                                                         << defaultRequests;

    TReaderConfiguration unticked{255, 0, 1, 1, 2, 3, false};
    QTest::newRow("beep unticked, extremes, address 16")
        << 16 << unticked << std::optional<TMasterConfiguration>()
        << QStringList{"10025200ff", "1002520100", "1002520201", "1002520301",
                       "1002520402", "1002520503", "1002520a01"};

    const TMasterConfiguration master{AppIDBytes("000000FF"), "1234", "1a"};
    QTest::newRow("master: AppID after the beep, then the + and - cards")
        << 3 << defaults << std::optional<TMasterConfiguration>(master)
        << defaultRequests + QStringList{"0302520600", "0302520700", "0302520800", "03025209ff",
                                         "030a0000003412000000000000", "030a0001001a00000000000000"};

    const TMasterConfiguration fullCards{AppIDBytes("a1b2c3d4"), "0123456789ABCDEF", "fedcba9876543210"};
    QTest::newRow("master: 16-digit cards least significant byte first")
        << 1 << defaults << std::optional<TMasterConfiguration>(fullCards)
        << QStringList{"0102520007", "0102520114", "0102520200", "010252031e", "010252041e", "010252051e",
                       "0102520a00", "01025206a1", "01025207b2", "01025208c3", "01025209d4",
                       "010a000000efcdab8967452301", "010a0001001032547698badcfe"};
}

void TestConfigurationWrite::batch()
{
    QFETCH(int, address);
    QFETCH(TReaderConfiguration, reader);
    QFETCH(std::optional<TMasterConfiguration>, master);
    QFETCH(QStringList, requests);
    QStringList sent;
    for (const TByteString& body : ConfigurationWrite(std::uint8_t(address), reader, master))
        sent << QString::fromLatin1(body.toHex());
    QCOMPARE(sent, requests);
}

QTEST_APPLESS_MAIN(TestConfigurationWrite)
#include "test_configurationwrite.moc"
