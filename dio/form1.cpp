#include "form1.h"

#include "module1.h"

#include <QLineEdit>
#include <utility>

namespace dio {
namespace {

using Layout::kBoxFont;
using Layout::Kind;
using Layout::kLabelFont;
using Layout::kReplyFont;

constexpr int kStepMs = 200;

const Layout::Control kControls[] = {
    {"Frame1", Kind::GroupBox, "请挑选通信端口", 360, 120, 2175, 615, {}, 7},
    {"optCom(0)", Kind::Option, "COM1", 240, 240, 855, 252, {}, 9, "Frame1"},
    {"optCom(1)", Kind::Option, "COM2", 1200, 240, 855, 252, {}, 8, "Frame1"},
    {"Label3", Kind::Label, "反回HEX数据：", 2640, 120, 1215, 375, {}, 15},
    {"Text6", Kind::TextBox, "", 2640, 600, 1335, 375, kBoxFont, 13},
    {"Label4", Kind::Label, "校验和：", 4320, 120, 855, 375, {}, 16},
    {"Text4", Kind::TextBox, "", 4320, 600, 1335, 375, kBoxFont, 10},
    {"Label1", Kind::Label, "反回通信状态结果：", 360, 1200, 2175, 255, kLabelFont, 2},
    {"Text1", Kind::TextBox, "", 2640, 1080, 3015, 495, kReplyFont, 17},
    {"Label2(0)", Kind::Label, "I/O输出命令ON", 360, 2040, 1695, 255, kLabelFont, 3},
    {"Text2", Kind::TextBox, "01DOP1FF", 2640, 1920, 2535, 375, kBoxFont, 1},
    {"Command1", Kind::Button, "输出", 5280, 1920, 615, 375, {}, 0},
    {"Label2(1)", Kind::Label, "I/O输出命令OFF", 360, 2640, 1815, 255, kLabelFont, 6},
    {"Text3", Kind::TextBox, "01DOP100", 2640, 2520, 2535, 405, kBoxFont, 4},
    {"Command3", Kind::Button, "结束", 5280, 2520, 615, 375, {}, 14},
    {"Label2(2)", Kind::Label, "I/O输出命令闪动", 360, 3240, 2175, 255, kLabelFont, 11},
    {"Text5", Kind::TextBox, "01DOP0", 2640, 3120, 2535, 405, kBoxFont, 12},
    {"Command2", Kind::Button, "闪动", 5280, 3120, 615, 345, {}, 5},
};

// Step k sets bit k - 1; the all-off command follows every step.
constexpr QLatin1StringView kSuffixes[] = {
    QLatin1StringView("01"), QLatin1StringView("02"), QLatin1StringView("04"),
    QLatin1StringView("08"), QLatin1StringView("10"), QLatin1StringView("20"),
    QLatin1StringView("40"), QLatin1StringView("80"),
};
constexpr QLatin1StringView kAllOff("00");

} // namespace

Form1::Form1(const Program &program, QWidget *parent)
    : SecondGenerationWindow({6120, 3930, kControls}, program, parent)
    , Text2(control<QLineEdit>("Text2"))
    , Text3(control<QLineEdit>("Text3"))
    , Text5(control<QLineEdit>("Text5"))
{
    connectClicks<Form1>({
        {"Command1", &Form1::Command1_Click},
        {"Command2", &Form1::Command2_Click},
        {"Command3", &Form1::Command3_Click},
    });
}

void Form1::Command1_Click()
{
    start(Pattern::Toggle);
}

void Form1::Command2_Click()
{
    start(Pattern::RunningLight);
}

void Form1::Command3_Click()
{
    endProgram();
}

void Form1::start(Pattern clicked)
{
    m_requested = clicked;
    if (m_running)
        return;
    m_running = true;
    while (m_requested != Pattern::None && !unloaded()) {
        // One operation per started pattern: a send refused because the port
        // was lost while it ran stays quiet (the loss box has said so); any
        // other refusal is reported once, and the pattern ends.
        const Operation operation = beginOperation();
        if (std::exchange(m_requested, Pattern::None) == Pattern::Toggle)
            toggle(operation);
        else
            runningLight(operation);
    }
    m_requested = Pattern::None;
    m_running = false;
}

void Form1::toggle(Operation operation)
{
    for (;;) {
        if (!step(Text2->text(), operation))
            return;
        if (!step(Text3->text(), operation))
            return;
    }
}

void Form1::runningLight(Operation operation)
{
    for (;;) {
        for (const QLatin1StringView suffix : kSuffixes) {
            if (!step(Text5->text() + suffix, operation))
                return;
            if (!step(Text5->text() + kAllOff, operation))
                return;
        }
    }
}

bool Form1::step(const QString &command, Operation operation)
{
    const auto interrupted = [this] { return m_requested != Pattern::None || unloaded(); };
    // The next command joins no queue: while the line still carries the last
    // one (a long command takes longer than a step), the pattern waits for it.
    if (!waitForLine(interrupted) || !sendCommand(command, operation))
        return false;
    return Module1::Delay(kStepMs, interrupted);
}

} // namespace dio
