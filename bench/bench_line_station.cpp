// The window as one station of a production line: master writes, one after
// the other, numbered by the line's database, against a module (the
// simulator) on a device server, until MODULES are written (or three times
// as many attempts). A line per attempt: its number, "ok", "failed" or
// "refused" (the database could not be used and nothing was sent), the time
// it ended (ms since the epoch), then the serial number the module gave
// back and how long it took, or the reason it was refused. A write that did not
// go through is tried again after a second, as a technician would. A write
// whose row the database lost before it was finished adds a line "- unfinished".
// Usage: QT_QPA_PLATFORM=offscreen bench_line_station PORT DATABASE_URL MODULES
#include "BenchWait.h"
#include "base/AppErrors.h"
#include "module/CardNumbersU.h"
#include "ui/MainWindowU.h"
#include "widgets/FriendlyStatusBar.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PORT DATABASE_URL MODULES\n", argv[0]);
        return 2;
    }
    const int modules = std::atoi(argv[3]);
    QTemporaryDir dir;
    QFile settings(dir.filePath(QStringLiteral("VyxvozeRadavo.ini")));
    if (!settings.open(QIODevice::WriteOnly))
        return 1;
    settings.write("[Communication]\nCommunicationMode=LAN\nIPAddress=127.0.0.1\nIPPort=" + QByteArray(argv[1])
                   + "\n[ReaderData]\nMaster=1\n[Version]\nSetMaster=1\n[Production]\nDatabase="
                   + QByteArray(argv[2]) + "\n");
    settings.close();

    QString refusal;
    AppErrors::SetHandler([&refusal](const QString& message) {
        // a write through whose row the database lost: said on a line of its own, not as the next one's refusal
        if (message.startsWith("the write's row was not finished")) {
            std::printf("- unfinished %lld %s\n", QDateTime::currentMSecsSinceEpoch(), qPrintable(message));
            return;
        }
        refusal = message;
    });
    TMainWindow window(dir.path());
    window.show();
    window.findChild<QLineEdit*>("AddCardED")->setText("1");
    window.findChild<QLineEdit*>("DelCardED")->setText("2");
    window.findChild<QAction*>("Start1")->trigger();
    auto* serial = window.findChild<QLabel*>("Label2");
    auto* write = window.findChild<QAction*>("WriteMI");
    auto* statusBar = window.findChild<TFriendlyStatusBar*>("FriendlyStatusBar1");
    auto status = [statusBar] { return statusBar->PanelText(2); };
    if (!WaitFor([&] { return serial->text().startsWith("sn: 0"); }, 5000)) {
        std::fprintf(stderr, "no module on port %s\n", argv[1]);
        return 1;
    }

    auto pause = [] { WaitFor([] { return false; }, 1000); };
    for (int i = 1, modulesWritten = 0; modulesWritten < modules && i <= 3 * modules; ++i) {
        QElapsedTimer took;
        took.start();
        refusal.clear();
        write->trigger();
        // the line's database is asked on a thread of its own: Write waits for its answer
        WaitFor([&] { return write->isEnabled(); }, 30000);
        if (!refusal.isEmpty()) {
            std::printf("%d refused %lld %s\n", i, QDateTime::currentMSecsSinceEpoch(), qPrintable(refusal));
            std::fflush(stdout);
            pause();
            continue;
        }
        // the field shows the number after the one the line handed out
        const QString expected = QStringLiteral("sn: ")
            + SerialNumberText(DecrementAppID(AppIDBytes(window.findChild<QLineEdit*>("AppIDED")->text())));
        const bool through = WaitFor([&] { return status() != "Transfering data..."; }, 30000)
                             && status() == "Data transfer OK."
                             && WaitFor([&] { return serial->text() == expected; }, 5000);
        std::printf("%d %s %lld %s %lld ms\n", i, through ? "ok" : "failed", QDateTime::currentMSecsSinceEpoch(),
                    qPrintable(expected.mid(4)),
                    static_cast<long long>(took.elapsed()));
        std::fflush(stdout);
        if (through)
            ++modulesWritten;
        else
            pause();
    }
    // the last row is finished once the serial number is read back
    pause();
    return 0;
}
