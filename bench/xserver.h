#pragma once

#include <QProcess>
#include <QString>
#include <optional>
#include <utility>

typedef struct _XDisplay Display;
typedef unsigned long Window;

// A private X display, with the map of every top-level window reported to us.
class XServer {
public:
    XServer();
    ~XServer();

    QString name() const { return m_name; }
    void forgetEvents();
    // The next top-level window mapped, and when we learnt of it (wallMs); nullopt after the
    // timeout. Marked normal as a window manager marks it: Wine waits for that before it hides
    // a window.
    std::optional<std::pair<Window, double>> nextMappedWindow(int timeoutMs = 10000);
    // What the close button of a window frame does.
    void close(Window window);

private:
    QProcess m_xvfb;
    QString m_name;
    Display *m_display = nullptr;
};
