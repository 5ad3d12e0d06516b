#pragma once

#include "consolewindow.h"
#include "layouts.h"
#include "programs.h"
#include "ptydevice.h"

#include <QApplication>
#include <QLineEdit>
#include <QRect>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

// The programs' fonts and font substitutions.
void setUpTestApplication();
QByteArray fromHex(const char *spaced); // "01 20 04"
// Half a second of the event loop; false when this process took more than a
// quarter of it, as a port spinning on a gone device does.
bool staysQuiet();

// Until `device` has received `count` bytes, running the event loop; false when it did not in time.
bool waitForBytes(const PtyDevice &device, qsizetype count, int timeoutMs = 5000);
// Milliseconds from one frame's arrival to a later one's.
qint64 msBetween(const PtyDevice::Arrival &earlier, const PtyDevice::Arrival &later);

// COM1 and COM2 on pseudo-terminals for the consoles, and every modal box
// answered with OK as it comes up, kept as "title|text".
struct TwoPorts {
    explicit TwoPorts(PtyDevice::Pace pace = PtyDevice::Pace::Instant);
    PtyDevice &com(int port) { return port == 1 ? com1 : com2; }
    PtyDevice com1;
    PtyDevice com2;
    QStringList boxes;
    QTimer answer;
};

// Two answers are told apart by where a millisecond timer finds the line.
// Under the sanitizers every allocation of the process is slowed, timers fire
// many milliseconds late and the test devices answer late: rows that need the
// millisecond are left to the uninstrumented build, which runs them all.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kTimersKeepTheMillisecond = false;
#else
constexpr bool kTimersKeepTheMillisecond = true;
#endif
#define SKIP_WITHOUT_THE_MILLISECOND()                                                             \
    do {                                                                                           \
        if (!kTimersKeepTheMillisecond)                                                            \
            QSKIP("two answers told apart by the millisecond: run in the uninstrumented build");   \
    } while (false)

// A program's window, by name, loaded and shown.
std::unique_ptr<ConsoleWindow> openConsole(const QString &program);
QLineEdit *box(QWidget &window, const char *name);
void setText(QWidget &window, const char *name, const QString &text);
void click(QWidget &window, const char *name); // a push button or an option
// Clicks the buttons 10 ms apart, each inside the wait the one before started;
// returns after the last click's handler. A click 10 ms after a memory command
// is queued while that command (at least 11.5 ms on the line) still goes out:
// it never lands between the command leaving and the device beginning to
// answer it, a moment no rule can tell from an answer at once.
void clickInTurn(QWidget &window, const QStringList &buttons);
// Clicks `count` times, once a pass of the event loop, so that each lands
// inside whatever the one before started; `then` runs after the last.
void clickRepeatedly(QWidget &window, int count, const std::function<const char *(int)> &button,
                     const std::function<void()> &then = {});

// A table of rows, each a struct whose first member is its name: one test
// row per entry, and the entry of the row running.
template <typename Row, size_t N> void useRows(const Row (&table)[N])
{
    QTest::addColumn<int>("row");
    for (size_t i = 0; i < N; ++i)
        QTest::newRow(table[i].name) << int(i);
}
template <typename Row, size_t N> const Row &currentRow(const Row (&table)[N])
{
    return table[*static_cast<const int *>(QTest::qData("row", qMetaTypeId<int>()))];
}

// QTEST_MAIN with the programs' fonts.
#define CONSOLE_TEST_MAIN(TestClass)                                                               \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        QApplication app(argc, argv);                                                              \
        setUpTestApplication();                                                                    \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
