#include "xdisplay.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

namespace {

// Windows may go while the manager still looks at them, or before a close reaches them.
int ignoreXErrors(Display *, XErrorEvent *)
{
    return 0;
}

// Sent to the root window to find where the manager has got to.
const char *const kForgetMapped = "XDISPLAY_FORGET_MAPPED";

} // namespace

XDisplay::XDisplay()
{
    // Abstract sockets only, so that a killed server leaves no socket file behind:
    // every client here (Qt, GTK, Wine, xdotool) reaches the display through libxcb,
    // which tries those first. Xvfb's own default screen, named; no figure of the
    // benchmarks moves with its size.
    m_xvfb.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                  QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-nolisten"),
                  QStringLiteral("unix"), QStringLiteral("-screen"), QStringLiteral("0"),
                  QStringLiteral("1280x1024x24")});
    if (!m_xvfb.waitForReadyRead(10000))
        qFatal("no Xvfb: tools/ensure-packages.sh test (or bench)");
    m_name = u':' + QString::fromLatin1(m_xvfb.readLine().trimmed());
    XSetErrorHandler(ignoreXErrors);
    m_x = XOpenDisplay(m_name.toLatin1().constData());
    if (!m_x)
        qFatal("cannot open display %s", qPrintable(m_name));
    // The manager watches before the first program can map a window.
    Display *managed = XOpenDisplay(m_name.toLatin1().constData());
    XSelectInput(managed, DefaultRootWindow(managed), SubstructureNotifyMask);
    XSync(managed, False);
    if (::pipe(m_stopManager) != 0)
        qFatal("pipe failed");
    m_manager = std::thread(&XDisplay::manage, this, managed);
}

XDisplay::~XDisplay()
{
    [[maybe_unused]] const ssize_t stopped = ::write(m_stopManager[1], "x", 1);
    m_manager.join();
    ::close(m_stopManager[0]);
    ::close(m_stopManager[1]);
    XCloseDisplay(m_x);
    m_xvfb.terminate();
    m_xvfb.waitForFinished();
}

// The server queues events for the manager in the order it makes them, so once the
// manager sees this message it has seen every map that came before it.
void XDisplay::forgetMapped()
{
    std::unique_lock lock(m_mutex);
    const unsigned asked = ++m_forgetsAsked;
    const Window root = DefaultRootWindow(m_x);
    XEvent event{
        .xclient = {
            ClientMessage, 0, False, m_x, root, XInternAtom(m_x, kForgetMapped, False), 32, {}}};
    XSendEvent(m_x, root, False, SubstructureNotifyMask, &event);
    XFlush(m_x);
    m_changed.wait(lock, [&] { return m_forgetsDone >= asked; });
}

std::optional<XDisplay::Mapped> XDisplay::nextMapped(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return !m_mapped.empty(); }))
        return std::nullopt;
    const Mapped next = m_mapped.front();
    m_mapped.pop_front();
    return next;
}

void XDisplay::close(Window window) const
{
    const Atom protocols = XInternAtom(m_x, "WM_PROTOCOLS", False);
    XEvent event{.xclient = {ClientMessage, 0, False, m_x, window, protocols, 32, {}}};
    event.xclient.data.l[0] = long(XInternAtom(m_x, "WM_DELETE_WINDOW", False));
    XSendEvent(m_x, window, False, NoEventMask, &event);
    XFlush(m_x);
}

void XDisplay::manage(Display *x)
{
    const Atom state = XInternAtom(x, "WM_STATE", False);
    const Atom forget = XInternAtom(x, kForgetMapped, False);
    for (pollfd fds[] = {{ConnectionNumber(x), POLLIN, 0}, {m_stopManager[0], POLLIN, 0}};;) {
        while (XPending(x)) {
            XEvent event;
            XNextEvent(x, &event);
            Window window = None;
            long value[] = {WithdrawnState, None};
            if (event.type == MapNotify && !event.xmap.override_redirect) {
                const Clock::time_point at = Clock::now();
                window = event.xmap.window;
                value[0] = NormalState;
                const std::lock_guard lock(m_mutex);
                m_mapped.push_back({window, at});
                m_changed.notify_all();
            } else if (event.type == UnmapNotify) {
                window = event.xunmap.window;
            } else if (event.type == ClientMessage && event.xclient.message_type == forget) {
                const std::lock_guard lock(m_mutex);
                m_mapped.clear();
                ++m_forgetsDone;
                m_changed.notify_all();
            }
            if (window != None)
                XChangeProperty(x, window, state, state, 32, PropModeReplace,
                                reinterpret_cast<const unsigned char *>(value), 2);
        }
        XFlush(x);
        if (::poll(fds, 2, -1) < 0 || fds[1].revents)
            break;
    }
    XCloseDisplay(x);
}
