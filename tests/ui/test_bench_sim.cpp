// The window as a commissioning bench against the module simulator: finding
// the modules of a bus, the event log and its CSV, the production record, and
// the same record from vyxctl.

#include "MainWindowTestSupport.h"

#include "base/AppErrors.h"
#include "files/IniFile.h"
#include "session/ModuleSessionU.h"
#include "session/SessionEventsU.h"
#include "tests/support/CsvReader.h"
#include "tests/support/FastTiming.h"
#include "tests/support/SessionEventTypes.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestFiles.h"
#include "ui/EventLogU.h"
#include "ui/FindModulesU.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTreeWidget>

#include <memory>

namespace {
constexpr int LinkWaitMs = 5000;
constexpr int RunWaitMs = 10000;
}

class TestBenchSim : public QObject {
    Q_OBJECT
private slots:
    void cleanup();

    void findModulesListsTheBusAndChoosingMovesTheAddress_data();
    void findModulesListsTheBusAndChoosingMovesTheAddress();
    void eventLogOfAScriptedSessionReadsBackAsCsv_data();
    void eventLogOfAScriptedSessionReadsBackAsCsv();
    void recordLineEqualsVyxctls();
    void noWriteWithoutItsRecord();
    void logFollowsTheNewestUnlessScrolledBack();

private:
    void Start(const QString& line, const QStringList& simArgs, const QByteArray& extraSettings = {},
               bool czech = false);
    QStringList CtlLine() const;
    QByteArray RunCtl(const QStringList& args);

    QTemporaryDir FDir;
    std::unique_ptr<TSimProcess> FSimulator;
    std::unique_ptr<TProgramFolder> FFolder;
    std::unique_ptr<TMainWindow> FWindow;
};

void TestBenchSim::cleanup()
{
    FWindow.reset();
    FFolder.reset();
    FSimulator.reset();
}

void TestBenchSim::Start(const QString& line, const QStringList& simArgs, const QByteArray& extraSettings, bool czech)
{
    FSimulator = std::make_unique<TSimProcess>();
    QVERIFY(FSimulator->Start(SimLineArguments(line) + simArgs));
    FFolder = std::make_unique<TProgramFolder>(SimLineSettings(line, *FSimulator) + extraSettings);
    if (czech)
        QVERIFY(QFile::copy(QStringLiteral(VYX_LANGUAGE_DIR "/cs.lng"), FFolder->Path() + "cs.lng"));
    FWindow = std::make_unique<TMainWindow>(FFolder->Path());
    FWindow->Session().SetTiming(FastTiming());
    FWindow->show();
    Control<QAction>(*FWindow, "Start1")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(FWindow->Session().IsActive(), LinkWaitMs);
}

QStringList TestBenchSim::CtlLine() const
{
    return {"--settings", FDir.filePath("ctl.ini"), "--lan", FSimulator->Where()};
}

QByteArray TestBenchSim::RunCtl(const QStringList& args)
{
    QProcess ctl;
    ctl.start(QStringLiteral(VYX_CTL), args);
    if (!ctl.waitForFinished(RunWaitMs))
        ctl.kill();
    return ctl.readAllStandardOutput();
}

void TestBenchSim::findModulesListsTheBusAndChoosingMovesTheAddress_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("czech");
    QTest::newRow("tcp") << "tcp" << false;
    QTest::newRow("pty, 9-bit, Czech") << "pty9" << true;
}

void TestBenchSim::findModulesListsTheBusAndChoosingMovesTheAddress()
{
    QFETCH(QString, line);
    QFETCH(bool, czech);
    Start(line, {"--address", "3", "--address", "7", "--address", "12"}, "HWAddress=3\n", czech);
    if (QTest::currentTestFailed())
        return;
    TMainWindow& window = *FWindow;
    auto* find = Control<QAction>(window, "FindModulesMI");
    QCOMPARE(find->text(), czech ? QStringLiteral("Hledat moduly...") : QStringLiteral("Find modules..."));
    QVERIFY(find->isEnabled());
    find->trigger();
    auto* dialog = window.findChild<TFindModulesDlg*>();
    QVERIFY(dialog && dialog->isVisible());
    // a range of its own, asked afresh once the whole bus's scan is stopped
    QVERIFY(window.Session().Scanning());
    Control<QPushButton>(*dialog, "StopBtn")->click();
    QVERIFY(!window.Session().Scanning());
    Control<QSpinBox>(*dialog, "FromSE")->setValue(3);
    Control<QSpinBox>(*dialog, "ToSE")->setValue(12);
    Control<QPushButton>(*dialog, "FindBtn")->click();
    QVERIFY(window.Session().Scanning());
    QTRY_VERIFY_WITH_TIMEOUT(!window.Session().Scanning(), LinkWaitMs);
    auto* list = Control<QTreeWidget>(*dialog, "ModulesTV");
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows << list->topLevelItem(i)->text(0) + ' ' + list->topLevelItem(i)->text(2);
    // the simulator numbers its modules' serial numbers on from the first
    QCOMPARE(rows, QStringList({"3 0012A3FF", "7 0112A3FF", "12 0212A3FF"}));
    SaveRendering(*dialog, czech ? "findmodules-cs" : "findmodules-en");

    list->setCurrentItem(list->topLevelItem(1));
    dialog->Choose();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(Control<QSpinBox>(window, "SetAddressSE")->value(), 7);
    QCOMPARE(int(window.Session().Address()), 7);
    // the poll is back, at the chosen module
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(window, "Label2")->text(), QStringLiteral("sn: 0112A3FF"), LinkWaitMs);
}

void TestBenchSim::eventLogOfAScriptedSessionReadsBackAsCsv_data()
{
    QTest::addColumn<bool>("czech");
    QTest::newRow("English") << false;
    QTest::newRow("Czech") << true;
}

void TestBenchSim::eventLogOfAScriptedSessionReadsBackAsCsv()
{
    QFETCH(bool, czech);
    Start("tcp", {}, {}, czech);
    if (QTest::currentTestFailed())
        return;
    TMainWindow& window = *FWindow;
    TSessionEventLog& log = window.EventLog();
    FSimulator->Command("code 0C");
    FSimulator->Command("card 0011223344556677");
    QTRY_VERIFY_WITH_TIMEOUT(EventTypes(log).contains("card"), LinkWaitMs);
    FSimulator->Command("tamper on");
    QTRY_VERIFY_WITH_TIMEOUT(EventTypes(log).contains("change:tamper=on"), LinkWaitMs);
    FSimulator->Command("tamper off");
    QTRY_VERIFY_WITH_TIMEOUT(EventTypes(log).contains("change:tamper=off"), LinkWaitMs);
    Control<QAction>(window, "WriteMI")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(EventTypes(log).contains("write"), LinkWaitMs);
    QSignalSpy timeOuts(&window.Session(), &TModuleSession::TimedOut);
    FSimulator->Command("silent on");
    QTRY_VERIFY_WITH_TIMEOUT(timeOuts.count() >= 3, LinkWaitMs); // one run of them
    QCOMPARE(EventTypes(log), QStringList({"linkOpened", "card", "change:tamper=on", "change:tamper=off", "write", "timeOut"}));
    QCOMPARE(log.Event(4).Text("result"), QStringLiteral("done"));
    QCOMPARE(log.Event(4).Text("serialNumber"), QStringLiteral("0012A3FF"));

    Control<QAction>(window, "EventLogMI")->trigger();
    auto* logWindow = window.findChild<TEventLogWindow*>();
    QVERIFY(logWindow && logWindow->isVisible());
    QCOMPARE(logWindow->windowTitle(), czech ? QStringLiteral("Záznam událostí") : QStringLiteral("Event log"));
    SaveRendering(*logWindow, czech ? "eventlog-cs" : "eventlog-en");
    const QString csv = FDir.filePath("events.csv");
    QString why;
    QVERIFY2(logWindow->ExportTo(csv, why), qPrintable(why));
    const QList<QStringList> records = ParseCsv(QString::fromUtf8(ReadFile(csv)));
    QCOMPARE(records.size(), log.rowCount() + 1);
    // the columns keep the field names whatever the language shown
    QCOMPARE(records[0], SessionEvents::FieldNames());
    const qsizetype card = SessionEvents::FieldNames().indexOf("card");
    QCOMPARE(records[2][card], QStringLiteral("0011223344556677"));
    QCOMPARE(records[2][SessionEvents::FieldNames().indexOf("code")], QStringLiteral("0C"));
    QCOMPARE(records[5][SessionEvents::FieldNames().indexOf("result")], QStringLiteral("done"));
}

void TestBenchSim::recordLineEqualsVyxctls()
{
    const QString windowRecord = FDir.filePath("window.jsonl");
    Start("tcp", {}, "[ReaderData]\nStrikeTime=9\nReaderFunction=1\n[Production]\nRecordFile=" + windowRecord.toUtf8() + "\n");
    if (QTest::currentTestFailed())
        return;
    // vyxctl's settings the window's: the same values from the same defaults
    QFile::remove(FDir.filePath("ctl.ini"));
    QVERIFY(QFile::copy(FFolder->Path() + "VyxvozeRadavo.ini", FDir.filePath("ctl.ini")));
    Control<QAction>(*FWindow, "WriteMI")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(ReadFile(windowRecord).endsWith('\n'), LinkWaitMs);
    Control<QAction>(*FWindow, "Start1")->trigger(); // the simulator takes one client at a time
    QTRY_VERIFY_WITH_TIMEOUT(!FWindow->Session().IsActive(), LinkWaitMs);

    const QString ctlRecord = FDir.filePath("ctl.jsonl");
    QFile::remove(ctlRecord);
    RunCtl(CtlLine() + QStringList{"write", "--record", ctlRecord});
    QJsonObject fromWindow = QJsonDocument::fromJson(ReadFile(windowRecord)).object();
    QJsonObject fromCtl = QJsonDocument::fromJson(ReadFile(ctlRecord)).object();
    QVERIFY(!fromWindow.isEmpty() && !fromCtl.isEmpty());
    QCOMPARE(fromWindow.value("serialNumber").toString(), QStringLiteral("0012A3FF"));
    QCOMPARE(fromWindow.value("registers").toObject().value("0x00").toInt(), 9);
    for (const char* key : {"time", "host"}) {
        QVERIFY(!fromWindow.take(key).toString().isEmpty());
        fromCtl.remove(key);
    }
    QCOMPARE(fromWindow, fromCtl);
}

void TestBenchSim::noWriteWithoutItsRecord()
{
    QStringList reports;
    AppErrors::SetHandler([&](const QString& message) { reports << message; });
    const auto restore = qScopeGuard([] { AppErrors::SetHandler(nullptr); });
    const QString record = FDir.filePath("missing/record.jsonl");
    Start("tcp", {}, "[Production]\nRecordFile=" + record.toUtf8() + "\n");
    if (QTest::currentTestFailed())
        return;
    Control<QAction>(*FWindow, "WriteMI")->trigger();
    QCOMPARE(reports.size(), 1);
    QVERIFY2(reports[0].contains(record), qPrintable(reports[0]));
    QVERIFY(FWindow->Session().Transfer().Status() != TTransferState::TStatus::Transferring);
    QVERIFY(!QFile::exists(record));
}

void TestBenchSim::logFollowsTheNewestUnlessScrolledBack()
{
    TCommThread link;
    TModuleSession session(link);
    TSessionEventLog log(session);
    const TIniFile noLanguage(FDir.filePath("none.lng"));
    TEventLogWindow window(log, noLanguage);
    window.show();
    QScrollBar* bar = window.View().verticalScrollBar();
    auto addEvents = [&](int count) {
        for (int i = 0; i < count; ++i)
            emit session.AddressTaken(i % 16 + 1, false);
    };
    addEvents(200);
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    bar->setValue(bar->maximum() / 2);
    const int lookedAt = bar->value();
    addEvents(50);
    QCOMPARE(bar->value(), lookedAt);
    bar->setValue(bar->maximum());
    addEvents(50);
    QCOMPARE(bar->value(), bar->maximum());
}

QTEST_MAIN(TestBenchSim)
#include "test_bench_sim.moc"
