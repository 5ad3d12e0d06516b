#include "layouts.h"

#include "harness.h"

#include <QFontInfo>
#include <QLineEdit>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr double B = 14.25; // the bold command boxes

// clang-format off
const ExpectedWindow kMemory{{416, 268}, {
    {"Frame1", {24, 8, 145, 41}, 0, 0, "请挑选通信端口"}, {"optCom(0)", {16, 16, 57, 17}, 0, 0, "COM1"},
    {"optCom(1)", {80, 16, 57, 17}, 0, 0, "COM2"}, {"Label3", {176, 8, 81, 25}, 10.5, 0, "反回HEX数据："},
    {"Text6", {176, 34, 89, 31}, B, 1, ""}, {"Label4", {304, 8, 57, 25}, 10.5, 0, "校验和："},
    {"Text4", {304, 34, 89, 31}, B, 1, ""}, {"Label1(0)", {24, 88, 145, 17}, 12, 0, "反回通信状态结果："},
    {"Text1", {176, 80, 169, 33}, 18, 1, ""}, {"Command3", {352, 80, 41, 33}, 0, 0, "结束"},
    {"Label2(0)", {24, 136, 113, 17}, 12, 0, "出厂设置："}, {"Text2", {176, 136, 169, 25}, B, 1, "FFTO0130202"},
    {"Command1", {352, 136, 41, 25}, 0, 0, "确定"}, {"Label2(1)", {24, 184, 153, 17}, 12, 0, "存储器写命令："},
    {"Text3", {176, 176, 169, 27}, B, 1, "01ZW00ABCDEFGH"}, {"Command4", {352, 176, 41, 25}, 0, 0, "确定"},
    {"Label2(2)", {24, 224, 145, 17}, 12, 0, "存储器读命令："}, {"Text5", {176, 224, 169, 27}, B, 1, "01ZR0008"},
    {"Command2", {352, 224, 41, 23}, 0, 0, "确定"}},
    {"Command1", "Text2", "Text3", "Command2", "optCom(1)", "optCom(0)", "Text4", "Text5", "Text6", "Command3", "Command4", "Text1"}};

const ExpectedWindow kDio{{408, 262}, {
    {"Frame1", {24, 8, 145, 41}, 0, 0, "请挑选通信端口"}, {"optCom(0)", {16, 16, 57, 17}, 0, 0, "COM1"},
    {"optCom(1)", {80, 16, 57, 17}, 0, 0, "COM2"}, {"Label3", {176, 8, 81, 25}, 0, 0, "反回HEX数据："},
    {"Text6", {176, 40, 89, 25}, B, 1, ""}, {"Label4", {288, 8, 57, 25}, 0, 0, "校验和："},
    {"Text4", {288, 40, 89, 25}, B, 1, ""}, {"Label1", {24, 80, 145, 17}, 12, 0, "反回通信状态结果："},
    {"Text1", {176, 72, 201, 33}, 18, 1, ""}, {"Label2(0)", {24, 136, 113, 17}, 12, 0, "I/O输出命令ON"},
    {"Text2", {176, 128, 169, 25}, B, 1, "01DOP1FF"}, {"Command1", {352, 128, 41, 25}, 0, 0, "输出"},
    {"Label2(1)", {24, 176, 121, 17}, 12, 0, "I/O输出命令OFF"}, {"Text3", {176, 168, 169, 27}, B, 1, "01DOP100"},
    {"Command3", {352, 168, 41, 25}, 0, 0, "结束"}, {"Label2(2)", {24, 216, 145, 17}, 12, 0, "I/O输出命令闪动"},
    {"Text5", {176, 208, 169, 27}, B, 1, "01DOP0"}, {"Command2", {352, 208, 41, 23}, 0, 0, "闪动"}},
    {"Command1", "Text2", "Text3", "Command2", "optCom(1)", "optCom(0)", "Text4", "Text5", "Text6", "Command3", "Text1"}};

const ExpectedWindow kOstrel{{408, 262}, {
    {"Frame1", {24, 16, 145, 41}, 0, 0, "请挑选端口"}, {"optCom(0)", {16, 16, 57, 17}, 0, 0, "COM1"},
    {"optCom(1)", {80, 16, 57, 17}, 0, 0, "COM2"}, {"Text6", {184, 40, 81, 25}, B, 1, ""},
    {"Text4", {288, 40, 89, 25}, B, 1, ""}, {"Label1", {56, 88, 113, 17}, 12, 0, "反回结果显示："},
    {"Text1", {176, 72, 201, 33}, 18, 1, ""}, {"Label2(0)", {32, 136, 113, 17}, 12, 0, "命令输入字符："},
    {"Text2", {176, 128, 169, 25}, B, 1, ""}, {"Command1", {352, 128, 41, 25}, 0, 0, "发送"},
    {"Label2(1)", {32, 176, 121, 17}, 12, 0, "输入值ASCII："}, {"Text3", {176, 168, 169, 27}, B, 1, ""},
    {"Command2", {352, 168, 41, 31}, 0, 0, "发送"}, {"Label2(2)", {32, 216, 145, 17}, 12, 0, "输入地址值ASCII："},
    {"Text5", {176, 208, 169, 27}, B, 1, ""}},
    {"Text1", "Command1", "Text2", "Text3", "Command2", "optCom(1)", "optCom(0)", "Text4", "Text5", "Text6"}};
// clang-format on

} // namespace

const ExpectedWindow &expectedWindow(const QString &program)
{
    const QLatin1StringView folder(programRow(program).folder);
    if (folder == "ostrel"_L1)
        return kOstrel;
    return folder == "dio"_L1 ? kDio : kMemory;
}

QStringList layoutDifferences(QWidget *window, const ExpectedWindow &expected)
{
    QStringList out;
    const auto differ = [&out](const QString &what, const auto &actual, const auto &wanted) {
        if (actual != wanted)
            out << what + u": "_s + QTest::toString(actual) + u" instead of "_s
                       + QTest::toString(wanted);
    };
    QStringList tabOrder;
    for (QWidget *w = window->focusWidget(); w && !tabOrder.contains(w->objectName());
         w = w->nextInFocusChain())
        if (w != window && (w->focusPolicy() & Qt::TabFocus))
            tabOrder << w->objectName();
    differ(u"tab order"_s, tabOrder, expected.tabOrder);
    differ(u"caption"_s, window->windowTitle(), u"comm"_s);
    differ(u"size"_s, window->size(), expected.clientArea);
    differ(u"resizable"_s, window->minimumSize() != window->maximumSize(), true);
    for (const ExpectedControl &row : expected.controls) {
        const QString name = QString::fromLatin1(row.name);
        QWidget *widget = window->findChild<QWidget *>(name);
        if (!widget) {
            out << name + u" missing"_s;
            continue;
        }
        auto *edit = qobject_cast<QLineEdit *>(widget);
        const char *textProperty = widget->inherits("QGroupBox") ? "title" : "text";
        differ(name, widget->geometry(), row.geometry);
        differ(name, edit ? edit->text() : widget->property(textProperty).toString(),
               QString::fromUtf8(row.text));
        if (edit) // a pasted command goes out whole
            edit->setText(QString(40'000, u'x')), differ(name, edit->text().size(), 40'000);
        const QFont font = widget->font();
        differ(name, row.points ? QFontInfo(font).family() : font.family(),
               row.points ? u"AR PL UMing CN"_s : window->font().family());
        differ(name, font.pointSizeF(), row.points ? row.points : window->font().pointSizeF());
        differ(name + u" bold"_s, font.bold(), row.bold);
        differ(name + u" red"_s, widget->palette().color(QPalette::Text) == Qt::red,
               name == u"Text1");
    }
    return out;
}

QPoint clickPoint(const ExpectedWindow &window, const char *name)
{
    const auto rect = [&](QLatin1StringView wanted) {
        for (const ExpectedControl &control : window.controls)
            if (wanted == QLatin1StringView(control.name))
                return control.geometry;
        return QRect();
    };
    const QRect at = rect(QLatin1StringView(name));
    if (QLatin1StringView(name).startsWith("optCom"_L1))
        return rect("Frame1"_L1).topLeft() + QPoint(at.left() + 5, at.center().y());
    return at.center();
}
