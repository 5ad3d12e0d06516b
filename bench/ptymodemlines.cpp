// Preloaded into gtkterm by bench_startup, and into nothing else. gtkterm
// polls the modem lines of its port and closes the port on any failure but
// EINVAL; a pseudo-terminal has no modem lines and answers ENOTTY. So where
// the kernel says ENOTTY for a terminal, this answers as a port whose lines
// simply stay where they were last set.
#include <cerrno>
#include <cstdarg>

#include <dlfcn.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace {

int g_lines = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;

bool isModemLineRequest(unsigned long request)
{
    return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);

    using Ioctl = int (*)(int, unsigned long, ...);
    static const auto real = reinterpret_cast<Ioctl>(::dlsym(RTLD_NEXT, "ioctl"));
    const int result = real(fd, request, argument);
    termios settings{};
    if (result == 0 || errno != ENOTTY || !isModemLineRequest(request)
        || ::tcgetattr(fd, &settings) != 0) {
        return result;
    }
    int &lines = *static_cast<int *>(argument);
    switch (request) {
    case TIOCMGET:
        lines = g_lines;
        break;
    case TIOCMSET:
        g_lines = lines;
        break;
    case TIOCMBIS:
        g_lines |= lines;
        break;
    default:
        g_lines &= ~lines;
        break;
    }
    return 0;
}
