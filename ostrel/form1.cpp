#include "form1.h"

#include "codepage.h"
#include "frames.h"
#include "module1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <optional>
#include <utility>

namespace ostrel {
namespace {

using Layout::kBoxFont;
using Layout::Kind;
using Layout::kLabelFont;
using Layout::kReplyFont;

constexpr qint32 kPaceMs = 1;
constexpr int kLargestByte = 255;

const Layout::Control kControls[] = {
    {"Frame1", Kind::GroupBox, "请挑选端口", 360, 240, 2175, 615, {}, 8},
    {"optCom(0)", Kind::Option, "COM1", 240, 240, 855, 252, {}, 10, "Frame1"},
    {"optCom(1)", Kind::Option, "COM2", 1200, 240, 855, 252, {}, 9, "Frame1"},
    {"Text6", Kind::TextBox, "", 2760, 600, 1215, 375, kBoxFont, 14},
    {"Text4", Kind::TextBox, "", 4320, 600, 1335, 375, kBoxFont, 11},
    {"Label1", Kind::Label, "反回结果显示：", 840, 1320, 1695, 255, kLabelFont, 3},
    {"Text1", Kind::TextBox, "", 2640, 1080, 3015, 495, kReplyFont, 0},
    {"Label2(0)", Kind::Label, "命令输入字符：", 480, 2040, 1695, 255, kLabelFont, 4},
    {"Text2", Kind::TextBox, "", 2640, 1920, 2535, 375, kBoxFont, 2},
    {"Command1", Kind::Button, "发送", 5280, 1920, 615, 375, {}, 1},
    {"Label2(1)", Kind::Label, "输入值ASCII：", 480, 2640, 1815, 255, kLabelFont, 7},
    {"Text3", Kind::TextBox, "", 2640, 2520, 2535, 405, kBoxFont, 5},
    {"Command2", Kind::Button, "发送", 5280, 2520, 615, 465, {}, 6},
    {"Label2(2)", Kind::Label, "输入地址值ASCII：", 480, 3240, 2175, 255, kLabelFont, 12},
    {"Text5", Kind::TextBox, "", 2640, 3120, 2535, 405, kBoxFont, 13},
};

QString badAddressText()
{
    return QStringLiteral("地址值必须是0到255之间的整数！");
}

QString badValueText()
{
    return QStringLiteral("输入值必须是0到255之间的整数！");
}

// A whole decimal number from 0 to 255, blanks around it ignored. Full-width
// digits count as digits: a Chinese input method in full-width mode types them.
// No sign, point, exponent or base prefix.
std::optional<quint8> byteNumber(const QString &text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return std::nullopt;
    int value = 0;
    for (const QChar c : digits) {
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c.unicode() - u'0';
        else if (c >= u'０' && c <= u'９')
            digit = c.unicode() - u'０';
        if (digit < 0)
            return std::nullopt;
        value = value * 10 + digit;
        if (value > kLargestByte)
            return std::nullopt;
    }
    return quint8(value);
}

} // namespace

Form1::Form1(const Program &program, QWidget *parent)
    : ConsoleWindow({6120, 3930, kControls}, program, parent)
    , Text2(control<QLineEdit>("Text2"))
    , Text3(control<QLineEdit>("Text3"))
    , Text5(control<QLineEdit>("Text5"))
{
    connectClicks<Form1>({
        {"Command1", &Form1::Command1_Click},
        {"Command2", &Form1::Command2_Click},
    });
}

// A click that waits behind a frame belongs to the moment it was made: when
// the port goes away in between, the loss report already explains its refusal.
void Form1::Command1_Click()
{
    perform([this, clicked = beginOperation()] { sendFrame(clicked); });
}

void Form1::Command2_Click()
{
    perform([this, clicked = beginOperation()] { sendValue(clicked); });
}

void Form1::optCom_Click(int index)
{
    perform([this, index] { ConsoleWindow::optCom_Click(index); });
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (!m_busy) {
        ConsoleWindow::closeEvent(event);
        return;
    }
    // The frame on its way finishes out of sight; what was clicked behind it
    // goes with the window.
    hideAtOnce();
    m_closeRequested = true;
    event->ignore();
}

// Only the outermost call runs actions; one that arrives inside a wait of a
// running action is queued, so nesting never grows with the number of clicks.
void Form1::perform(std::function<void()> action)
{
    m_pending.push_back(std::move(action));
    if (m_busy)
        return;
    m_busy = true;
    while (!m_pending.empty() && !m_closeRequested) {
        const std::function<void()> next = std::move(m_pending.front());
        m_pending.pop_front();
        next();
        // A frame is many writes: it is over when the line has carried the
        // last of them, and until then a close waits and clicks and port
        // switches queue, so a frame goes whole to the port it started on.
        waitForLine();
    }
    m_pending.clear();
    m_busy = false;
    // The window is already hidden, and a hidden window's close would not end
    // the program; so the close is finished here.
    if (std::exchange(m_closeRequested, false)) {
        Form_Unload();
        QCoreApplication::quit();
    }
}

void Form1::sendFrame(Operation frame)
{
    // Both numbers are checked before the first byte, so a bad one never leaves
    // a cut-off frame on the line; the address first, as it goes out first.
    const std::optional<quint8> address = byteNumber(Text5->text());
    if (!address) {
        showWarning(badAddressText());
        return;
    }
    const std::optional<quint8> value = byteNumber(Text3->text());
    if (!value) {
        showWarning(badValueText());
        return;
    }
    // Read once: an edit during the frame's waits must not make the check
    // character or Text4 describe other data than what went out.
    const QString dataText = Text2->text();
    const QString check = QString::number(CheckSum(dataText).front().unicode());
    const Frames::FirstGenerationFrame bytes =
        Frames::firstGenerationFrame(*address, dataText, *value);
    // The device answers the frame, not its bytes: the reply starts anew, and
    // Text4 shows its check, only when the last byte is on the line.
    send(bytes.before.front(), frame, false) && sendAfterWaits(bytes.before.sliced(1), frame)
        && commout(dataText, frame)
        && sendAfterWaits(bytes.after, frame, [this, check] { Text4->setText(check); });
}

QString Form1::CheckSum(const QString &text) const
{
    return QString(QChar(char16_t(Frames::checkSumCode(text))));
}

bool Form1::commout(const QString &text, Operation frame)
{
    return sendAfterWaits(CodePage::characterBytes(text), frame);
}

// Each write after the pacing wait; the last one ends the frame when
// `endOfFrame` is given, and runs it once on the line.
bool Form1::sendAfterWaits(const QByteArrayList &writes, Operation frame,
                           std::function<void()> endOfFrame)
{
    for (qsizetype i = 0; i < writes.size(); ++i) {
        Module1::Delay(kPaceMs);
        const bool endsFrame = endOfFrame && i + 1 == writes.size();
        if (!send(writes[i], frame, endsFrame, endsFrame ? std::move(endOfFrame) : nullptr))
            return false;
    }
    return true;
}

void Form1::sendValue(Operation clicked)
{
    const std::optional<quint8> value = byteNumber(Text3->text());
    if (!value) {
        showWarning(badValueText());
        return;
    }
    // U+0000..U+00FF is the one byte of that value on the line, and back.
    const QString character{QChar(char16_t(*value))};
    // A refused byte leaves the data text as the operator typed it.
    if (send(CodePage::toBytes(character), clicked))
        Text2->setText(character);
}

} // namespace ostrel
