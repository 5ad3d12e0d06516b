#include "xserver.h"

#include "benchtable.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

XServer::XServer()
{
    m_xvfb.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                  QStringLiteral("1024x768x24")});
    if (!m_xvfb.waitForReadyRead(10000))
        qFatal("Xvfb did not start");
    m_name = u':' + QString::fromLatin1(m_xvfb.readLine().trimmed());
    m_display = XOpenDisplay(m_name.toLatin1().constData());
    if (!m_display)
        qFatal("cannot open display %s", qPrintable(m_name));
    XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
    XSync(m_display, False);
}

XServer::~XServer()
{
    XCloseDisplay(m_display);
    m_xvfb.terminate();
    m_xvfb.waitForFinished();
}

void XServer::forgetEvents()
{
    XSync(m_display, False);
    XEvent event;
    while (XPending(m_display))
        XNextEvent(m_display, &event);
}

std::optional<std::pair<Window, double>> XServer::nextMappedWindow(int timeoutMs)
{
    const double deadline = wallMs() + timeoutMs;
    for (;;) {
        while (XPending(m_display)) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type == MapNotify && !event.xmap.override_redirect) {
                const double at = wallMs();
                const Atom state = XInternAtom(m_display, "WM_STATE", False);
                const long normal[] = {NormalState, None};
                XChangeProperty(m_display, event.xmap.window, state, state, 32, PropModeReplace,
                                reinterpret_cast<const unsigned char *>(normal), 2);
                XFlush(m_display);
                return std::pair(event.xmap.window, at);
            }
        }
        const double left = deadline - wallMs();
        if (left <= 0)
            return std::nullopt;
        pollfd connection{ConnectionNumber(m_display), POLLIN, 0};
        ::poll(&connection, 1, int(left));
    }
}

void XServer::close(Window window)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(m_display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_display, window, False, NoEventMask, &event);
    XFlush(m_display);
}
