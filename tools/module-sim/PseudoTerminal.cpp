#include "tools/module-sim/PseudoTerminal.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The one place errno becomes text.
QString SystemError(const QString& what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

bool IsSymbolicLink(const QByteArray& path, bool& exists)
{
    struct stat info {};
    exists = ::lstat(path.constData(), &info) == 0;
    return exists && S_ISLNK(info.st_mode);
}

} // namespace

TPseudoTerminal::~TPseudoTerminal()
{
    Close();
}

bool TPseudoTerminal::Open(const QString& linkPath, QString& error)
{
    const auto fail = [&](const QString& text) {
        error = text;
        Close();
        return false;
    };
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FMaster < 0)
        return fail(SystemError(QStringLiteral("posix_openpt")));
    if (::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0)
        return fail(SystemError(QStringLiteral("unlocking the pseudo-terminal")));
    char name[128];
    if (::ptsname_r(FMaster, name, sizeof name) != 0)
        return fail(SystemError(QStringLiteral("ptsname")));
    FSlavePath = QString::fromLocal8Bit(name);
    FSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FSlave < 0)
        return fail(SystemError(QStringLiteral("opening ") + FSlavePath));
    struct termios raw {};
    if (::tcgetattr(FSlave, &raw) != 0)
        return fail(SystemError(QStringLiteral("tcgetattr ") + FSlavePath));
    ::cfmakeraw(&raw);
    ::cfsetispeed(&raw, B19200);
    ::cfsetospeed(&raw, B19200);
    if (::tcsetattr(FSlave, TCSANOW, &raw) != 0)
        return fail(SystemError(QStringLiteral("tcsetattr ") + FSlavePath));
    if (linkPath.isEmpty())
        return true;

    const QByteArray link = QFile::encodeName(linkPath);
    bool exists = false;
    if (IsSymbolicLink(link, exists))
        ::unlink(link.constData()); // left behind by a simulator that was killed
    else if (exists)
        return fail(QStringLiteral("%1 exists and is not a symbolic link: not replaced").arg(linkPath));
    if (::symlink(name, link.constData()) != 0)
        return fail(SystemError(QStringLiteral("linking ") + linkPath));
    FLinkPath = linkPath;
    return true;
}

qint64 TPseudoTerminal::Read(char* buffer, qint64 size, QString& error)
{
    const ssize_t n = ::read(FMaster, buffer, static_cast<size_t>(size));
    if (n >= 0)
        return n;
    if (errno == EAGAIN || errno == EINTR)
        return 0;
    error = SystemError(QStringLiteral("reading the pseudo-terminal"));
    return -1;
}

qint64 TPseudoTerminal::Write(const char* data, qint64 size, QString& error)
{
    qint64 written = 0;
    while (written < size) {
        const ssize_t n = ::write(FMaster, data + written, static_cast<size_t>(size - written));
        if (n > 0) {
            written += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n < 0 && errno != EAGAIN)
                error = SystemError(QStringLiteral("writing the pseudo-terminal"));
            break;
        }
    }
    return written;
}

void TPseudoTerminal::Close()
{
    if (!FLinkPath.isEmpty()) {
        // only our own link: another simulator may have taken the name since
        char target[256];
        const QByteArray link = QFile::encodeName(FLinkPath);
        const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
        if (n > 0 && QString::fromLocal8Bit(target, n) == FSlavePath)
            ::unlink(link.constData());
        FLinkPath.clear();
    }
    if (FSlave >= 0)
        ::close(FSlave);
    if (FMaster >= 0)
        ::close(FMaster);
    FSlave = FMaster = -1;
}
