#include "module1.h"

#include "frames.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>

namespace Module1 {
namespace {

std::function<quint32()> &tickSource()
{
    static std::function<quint32()> source;
    return source;
}

void dispatchPending()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Sleeps until an event arrives or `ms` have passed; whatever arrives is dispatched.
void sleepInEventWait(qint64 ms)
{
#ifdef CONSOLES_POLLING_DELAY
    Q_UNUSED(ms);
#else
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.start(int(ms));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
#endif
}

} // namespace

quint32 GetTickCount()
{
    if (const auto &source = tickSource())
        return source();
    using namespace std::chrono;
    return quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void setTickSource(std::function<quint32()> source)
{
    tickSource() = std::move(source);
}

bool Delay(qint32 ms, const std::function<bool()> &stopEarly)
{
    const quint32 start = GetTickCount();
    for (;;) {
        dispatchPending();
        if (stopEarly && stopEarly())
            return false;
        const qint64 elapsed = quint32(GetTickCount() - start);
        if (elapsed > ms)
            return true;
        sleepInEventWait(ms + 1 - elapsed);
    }
}

void Delay(qint32 ms)
{
    Delay(ms, {});
}

QString CheckChar(QStringView text)
{
    return QString(QChar(Frames::checkCharCode(text)));
}

} // namespace Module1
