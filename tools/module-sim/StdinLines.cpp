#include "tools/module-sim/StdinLines.h"

#include <QMetaObject>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

TStdinLines::TStdinLines(QObject* parent)
    : QObject(parent)
{
}

void TStdinLines::Start()
{
    if (::fcntl(STDIN_FILENO, F_GETFL) < 0) {
        QMetaObject::invokeMethod(this, &TStdinLines::EndOfInput, Qt::QueuedConnection);
        return;
    }
    FNotifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TStdinLines::ReadAvailable);
}

// One read per notification: the notifier said it will not block.
void TStdinLines::ReadAvailable()
{
    char buffer[1024];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        Finish();
        return;
    }
    FPending.append(buffer, n);
    EmitLines();
}

void TStdinLines::EmitLines()
{
    for (;;) {
        const qsizetype end = FPending.indexOf('\n');
        if (end < 0)
            break;
        QByteArray line = FPending.left(end);
        FPending.remove(0, end + 1);
        if (std::exchange(FDiscarding, false))
            continue;
        if (line.endsWith('\r'))
            line.chop(1);
        emit Line(QString::fromLocal8Bit(line));
    }
    if (FPending.size() > MaxLineBytes) {
        emit Line(QString::fromLocal8Bit(FPending.left(MaxLineBytes)));
        FPending.clear();
        FDiscarding = true;
    }
}

void TStdinLines::Finish()
{
    FNotifier->setEnabled(false);
    if (!FPending.isEmpty() && !FDiscarding)
        emit Line(QString::fromLocal8Bit(FPending)); // a last line without its newline
    FPending.clear();
    emit EndOfInput();
}
