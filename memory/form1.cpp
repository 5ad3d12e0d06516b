#include "form1.h"

#include "module1.h"

#include <QLineEdit>
#include <utility>

namespace memory {
namespace {

using Layout::kBoxFont;
using Layout::kHeadingFont;
using Layout::Kind;
using Layout::kLabelFont;
using Layout::kReplyFont;

constexpr int kStepMs = 200;

const Layout::Control kControls[] = {
    {"Frame1", Kind::GroupBox, "请挑选通信端口", 360, 120, 2175, 615, {}, 7},
    {"optCom(0)", Kind::Option, "COM1", 240, 240, 855, 252, {}, 9, "Frame1"},
    {"optCom(1)", Kind::Option, "COM2", 1200, 240, 855, 252, {}, 8, "Frame1"},
    {"Label3", Kind::Label, "反回HEX数据：", 2640, 120, 1215, 375, kHeadingFont, 15},
    {"Text6", Kind::TextBox, "", 2640, 510, 1335, 465, kBoxFont, 13},
    {"Label4", Kind::Label, "校验和：", 4560, 120, 855, 375, kHeadingFont, 16},
    {"Text4", Kind::TextBox, "", 4560, 510, 1335, 465, kBoxFont, 10},
    {"Label1(0)", Kind::Label, "反回通信状态结果：", 360, 1320, 2175, 255, kLabelFont, 2},
    {"Text1", Kind::TextBox, "", 2640, 1200, 2535, 495, kReplyFont, 18},
    {"Command3", Kind::Button, "结束", 5280, 1200, 615, 495, {}, 14},
    {"Label2(0)", Kind::Label, "出厂设置：", 360, 2040, 1695, 255, kLabelFont, 3},
    {"Text2", Kind::TextBox, "FFTO0130202", 2640, 2040, 2535, 375, kBoxFont, 1},
    {"Command1", Kind::Button, "确定", 5280, 2040, 615, 375, {}, 0},
    {"Label2(1)", Kind::Label, "存储器写命令：", 360, 2760, 2295, 255, kLabelFont, 6},
    {"Text3", Kind::TextBox, "01ZW00ABCDEFGH", 2640, 2640, 2535, 405, kBoxFont, 4},
    {"Command4", Kind::Button, "确定", 5280, 2640, 615, 375, {}, 17},
    {"Label2(2)", Kind::Label, "存储器读命令：", 360, 3360, 2175, 255, kLabelFont, 11},
    {"Text5", Kind::TextBox, "01ZR0008", 2640, 3360, 2535, 405, kBoxFont, 12},
    {"Command2", Kind::Button, "确定", 5280, 3360, 615, 345, {}, 5},
};

} // namespace

Form1::Form1(const Program &program, QWidget *parent)
    : SecondGenerationWindow({6240, 4020, kControls}, program, parent)
    , Text2(control<QLineEdit>("Text2"))
    , Text3(control<QLineEdit>("Text3"))
    , Text5(control<QLineEdit>("Text5"))
{
    connectClicks<Form1>({
        {"Command1", &Form1::Command1_Click},
        {"Command2", &Form1::Command2_Click},
        {"Command3", &Form1::Command3_Click},
        {"Command4", &Form1::Command4_Click},
    });
}

void Form1::Command1_Click()
{
    sendCommand(Text2->text());
}

void Form1::Command2_Click()
{
    sendThenWait(Text5->text());
}

void Form1::Command3_Click()
{
    endProgram();
}

void Form1::Command4_Click()
{
    sendThenWait(Text3->text());
}

// A click during the wait sends at once and owes a wait of its own, which the
// running wait takes over by starting afresh: the frames, their order and
// their times are those of nested waits, the stack stays one wait deep.
void Form1::sendThenWait(const QString &command)
{
    sendCommand(command);
    m_waitOwed = true;
    if (m_waiting)
        return;
    m_waiting = true;
    // A closed window waits for nothing: the program ends with it.
    while (std::exchange(m_waitOwed, false) && !unloaded())
        Module1::Delay(kStepMs, [this] { return m_waitOwed || unloaded(); });
    m_waiting = false;
}

} // namespace memory
