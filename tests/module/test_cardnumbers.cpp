#include "module/CardNumbersU.h"

#include <QTest>

using TCardBytes = std::array<std::uint8_t, 8>;
Q_DECLARE_METATYPE(TCardBytes)
Q_DECLARE_METATYPE(TAppID)

class TestCardNumbers : public QObject {
    Q_OBJECT
private slots:
    void normalize_data();
    void normalize();
    void cardNumberValidity_data();
    void cardNumberValidity();
    void appIDValidity_data();
    void appIDValidity();
    void cardBytes_data();
    void cardBytes();
    void appIDBytes_data();
    void appIDBytes();
    void increment_data();
    void increment();
};

void TestCardNumbers::normalize_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("normalized");
    QTest::newRow("short lower case") << "1a" << "000000000000001A";
    QTest::newRow("empty") << "" << "0000000000000000";
    QTest::newRow("full length") << "abcdef0123456789" << "ABCDEF0123456789";
    QTest::newRow("longer stays whole") << "12345678901234567" << "12345678901234567";
}

void TestCardNumbers::normalize()
{
    QFETCH(QString, text);
    QFETCH(QString, normalized);
    QCOMPARE(NormalizeCardNumber(text), normalized);
}

void TestCardNumbers::cardNumberValidity_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("one digit") << "0" << true;
    QTest::newRow("16 digits") << "0123456789ABCDEF" << true;
    QTest::newRow("17 digits") << "0123456789ABCDEF0" << false;
    QTest::newRow("lower case") << "abcdef" << true;
    QTest::newRow("G") << "12G4" << false;
    QTest::newRow("blank") << "12 4" << false;
    QTest::newRow("sign") << "-12" << false;
    QTest::newRow("Arabic-Indic digit") << QString(QChar(0x0661)) << false;
    QTest::newRow("fullwidth A") << QString(QChar(0xFF21)) << false;
}

void TestCardNumbers::cardNumberValidity()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(IsValidCardNumber(text), valid);
}

void TestCardNumbers::appIDValidity_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("8 digits") << "000000FF" << true;
    QTest::newRow("mixed case") << "aBcD0123" << true;
    QTest::newRow("7 digits") << "0000000" << false;
    QTest::newRow("9 digits") << "000000000" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("x") << "0x0000FF" << false;
}

void TestCardNumbers::appIDValidity()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(IsValidAppID(text), valid);
}

void TestCardNumbers::cardBytes_data()
{
    QTest::addColumn<QString>("card");
    QTest::addColumn<TCardBytes>("bytes");
    QTest::newRow("most significant first")
        << "0123456789ABCDEF" << TCardBytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    QTest::newRow("1234") << NormalizeCardNumber("1234") << TCardBytes{0, 0, 0, 0, 0, 0, 0x12, 0x34};
    QTest::newRow("not hex gives 0") << "ZZ000000000000FF" << TCardBytes{0, 0, 0, 0, 0, 0, 0, 0xFF};
    QTest::newRow("short text") << "12" << TCardBytes{0x12, 0, 0, 0, 0, 0, 0, 0};
}

void TestCardNumbers::cardBytes()
{
    QFETCH(QString, card);
    QFETCH(TCardBytes, bytes);
    QCOMPARE(CardBytes(card), bytes);
}

void TestCardNumbers::appIDBytes_data()
{
    QTest::addColumn<QString>("appID");
    QTest::addColumn<TAppID>("bytes");
    QTest::newRow("digits 1-2 are byte 0") << "000000FF" << TAppID{0x00, 0x00, 0x00, 0xFF};
    QTest::newRow("lower case") << "a1b2c3d4" << TAppID{0xA1, 0xB2, 0xC3, 0xD4};
    QTest::newRow("empty") << "" << TAppID{0, 0, 0, 0};
    QTest::newRow("non-hex pair") << "12xy3456" << TAppID{0x12, 0, 0x34, 0x56};
    QTest::newRow("odd length") << "1234567" << TAppID{0x12, 0x34, 0x56, 0};
}

void TestCardNumbers::appIDBytes()
{
    QFETCH(QString, appID);
    QFETCH(TAppID, bytes);
    QCOMPARE(AppIDBytes(appID), bytes);
}

void TestCardNumbers::increment_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::newRow("carry out of byte 0") << "000000FF" << "010000ff";
    QTest::newRow("byte 0 counts lowest") << "ff000000" << "00010000";
    QTest::newRow("carry through three bytes") << "ffffff00" << "00000001";
    QTest::newRow("wraps to zero") << "ffffffff" << "00000000";
    QTest::newRow("upper case in, lower case out") << "0A0B0C0D" << "0b0b0c0d";
}

void TestCardNumbers::increment()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QCOMPARE(AppIDText(IncrementAppID(AppIDBytes(before))), after);
    // the certificate steps back from the stored number to the one written
    QCOMPARE(AppIDText(DecrementAppID(AppIDBytes(after))), before.toLower());
}

QTEST_APPLESS_MAIN(TestCardNumbers)
#include "test_cardnumbers.moc"
