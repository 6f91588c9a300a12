#pragma once
// What a child process has written so far, from the read end of its pipe.

#include <QByteArray>

#include <unistd.h>

// Appends all that can be read now from a non-blocking descriptor.
inline void ReadAvailable(int fd, QByteArray& into)
{
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        into.append(buf, n);
}
