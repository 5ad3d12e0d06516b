#pragma once

#include <QProcess>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

typedef struct _XDisplay Display;
typedef unsigned long Window;

// A private Xvfb, kept as a window manager keeps a display: a thread marks every
// top-level window normal once it is mapped and withdrawn once it is unmapped.
// Wine waits up to 2 s for that before it hides a window or shows it again, so
// without it a window or a box would stay on the screen that long.
class XDisplay {
public:
    using Clock = std::chrono::steady_clock;
    struct Mapped {
        Window window;
        Clock::time_point at; // when the manager learnt of it
    };

    XDisplay();
    ~XDisplay();

    // ":N", for DISPLAY.
    QString name() const { return m_name; }
    // Drops the windows mapped until now, so that the next one waited for is a new one.
    void forgetMapped();
    // The next top-level window mapped; nullopt after the timeout.
    std::optional<Mapped> nextMapped(int timeoutMs = 10000);
    // What the close button of a window frame sends.
    void close(Window window) const;

private:
    void manage(Display *x);

    QProcess m_xvfb;
    QString m_name;
    Display *m_x = nullptr; // the caller's connection; the manager thread has its own
    int m_stopManager[2] = {-1, -1};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Mapped> m_mapped;
    unsigned m_forgetsAsked = 0;
    unsigned m_forgetsDone = 0;
    std::thread m_manager;
};
