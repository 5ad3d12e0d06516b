#include "cases.h"

#include "codepage.h"
#include "frames.h"

#include <QLocale>
#include <algorithm>
#include <optional>

namespace Reliability {
namespace {

using Trigger = Step::Trigger;
using Action = Step::Action;

constexpr qsizetype kShortText = 20;

QString lost(int port)
{
    return QStringLiteral("串行端口%1已断开！").arg(port);
}

QString notOpen(int port)
{
    return QStringLiteral("串行端口%1未打开，命令未发送！").arg(port);
}

QString heldAtLoad(int port)
{
    return QStringLiteral("串行端口%1已被其它设备所使用，请选择Com%2").arg(port).arg(3 - port);
}

QString heldAtSwitch(int port)
{
    return QStringLiteral("串行端口%1已被其它设备所使用！").arg(port);
}

const QString kBadAddress = QStringLiteral("地址值必须是0到255之间的整数！");
const QString kBadValue = QStringLiteral("输入值必须是0到255之间的整数！");

// A short printable text is quoted; anything else is counted.
bool quotable(const QString &text)
{
    return !text.isEmpty() && text.size() <= kShortText
           && std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isPrint(); });
}

QString quotedCode(const QString &text)
{
    return u'`' + text + u'`';
}

Wire command(const QString &text)
{
    const QByteArray bytes = Frames::secondGenerationFrame(text);
    const QString upper = CodePage::upperCased(text);
    return {quotable(upper) ? quotedCode(upper)
                            : QStringLiteral("a frame of %1 bytes").arg(bytes.size()),
            bytes};
}

Wire frame(quint8 address, const QString &data, quint8 value)
{
    const QString shownData = quotable(data)   ? quotedCode(data)
                              : data.isEmpty() ? QStringLiteral("none")
                                               : QStringLiteral("%1 characters").arg(data.size());
    const QByteArray bytes = Frames::firstGenerationFrame(address, data, value);
    return {QStringLiteral("the frame of address %1, data %2, value %3 (%4 bytes)")
                .arg(address)
                .arg(shownData)
                .arg(value)
                .arg(bytes.size()),
            bytes};
}

Wire firstBytes(const Wire &whole, qsizetype count)
{
    return {QStringLiteral("the first %1 bytes of %2").arg(count).arg(whole.shown),
            whole.bytes.left(count)};
}

Wire rawByte(char byte)
{
    return {QStringLiteral("the byte %1").arg(QByteArray(1, byte).toHex().toUpper()),
            QByteArray(1, byte)};
}

Step next(Action action, const char *target = nullptr, const QString &text = {}, int port = 0)
{
    return {Trigger::Next, 0, 0, action, target, text, port};
}

Step type(const char *box, const QString &text)
{
    return next(Action::Type, box, text);
}

Step click(const char *button)
{
    return next(Action::Click, button);
}

Step onPort(Action action, int port)
{
    return next(action, nullptr, {}, port);
}

Step atBytes(int device, qsizetype count, Step step)
{
    step.trigger = Trigger::Bytes;
    step.device = device;
    step.count = count;
    return step;
}

Step atBoxes(int count, Step step)
{
    step.trigger = Trigger::Boxes;
    step.count = count;
    return step;
}

const QString kSixteen = QStringLiteral("0123456789ABCDEF");

std::vector<Step> ostrelTexts(const QString &value)
{
    return {type("Text5", QStringLiteral("1")), type("Text2", kSixteen), type("Text3", value)};
}

std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<FaultCase> makeFaultCases()
{
    const Wire write = command(QStringLiteral("01ZW00ABCDEFGH"));
    const Wire read = command(QStringLiteral("01ZR0008"));
    const Wire on = command(QStringLiteral("01DOP1FF"));
    const Wire off = command(QStringLiteral("01DOP100"));
    const Wire sixteen = frame(1, kSixteen, 0);
    const auto quiet = next(Action::Quiet);
    const auto closeWindow = next(Action::Close);
    const auto choose = [](int port) { return onPort(Action::Choose, port); };

    return {
        {"hang-up during a pattern, then the other port",
         "marlo",
         Window::DigitalOutput,
         2,
         {click("Command1"), atBytes(2, 2 * on.bytes.size(), onPort(Action::HangUp, 2)),
          atBoxes(1, quiet), choose(1), click("Command1"),
          atBytes(1, on.bytes.size(), closeWindow)},
         {lost(2)},
         {on},
         {on, off},
         QStringLiteral("33")},
        {"hang-up during a frame, with a second frame clicked before it",
         "ostrel",
         Window::FirstGeneration,
         2,
         ostrelTexts(QStringLiteral("0"))
             + std::vector<Step>{click("Command1"), atBytes(2, 3, click("Command1")),
                                 atBytes(2, 6, onPort(Action::HangUp, 2)), atBoxes(1, quiet),
                                 closeWindow},
         {lost(2)},
         {},
         {firstBytes(sixteen, 6)},
         QString()},
        {"hang-up during a memory-console wait, then the other port",
         "quenby",
         Window::Memory,
         1,
         {click("Command4"), atBytes(1, write.bytes.size(), onPort(Action::HangUp, 1)),
          atBoxes(1, quiet), choose(2), click("Command2"),
          atBytes(2, read.bytes.size(), closeWindow)},
         {lost(1)},
         {write},
         {read},
         QStringLiteral("85")},
        {"port held by another program at start, a pattern clicked, then released",
         "marlo",
         Window::DigitalOutput,
         2,
         {onPort(Action::Hold, 2), atBoxes(1, click("Command1")), atBoxes(2, quiet),
          onPort(Action::Release, 2), choose(2), click("Command2"),
          atBytes(2, on.bytes.size(), closeWindow)},
         {heldAtLoad(2), notOpen(2)},
         {},
         {command(QStringLiteral("01DOP001"))},
         QStringLiteral("85")},
        {"port held by another program at a switch during a pattern",
         "dunwell",
         Window::DigitalOutput,
         1,
         {onPort(Action::Hold, 2), click("Command1"), atBytes(1, 2 * on.bytes.size(), choose(2)),
          atBoxes(2, quiet), onPort(Action::Release, 2), choose(2), click("Command1"),
          atBytes(2, on.bytes.size(), closeWindow)},
         {heldAtSwitch(2), notOpen(2)},
         {on, off},
         {on},
         QStringLiteral("33")},
        {"port held by another program at a switch while a frame goes out, a frame clicked after "
         "the switch",
         "ostrel",
         Window::FirstGeneration,
         2,
         std::vector<Step>{onPort(Action::Hold, 1)} + ostrelTexts(QStringLiteral("0"))
             + std::vector<Step>{click("Command1"), atBytes(2, 4, choose(1)), click("Command1"),
                                 atBoxes(2, quiet), closeWindow},
         {heldAtSwitch(1), notOpen(1)},
         {},
         {sixteen},
         QStringLiteral("34")},
        {"port held by another program at a switch during a memory-console wait",
         "quenby",
         Window::Memory,
         1,
         {onPort(Action::Hold, 2), click("Command4"), atBytes(1, write.bytes.size(), choose(2)),
          atBoxes(1, click("Command2")), atBoxes(2, quiet), closeWindow},
         {heldAtSwitch(2), notOpen(2)},
         {write},
         {},
         QStringLiteral("54")},
        {"window closed while a frame goes out, a value clicked before the close",
         "ostrel",
         Window::FirstGeneration,
         2,
         ostrelTexts(QStringLiteral("65"))
             + std::vector<Step>{click("Command1"), atBytes(2, 5, click("Command2")), closeWindow},
         {},
         {},
         {frame(1, kSixteen, 65), rawByte('A')},
         QStringLiteral("34")},
        {"window closed during a memory-console wait, a command clicked before the close",
         "quenby",
         Window::Memory,
         1,
         {click("Command4"), atBytes(1, write.bytes.size(), click("Command1")), closeWindow},
         {},
         {write, command(QStringLiteral("FFTO0130202"))},
         {},
         QStringLiteral("39")},
    };
}

// The boxes of a window, each with the button that sends what it holds.
struct Box {
    Window window;
    const char *box;
    const char *button;
};

QString checkOf(const QString &command)
{
    return QString::number(Frames::checkCharCode(CodePage::upperCased(command)));
}

// What a second-generation box sends when it holds `text`: the frames up to
// and including the one that carries it.
InputCase secondGeneration(const char *input, const Box &where, const QString &text)
{
    QStringList commands;
    const QLatin1StringView box(where.box);
    if (where.window == Window::DigitalOutput && box == u"Text3")
        commands << QStringLiteral("01DOP1FF") << text;
    else if (where.window == Window::DigitalOutput && box == u"Text5")
        commands << text + QStringLiteral("01") << text + QStringLiteral("00");
    else
        commands << text;
    std::vector<Wire> wire;
    for (const QString &c : commands)
        wire.push_back(command(c));
    return {input, where.window, where.box, text, where.button, {}, wire, checkOf(commands.last())};
}

// A first-generation box holding `text`, the others at address 1, data "AB",
// value 0, then 发送: the frame with `read` in that box's place, or the box's
// message when it holds no number (std::nullopt).
InputCase firstGeneration(const char *input, const char *box, const QString &text,
                          std::optional<quint8> read = std::nullopt)
{
    const QLatin1StringView name(box);
    InputCase c{input, Window::FirstGeneration, box, text, "Command1", {}, {}, {}};
    if (name != u"Text2" && !read) {
        c.message = name == u"Text5" ? kBadAddress : kBadValue;
        return c;
    }
    const QString data = name == u"Text2" ? text : QStringLiteral("AB");
    c.wire = {frame(name == u"Text5" ? *read : 1, data, name == u"Text3" ? *read : 0)};
    c.text4 = QString::number(Frames::checkSumCode(data));
    return c;
}

// A box only the console writes to: whatever is pasted there is replaced by
// the next reply or the next send, and changes nothing on the wire.
InputCase display(Window window, const char *box, const QString &text)
{
    const char *input = "40,000 characters with control characters";
    InputCase c;
    if (window == Window::FirstGeneration) {
        c = firstGeneration(input, "Text2", QStringLiteral("AB"));
    } else {
        const bool memory = window == Window::Memory;
        const Box where{window, "Text2", "Command1"};
        c = secondGeneration(input, where,
                             memory ? QStringLiteral("FFTO0130202") : QStringLiteral("01DOP1FF"));
    }
    c.box = box;
    c.text = text;
    return c;
}

std::vector<InputCase> makeInputCases()
{
    QString controls = QStringLiteral("A");
    for (const char16_t c : {0x00, 0x01, 0x02, 0x03, 0x04, 0x09, 0x0A, 0x0D, 0x1B, 0x7F})
        controls += QChar(c);
    controls += QStringLiteral("z");
    const QString forty = QStringLiteral("0123456789abcdefghijklmnopqrstuvwxyzABCD").repeated(1000);
    const QString chinese = QStringLiteral("存储器读写");
    const QString lower = QStringLiteral("01dop1ff");
    const QString outsideGbk = QStringLiteral("A😀€");
    const QString junk = (controls + forty).left(40000);

    std::vector<InputCase> cases;
    const Box secondGenerationBoxes[] = {
        {Window::Memory, "Text2", "Command1"},        {Window::Memory, "Text3", "Command4"},
        {Window::Memory, "Text5", "Command2"},        {Window::DigitalOutput, "Text2", "Command1"},
        {Window::DigitalOutput, "Text3", "Command1"}, {Window::DigitalOutput, "Text5", "Command2"},
    };
    for (const Box &where : secondGenerationBoxes) {
        cases.push_back(secondGeneration("empty", where, QString()));
        cases.push_back(secondGeneration("40,000 characters", where, forty));
        cases.push_back(secondGeneration("NUL and other control characters", where, controls));
        cases.push_back(secondGeneration("Chinese", where, chinese));
        cases.push_back(secondGeneration("lower case", where, lower));
    }
    cases.push_back(secondGeneration("characters GBK lacks", secondGenerationBoxes[2], outsideGbk));

    cases.push_back(firstGeneration("empty", "Text2", QString()));
    cases.push_back(firstGeneration("40,000 characters", "Text2", forty));
    cases.push_back(firstGeneration("NUL and other control characters", "Text2", controls));
    cases.push_back(firstGeneration("Chinese", "Text2", chinese));
    cases.push_back(firstGeneration("lower case", "Text2", lower));
    cases.push_back(firstGeneration("characters GBK lacks", "Text2", outsideGbk));
    for (const char *box : {"Text5", "Text3"}) {
        cases.push_back(firstGeneration("40,000 characters: zeros, then 7", box,
                                        QString(39999, u'0') + u'7', 7));
        cases.push_back(firstGeneration("40,000 characters: all 1", box, QString(40000, u'1')));
        cases.push_back(firstGeneration("NUL before the digit", box, QString(QChar(0)) + u'7'));
        cases.push_back(
            firstGeneration("tab, CR and LF around the digit", box, QStringLiteral("\t7\r\n"), 7));
        cases.push_back(firstGeneration("Chinese", box, QStringLiteral("七")));
        cases.push_back(firstGeneration("blanks around the digit", box, QStringLiteral(" 7 "), 7));
    }

    for (const Window window : {Window::Memory, Window::DigitalOutput, Window::FirstGeneration})
        for (const char *box : {"Text1", "Text4", "Text6"})
            cases.push_back(display(window, box, junk));
    return cases;
}

QString wireText(const std::vector<Wire> &wire)
{
    if (wire.empty())
        return QStringLiteral("nothing");
    QStringList shown;
    for (const Wire &w : wire)
        shown << w.shown;
    return shown.join(QStringLiteral(", "));
}

QString quoted(const QStringList &texts)
{
    QStringList out;
    for (const QString &text : texts)
        out << u'“' + text + u'”';
    return out.join(QStringLiteral(", then "));
}

QString faultOutcome(const FaultCase &c)
{
    QStringList parts;
    parts << (c.boxes.isEmpty() ? QStringLiteral("no box")
                                : QStringLiteral("boxes ") + quoted(c.boxes));
    parts << QStringLiteral("COM1 got ") + wireText(c.com1);
    parts << QStringLiteral("COM2 got ") + wireText(c.com2);
    if (!c.text4.isEmpty())
        parts << QStringLiteral("校验和 shows ") + c.text4;
    const bool measured = std::any_of(c.script.begin(), c.script.end(),
                                      [](const Step &s) { return s.action == Action::Quiet; });
    if (measured)
        parts << QStringLiteral("idle CPU quiet afterwards");
    parts << QStringLiteral("ends with status 0");
    return parts.join(QStringLiteral("; "));
}

QString inputOutcome(const InputCase &c)
{
    if (!c.message.isEmpty())
        return QStringLiteral("box “%1”; nothing sent").arg(c.message);
    return QStringLiteral("sent whole: %1; 校验和 shows %2").arg(wireText(c.wire), c.text4);
}

QString code(const char *name)
{
    return u'`' + QLatin1StringView(name) + u'`';
}

const QString kFaults = QStringLiteral("Faults");
const QString kInput = QStringLiteral("Bad input");
const QString kLoad = QStringLiteral("Load");

// A case another suite already proves.
struct Reference {
    QString section;
    QStringList cells; // the last names the test
};

std::vector<Reference> references()
{
    return {
        {kFaults,
         {QStringLiteral("device gone while the port is open"), QStringLiteral("every console"),
          QStringLiteral("port closed at once; one report; idle CPU quiet afterwards; a later "
                         "opening of the gone device fails"),
          QStringLiteral("tst_serialcontrol::hangUpClosesOnceAndStaysQuiet")}},
        {kFaults,
         {QStringLiteral("hang-up during a pattern"), QStringLiteral("`marlo`"),
          QStringLiteral(
              "one box “串行端口2已断开！”; the pattern stops; idle CPU quiet afterwards"),
          QStringLiteral("tst_dio::hangUpIsReportedOnceAndStopsThePattern")}},
        {kFaults,
         {QStringLiteral("port held by another program at start"),
          QStringLiteral("`ostrel`, `quenby`, `tamsin`"),
          QStringLiteral("box naming the port before the window shows; the window opens with the "
                         "port closed"),
          QStringLiteral("tst_acceptance::aHeldPortIsReportedBeforeTheWindow")}},
        {kFaults,
         {QStringLiteral("port held by another program at start, then the other port"),
          QStringLiteral("every console"),
          QStringLiteral("one box naming the port; the other option opens the other port"),
          QStringLiteral("tst_consolewindow::loadFailureNamesThePortAndKeepsRunning")}},
        {kFaults,
         {QStringLiteral("a switch while a frame goes out"), QStringLiteral("`ostrel`"),
          QStringLiteral("the frame ends whole on the port it started on, then the switch; "
                         "clicks after it go to the new port"),
          QStringLiteral("tst_ostrel::actionsDuringAFrameWaitForIt")}},
        {kFaults,
         {QStringLiteral("window closed during a pattern"), QStringLiteral("`marlo`"),
          QStringLiteral("the frames already sent arrive whole, no further one; status 0"),
          QStringLiteral("tst_dio::closingTheWindowEndsThePatternAndTheProgram")}},
        {kFaults,
         {QStringLiteral("结束 during a pattern or a memory-console wait"),
          QStringLiteral("`marlo`, `quenby`"),
          QStringLiteral("everything queued reaches the device, nothing after; status 0"),
          QStringLiteral("tst_memory::endButtonEndsTheProcessInsideAWait")}},
        {kInput,
         {QStringLiteral("`ostrel`"), QStringLiteral("`Text5`, `Text3` (`Command1`, `Command2`)"),
          QStringLiteral("\"\", \"   \", \"abc\", \"-1\", \"256\", \"1.5\", \"0x10\", \"+5\", "
                         "\"1e2\", \"1 2\", \"99999999999999999999\", \"٣\""),
          QStringLiteral("box naming the address, else the value; nothing sent; the next good "
                         "frame is the first thing on the wire"),
          QStringLiteral("tst_ostrel::badNumbersSendNothing")}},
        {kInput,
         {QStringLiteral("`ostrel`"), QStringLiteral("`Text5`, `Text3` (`Command1`)"),
          QStringLiteral("\" 007 \", \"\\t042\", full-width \"１２\" and \"２５５\""),
          QStringLiteral("blanks ignored, leading zeros and full-width digits read: address 7, "
                         "value 42; address 12, value 255"),
          QStringLiteral("tst_ostrel::framesOnTheWire")}},
        {kLoad,
         {QStringLiteral("10,000 clicks on 输出 and 闪动 during patterns"),
          QStringLiteral("`marlo`"),
          QStringLiteral(
              "only the last click of a burst starts its pattern; stack span under 64 KiB; "
              "frames whole"),
          QStringLiteral("tst_dio::tenThousandAlternatingClicksKeepTheStackBounded")}},
    };
}

} // namespace

QByteArray joined(const std::vector<Wire> &wire)
{
    QByteArray out;
    for (const Wire &w : wire)
        out += w.bytes;
    return out;
}

const std::vector<FaultCase> &faultCases()
{
    static const std::vector<FaultCase> cases = makeFaultCases();
    return cases;
}

const std::vector<InputCase> &inputCases()
{
    static const std::vector<InputCase> cases = makeInputCases();
    return cases;
}

QString windowName(Window window)
{
    switch (window) {
    case Window::Memory:
        return QStringLiteral("`quenby`");
    case Window::DigitalOutput:
        return QStringLiteral("`marlo`");
    case Window::FirstGeneration:
        return QStringLiteral("`ostrel`");
    }
    return {};
}

std::vector<RecordRow> recordRows()
{
    std::vector<RecordRow> rows;
    const auto referenced = [&rows](const QString &section) {
        for (const Reference &r : references())
            if (r.section == section)
                rows.push_back({section, r.cells});
    };

    for (const FaultCase &c : faultCases())
        rows.push_back({kFaults,
                        {QString::fromUtf8(c.name), code(c.program), faultOutcome(c),
                         QStringLiteral("tst_reliability_faults::wholeProgramThroughAFault")}});
    referenced(kFaults);

    for (const InputCase &c : inputCases())
        rows.push_back(
            {kInput,
             {windowName(c.window), QStringLiteral("%1 (%2)").arg(code(c.box), code(c.button)),
              QString::fromUtf8(c.input), inputOutcome(c),
              QStringLiteral("tst_reliability_input::pastedIntoEveryBox")}});
    referenced(kInput);

    rows.push_back(
        {kLoad,
         {QStringLiteral("%1 clicks on both 发送 during frames")
              .arg(QLocale(QLocale::English).toString(kLoadClicks)),
          QStringLiteral("`ostrel`"),
          QStringLiteral("every click's frame or byte goes out whole, in click order; stack "
                         "span under %1 KiB")
              .arg(kStackBoundKiB),
          QStringLiteral("tst_reliability_load::clicksDuringFramesQueueWithoutNesting")}});
    rows.push_back(
        {kLoad,
         {QStringLiteral("replies at full speed for %1 s during a pattern").arg(kFloodSeconds),
          QStringLiteral("`marlo`"),
          QStringLiteral("pattern frames whole and in order; replies shown; resident memory "
                         "grows by under %1 MiB")
              .arg(kFloodGrowthMiB),
          QStringLiteral("tst_reliability_load::repliesAtFullSpeedKeepMemoryBounded")}});
    referenced(kLoad);
    return rows;
}

} // namespace Reliability
