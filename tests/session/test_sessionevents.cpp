// The session's event log fed with the session's own signals: what becomes
// an event, what is said once, what is kept, and the CSV a spreadsheet reads.

#include "link/CommThreadU.h"
#include "module/ModuleRepliesU.h"
#include "session/ModuleSessionU.h"
#include "session/SessionEventsU.h"
#include "tests/support/CsvReader.h"
#include "tests/support/SessionEventTypes.h"

#include <QBuffer>
#include <QTest>

namespace {
ModuleReplies::TModuleStatus Status(std::uint8_t flags, const QByteArray& card = QByteArray(8, '\0'))
{
    return {card, flags, std::uint8_t(0x0C)};
}
}

class TestSessionEvents : public QObject {
    Q_OBJECT
private slots:
    void changesCardsAndTheFirstStatus();
    void silenceAndLossSaidOncePerRun();
    void csvReadsBackWithQuotedFields();
    void keepsTheNewestTenThousand();
};

void TestSessionEvents::changesCardsAndTheFirstStatus()
{
    using namespace ModuleReplies::Flag;
    TCommThread link;
    TModuleSession session(link);
    TSessionEventLog log(session);
    emit session.Opened();
    emit session.StatusReceived(Status(Input1)); // where the log starts
    emit session.StatusReceived(Status(Input1 | Tamper | CardRead, QByteArray::fromHex("0011223344556677")));
    emit session.StatusReceived(Status(Input1 | Tamper)); // no card since: nothing
    emit session.StatusReceived(Status(Relay));
    QCOMPARE(EventTypes(log), QStringList({"linkOpened", "card", "change:tamper=on", "change:input1=off",
                                           "change:relay=on", "change:tamper=off"}));
    QCOMPARE(log.Event(1).ToJson(), QJsonObject({{"time", log.Event(1).Text("time")}, {"event", "card"},
                                                 {"address", 1}, {"card", "0011223344556677"}, {"code", "0C"}}));
    QVERIFY(QTime::fromString(log.Event(0).Text("time"), "HH:mm:ss.zzz").isValid());
}

void TestSessionEvents::silenceAndLossSaidOncePerRun()
{
    TCommThread link;
    TModuleSession session(link);
    TSessionEventLog log(session);
    for (int i = 0; i < 3; ++i)
        emit session.TimedOut();
    emit session.ReplyArrived();
    emit session.TimedOut();
    // an error that ends the link, then its close with the same reason
    emit session.LinkFailed("Connection closed by the device server");
    emit session.Closed("Connection closed by the device server");
    emit session.Opened();
    emit session.Closed({});
    QCOMPARE(EventTypes(log), QStringList({"timeOut", "timeOut", "linkLost", "linkOpened", "linkClosed"}));
    QCOMPARE(log.Event(2).Text("reason"), QStringLiteral("Connection closed by the device server"));
}

void TestSessionEvents::csvReadsBackWithQuotedFields()
{
    TCommThread link;
    TModuleSession session(link);
    TSessionEventLog log(session);
    emit session.LinkFailed(QStringLiteral("refused, \"twice\"\r\nthen gone – ř"));
    emit session.AddressTaken(7, true);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(log.WriteCsv(buffer));
    const QList<QStringList> records = ParseCsv(QString::fromUtf8(buffer.data()));
    QCOMPARE(records.size(), 3);
    QCOMPARE(records[0], SessionEvents::FieldNames());
    for (int row = 0; row < 2; ++row) {
        QStringList expected;
        for (const QString& field : SessionEvents::FieldNames())
            expected << log.Event(row).Text(field);
        QCOMPARE(records[row + 1], expected);
    }
    QCOMPARE(records[1][SessionEvents::FieldNames().indexOf("reason")], QStringLiteral("refused, \"twice\"\r\nthen gone – ř"));
    QCOMPARE(records[2][SessionEvents::FieldNames().indexOf("method")], QStringLiteral("card"));
}

void TestSessionEvents::keepsTheNewestTenThousand()
{
    TCommThread link;
    TModuleSession session(link);
    TSessionEventLog log(session);
    for (int i = 1; i <= TSessionEventLog::Kept + 5; ++i)
        emit session.AddressTaken(i % 16 + 1, false);
    QCOMPARE(log.rowCount(), TSessionEventLog::Kept);
    QCOMPARE(log.Event(0).Text("address"), QString::number(6 % 16 + 1));
}

QTEST_GUILESS_MAIN(TestSessionEvents)
#include "test_sessionevents.moc"
