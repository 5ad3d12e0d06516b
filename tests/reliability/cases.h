#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// The faults, bad inputs and loads the consoles are put through, with what each
// must do. The tests run these tables, and docs/reliability.md is checked
// against the rows rendered from them, so the record says what is proved.
namespace Reliability {

enum class Window { Memory, DigitalOutput, FirstGeneration };

// Bytes a device end must have received, and how the record names them.
struct Wire {
    QString shown;
    QByteArray bytes;
};

QByteArray joined(const std::vector<Wire> &wire);

// One step of a fault scenario: when `trigger` holds, `action` runs.
struct Step {
    enum class Trigger {
        Next, // as soon as the step before has run
        Bytes, // the device of `port` has received at least `count` bytes
        Boxes, // at least `count` warning boxes have come up
    };
    enum class Action {
        Type, // `target` box gets `text`
        Click, // `target` button, delivered as an event of its own
        Choose, // the option of `port`, delivered as an event of its own
        HangUp, // the device of `port` goes away
        Hold, // another program opens `port`
        Release, // and lets it go
        Quiet, // measures the processor time the idle console takes for a while
        Close, // the window's close button, delivered as an event of its own
    };
    Trigger trigger;
    int device; // Bytes: whose device
    qsizetype count;
    Action action;
    const char *target;
    QString text;
    int port; // Choose, HangUp, Hold, Release
};

// A whole program put through a fault, then closed: it must not hang or spin,
// show exactly `boxes`, leave exactly `com1` and `com2` at the devices and end
// with status 0.
struct FaultCase {
    const char *name;
    const char *program;
    Window window;
    int startPort;
    std::vector<Step> script;
    QStringList boxes; // texts, all titled "系统信息" with the warning icon
    std::vector<Wire> com1;
    std::vector<Wire> com2;
    QString text4; // at the end
};

const std::vector<FaultCase> &faultCases();

// Text pasted into one box, then one click: either the frames go out whole and
// byte for byte, or `message` comes up and nothing goes out.
struct InputCase {
    const char *input;
    Window window;
    const char *box;
    QString text;
    const char *button;
    QString message;
    std::vector<Wire> wire;
    QString text4; // after the click; the message cases leave it empty
};

const std::vector<InputCase> &inputCases();

// What the load tests hold to; the record quotes them.
constexpr int kLoadClicks = 10000;
constexpr int kStackBoundKiB = 64;
constexpr int kFloodSeconds = 60;
constexpr int kFloodGrowthMiB = 8;

// One row of docs/reliability.md: its section and its cells, in order.
struct RecordRow {
    QString section;
    QStringList cells;
};

std::vector<RecordRow> recordRows();

QString windowName(Window window);

} // namespace Reliability
