// The production record against a real PostgreSQL server: a throw-away
// cluster started for this test.

#include "production/ProductionDatabaseU.h"
#include "tests/support/FastTiming.h"
#include "tests/support/PostgresCluster.h"
#ifdef VYX_CTL
#include "tests/support/SimProcess.h"
#endif

#include "tests/support/TestFiles.h"

#include <QJsonDocument>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <thread>

namespace {
TProductionWrite Write(int address = 1)
{
    return {"vyxctl", "tcp", "127.0.0.1:10000", address, WrittenValues({}, std::nullopt)};
}

struct TRun {
    int exitCode = -1;
    QString out;
    QString err;
};

#ifdef VYX_CTL
TRun Vyxctl(const QStringList& args)
{
    QProcess process;
    process.setProcessEnvironment(FastPaceEnvironment());
    process.start(QStringLiteral(VYX_CTL), args);
    TRun run;
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}
#endif

// The message of the failure the call raised, or "" when it raised none.
template <class Call>
QString Failure(Call call)
{
    try {
        call();
    } catch (const EProductionDatabase& e) {
        return QString::fromLocal8Bit(e.what());
    }
    return {};
}
}

class TestProduction : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void reserversNeverShareANumber();
    void schemaOfANewerProgramIsRefused();
    void unusableDatabaseIsNamed_data();
    void unusableDatabaseIsNamed();
    void unfinishedWriteBecomesUnknownWhenItsStationIsGone();
    void recordsFilterBySerialAndTime();
#ifdef VYX_CTL
    void vyxctlStartsTheNumberingOnceAndListsTheRecord();
    void vyxctlExitStatusOfAnUnusableDatabase_data();
    void vyxctlExitStatusOfAnUnusableDatabase();
    void vyxctlWriteTakesItsNumberFromTheDatabase();
#endif

private:
    TPostgresCluster FCluster{QStringLiteral(VYX_POSTGRES_BIN)};
    // runs SQL among the tables of this test function
    bool Sql(const QString& sql) { return FCluster.Sql("postgres", "SET search_path = " + FSchema + ";" + sql); }

    QString FSchema; // of this test function's own, set up
    QString FUrl;
    int FSchemas = 0;
};

void TestProduction::initTestCase()
{
    QString why;
    QVERIFY2(FCluster.Start(why), qPrintable(why));
}

#ifdef VYX_CTL
// Two master writes with "--app-id next": the numbers come from the
// database, each row says how its write ended and what the module gave
// back; a database that cannot be reached refuses the write before any
// register is written.
void TestProduction::vyxctlWriteTakesItsNumberFromTheDatabase()
{
    TSimProcess simulator;
    QVERIFY(simulator.Start({"--tcp", "127.0.0.1:0"}, true));
    QTemporaryDir dir;
    const QString settings = dir.filePath("station.ini");
    WriteFile(settings, "[ReaderData]\nLastAppID=00000001\n");
    const QStringList write{"--settings", settings, "--lan", simulator.Where(), "--json", "write", "--master",
                            "--app-id", "next", "--add-card", "1", "--del-card", "2"};
    for (const char* serial : {"FE000000", "FF000000"}) {
        const TRun run = Vyxctl(QStringList{"--database", FUrl} + write);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY2(run.out.contains(QStringLiteral("\"serialNumber\":\"%1\"").arg(serial)), qPrintable(run.out));
    }
    TProductionDatabase db(FUrl);
    const QList<TRecordRow> rows = db.Records({});
    QCOMPARE(rows.size(), 2);
    for (const TRecordRow& row : rows) {
        QCOMPARE(row.state, QStringLiteral("ok"));
        QCOMPARE(row.frontEnd, QStringLiteral("vyxctl"));
        QVERIFY(row.serialRead && *row.serialRead == *row.serialWritten);
        QCOMPARE(row.firmware, QStringLiteral("2.5"));
    }
    // the settings file's number is not used while a database is set
    QVERIFY(ReadFile(settings).contains("LastAppID=00000001"));

    const qsizetype before = simulator.Output().size();
    const TRun refused = Vyxctl(QStringList{"--database", "postgresql://nobody@127.0.0.1:1/none"} + write);
    QCOMPARE(refused.exitCode, 7);
    QVERIFY(!simulator.Output().mid(before).contains("reg write"));

    // the database lost while the module is written: the module's new number is still told
    QProcess lost;
    lost.setProcessEnvironment(FastPaceEnvironment());
    lost.start(QStringLiteral(VYX_CTL), QStringList{"--database", FUrl} + write);
    QTRY_VERIFY_WITH_TIMEOUT(simulator.Output().mid(before).contains("reg write"), 10000);
    FCluster.StopServer();
    QVERIFY(lost.waitForFinished(30000));
    QString why;
    QVERIFY2(FCluster.StartServer(why), qPrintable(why));
    QCOMPARE(lost.exitCode(), 7);
    QVERIFY(lost.readAllStandardOutput().contains("\"serialNumber\":\"00010000\""));
    QVERIFY(lost.readAllStandardError().contains("row was not finished and becomes \"unknown\""));
}
#endif

void TestProduction::init()
{
    // a schema each: much quicker than a database each
    FSchema = QStringLiteral("line%1").arg(++FSchemas);
    QVERIFY(FCluster.Sql("postgres", "CREATE SCHEMA " + FSchema));
    FUrl = FCluster.Url("postgres", FSchema);
    TProductionDatabase db(FUrl);
    QVERIFY(db.Initialize(AppIDBytes("fe000000")));
    QVERIFY(!db.Initialize(AppIDBytes("00000001"))); // the numbering starts once
    QCOMPARE(AppIDText(db.NextSerial()), QStringLiteral("fe000000"));
}

void TestProduction::reserversNeverShareANumber()
{
    constexpr int PerStation = 40;
    QList<TReservation> taken[2];
    auto station = [this](QList<TReservation>& mine) {
        TProductionDatabase db(FUrl);
        for (int i = 0; i < PerStation; ++i)
            mine << db.Reserve(Write());
    };
    {
        std::jthread first(station, std::ref(taken[0]));
        std::jthread second(station, std::ref(taken[1]));
    }
    QList<TReservation> all = taken[0] + taken[1];
    QCOMPARE(all.size(), 2 * PerStation);
    std::sort(all.begin(), all.end(), [](const TReservation& a, const TReservation& b) {
        return AppIDNumber(a.serial) < AppIDNumber(b.serial);
    });
    // one after the other as the module's counter goes, the carry across bytes included
    TAppID expected = AppIDBytes("fe000000");
    for (const TReservation& r : all) {
        QCOMPARE(AppIDText(r.serial), AppIDText(expected));
        expected = IncrementAppID(expected);
    }
    TProductionDatabase db(FUrl);
    const QList<TRecordRow> rows = db.Records({});
    QCOMPARE(rows.size(), all.size());
    QVERIFY(std::all_of(rows.begin(), rows.end(), [](const TRecordRow& r) { return r.state == "unknown"; }));
}

void TestProduction::schemaOfANewerProgramIsRefused()
{
    QVERIFY(Sql("UPDATE vyx_schema SET version = 2"));
    TProductionDatabase db(FUrl);
    QVERIFY(Failure([&] { db.Reserve(Write()); }).contains("schema version 2, newer than this program's 1"));
    QVERIFY(!Failure([&] { db.Initialize(AppIDBytes("00000001")); }).isEmpty());
    QVERIFY(Sql(
                         "DO $$ BEGIN IF (SELECT count(*) FROM vyx_write) > 0"
                         " OR (SELECT next FROM vyx_serial_number) <> 254 THEN RAISE 'written'; END IF; END $$"));
}

void TestProduction::unusableDatabaseIsNamed_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("reason");
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const int port = closed.serverPort();
    closed.close();
    QVERIFY(FCluster.Sql("postgres", "CREATE SCHEMA empty"));
    QTest::newRow("no server") << QStringLiteral("postgresql://line@127.0.0.1:%1/production").arg(port)
                               << QStringLiteral("cannot connect to the production database line@127.0.0.1:%1/"
                                                 "production: connection to server at \"127.0.0.1\", port %1 failed: "
                                                 "Connection refused")
                                      .arg(port);
    QTest::newRow("unknown login") << FCluster.Url("postgres", "empty").replace("//vyx@", "//intruder:secret@")
                                   << QStringLiteral("FATAL: role \"intruder\" does not exist");
    QTest::newRow("no tables") << FCluster.Url("postgres", "empty")
                               << QStringLiteral("lacks this program's tables (relation \"vyx_schema\" does not "
                                                 "exist): run vyxctl db init");
}

void TestProduction::unusableDatabaseIsNamed()
{
    QFETCH(QString, url);
    QFETCH(QString, reason);
    TProductionDatabase db(url);
    const QString why = Failure([&] { db.Reserve(Write()); });
    QVERIFY2(why.contains(reason), qPrintable(why));
    QVERIFY2(!why.contains("secret"), qPrintable(why));
}

void TestProduction::unfinishedWriteBecomesUnknownWhenItsStationIsGone()
{
    TProductionDatabase other(FUrl);
    qint64 lost = 0;
    {
        TProductionDatabase station(FUrl);
        const TReservation open = station.Reserve(Write());
        lost = station.Record(Write(2), AppIDBytes("12345678"));
        other.Check();
        QCOMPARE(other.Records({})[0].state, QStringLiteral("sent")); // still being written
        station.Finish(open.id, {true, {}, {}, open.serial, "2.5"});
    }
    TProductionDatabase next(FUrl);
    const QList<TRecordRow> rows = next.Records({});
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].state, QStringLiteral("ok"));
    QCOMPARE(rows[1].state, QStringLiteral("unknown"));
    // a station that comes back and can tell has the last word
    next.Finish(lost, {false, "register 0x03", "no reply", std::nullopt, {}});
    QCOMPARE(next.Records({})[1].state, QStringLiteral("failed"));
    QVERIFY(!Failure([&] { next.Finish(lost, {true, {}, {}, std::nullopt, {}}); }).isEmpty());
}

void TestProduction::recordsFilterBySerialAndTime()
{
    TProductionDatabase db(FUrl);
    const TReservation a = db.Reserve(Write(3));
    db.Finish(a.id, {true, {}, {}, AppIDBytes("0badcafe"), "2.5"}); // a module that kept its own number
    const TReservation b = db.Reserve(Write());
    db.Finish(b.id, {false, "\"+\" card", "no reply", std::nullopt, {}});
    const qint64 c = db.Record(Write(), std::nullopt);
    QVERIFY(Sql(
                         QStringLiteral("UPDATE vyx_write SET time = now() - interval '2 days' WHERE id = %1").arg(a.id)));

    auto ids = [&](const TRecordFilter& filter) {
        QList<qint64> found;
        for (const TRecordRow& row : db.Records(filter))
            found << row.id;
        return found;
    };
    QCOMPARE(ids({}), (QList<qint64>{a.id, b.id, c}));
    QCOMPARE(ids({a.serial, std::nullopt}), QList<qint64>{a.id});
    QCOMPARE(ids({AppIDBytes("0BADCAFE"), std::nullopt}), QList<qint64>{a.id});
    QCOMPARE(ids({std::nullopt, QDateTime::currentDateTime().addDays(-1)}), (QList<qint64>{b.id, c}));
    QCOMPARE(ids({b.serial, QDateTime::currentDateTime().addDays(1)}), QList<qint64>{});

    // a login that may only read sees the same
    QVERIFY(Sql(QStringLiteral("CREATE ROLE %1 LOGIN; GRANT USAGE ON SCHEMA %1 TO %1;"
                               "GRANT SELECT ON ALL TABLES IN SCHEMA %1 TO %1")
                    .arg(FSchema)));
    TProductionDatabase reader(QString(FUrl).replace("//vyx@", "//" + FSchema + "@"));
    QCOMPARE(reader.Records({}).size(), 3);

    const QJsonObject failed = db.Records({b.serial, std::nullopt})[0].ToJson();
    QCOMPARE(failed["result"].toString(), QStringLiteral("failed"));
    QCOMPARE(failed["failedSetting"].toString(), QStringLiteral("\"+\" card"));
    QCOMPARE(failed["reason"].toString(), QStringLiteral("no reply"));
    QCOMPARE(failed["values"].toObject()["strikeTime"].toInt(), 7);
    QCOMPARE(failed["serialRead"], QJsonValue(QJsonValue::Null));
    QCOMPARE(failed["user"].toString().isEmpty(), false);
}

#ifdef VYX_CTL
void TestProduction::vyxctlStartsTheNumberingOnceAndListsTheRecord()
{
    QVERIFY(Sql("DROP TABLE vyx_schema, vyx_serial_number, vyx_write"));
    // the database from the settings file, the first number from the command line
    QTemporaryDir dir;
    const QString settings = dir.filePath("line.ini");
    WriteFile(settings, "[ReaderData]\nLastAppID=00000001\n[Production]\nDatabase=" + FUrl.toUtf8() + "\n");
    TRun run = Vyxctl({"--settings", settings, "db", "init", "--first", "ff12a3ff"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.endsWith("schema version 1 created, next serial number FF12A3FF\n"), qPrintable(run.out));
    run = Vyxctl({"--settings", settings, "db", "init", "--first", "00000002"});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("were started before and start once; the next is FF12A3FF"), qPrintable(run.err));

    TProductionDatabase db(FUrl);
    const TReservation a = db.Reserve(Write());
    db.Finish(a.id, {true, {}, {}, a.serial, "2.5"});
    const TReservation b = db.Reserve(Write(2));
    QCOMPARE(AppIDText(b.serial), QStringLiteral("0013a3ff"));
    run = Vyxctl({"--database", FUrl, "--json", "records", "--serial", "0013A3FF", "--since", "2000-01-01"});
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    const QJsonObject row = QJsonDocument::fromJson(lines[0].toUtf8()).object();
    QCOMPARE(row["id"].toInteger(), b.id);
    QCOMPARE(row["result"].toString(), QStringLiteral("sent")); // its station is still connected
    QCOMPARE(row["address"].toInt(), 2);

    // a certificate only for a write that went through
    run = Vyxctl({"--database", FUrl, "certificate", "--serial", "0013a3ff", "--out", dir.filePath("c.pdf")});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("holds no write of 0013A3FF that went through"), qPrintable(run.err));
}

void TestProduction::vyxctlExitStatusOfAnUnusableDatabase_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("reason");
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString url = QStringLiteral("postgresql://line@127.0.0.1:%1/production").arg(closed.serverPort());
    closed.close();
    QTest::newRow("no server") << QStringList{"--database", url, "records"} << 7
                               << "vyxctl: cannot connect to the production database line@127.0.0.1:";
    QTest::newRow("no URL") << QStringList{"--database", "mysql://line:s3cret@db/production", "records"} << 2
                            << "vyxctl: --database: \"mysql://line:****@db/production\" is no postgresql:// URL";
    QTest::newRow("bad URL") << QStringList{"--database", "postgresql://line:s3%zz@db/production", "records"} << 2
                             << "vyxctl: --database: not a valid postgresql:// URL: invalid percent-encoded token: "
                                "\"****\"";
}

void TestProduction::vyxctlExitStatusOfAnUnusableDatabase()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, reason);
    const TRun run = Vyxctl(args);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(reason), qPrintable(run.err));
}
#endif

QTEST_GUILESS_MAIN(TestProduction)
#include "test_production.moc"
