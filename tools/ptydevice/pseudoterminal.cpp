#include "pseudoterminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal openPseudoTerminal()
{
    PseudoTerminal pty;
    char name[256] = {};
    if (::openpty(&pty.deviceEnd, &pty.consoleEnd, name, nullptr, nullptr) != 0) {
        pty.error = QStringLiteral("cannot create a pseudo-terminal: ")
                    + QString::fromLocal8Bit(std::strerror(errno));
        return pty;
    }
    termios raw{};
    ::tcgetattr(pty.deviceEnd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(pty.deviceEnd, TCSANOW, &raw);
    for (const int fd : {pty.deviceEnd, pty.consoleEnd})
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(pty.deviceEnd, F_SETFL, ::fcntl(pty.deviceEnd, F_GETFL) | O_NONBLOCK);
    pty.consolePath = QString::fromLocal8Bit(name);
    return pty;
}

qsizetype bytesWaiting(int fd)
{
    int count = 0;
    return ::ioctl(fd, FIONREAD, &count) == 0 ? qsizetype(count) : 0;
}
