// The window's rows in a line's database are taken on a thread of their own:
// the answer comes back on the session's thread, and the Write waits for it.

#include "link/CommThreadU.h"
#include "session/ModuleSessionU.h"
#include "session/ProductionRowU.h"

#include <QTest>
#include <QThread>

class TestProductionRows : public QObject {
    Q_OBJECT
private slots:
    void refusalComesBackOnTheSessionsThread();
};

void TestProductionRows::refusalComesBackOnTheSessionsThread()
{
    TCommThread link;
    TModuleSession session(link);
    // a child of the session, as in the window
    auto* rows = new TProductionRows(session, QStringLiteral("postgresql://line@127.0.0.1:1/production"));
    QStringList refusals;
    connect(rows, &TProductionRows::Refused, this, [&](const QString& why) {
        QCOMPARE(QThread::currentThread(), thread());
        refusals << why;
    });
    for (int i = 0; i < 3; ++i)
        rows->Write({}, TMasterConfiguration{});
    QVERIFY(rows->TakingRow());
    QTRY_COMPARE(refusals.size(), 3);
    QVERIFY2(refusals.first().startsWith("cannot connect to the production database"), qPrintable(refusals.first()));
    QVERIFY(!rows->TakingRow());
}

QTEST_GUILESS_MAIN(TestProductionRows)
#include "test_productionrows.moc"
