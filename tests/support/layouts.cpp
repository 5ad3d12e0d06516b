#include "layouts.h"

#include <QFontInfo>
#include <QLineEdit>
#include <QTest>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

const ExpectedWindow kMemory{
    {416, 268},
    {
        {"Frame1", {24, 8, 145, 41}, 0, false, "请挑选通信端口"},
        {"optCom(0)", {16, 16, 57, 17}, 0, false, "COM1"},
        {"optCom(1)", {80, 16, 57, 17}, 0, false, "COM2"},
        {"Label3", {176, 8, 81, 25}, 10.5, false, "反回HEX数据："},
        {"Text6", {176, 34, 89, 31}, 14.25, true, ""},
        {"Label4", {304, 8, 57, 25}, 10.5, false, "校验和："},
        {"Text4", {304, 34, 89, 31}, 14.25, true, ""},
        {"Label1(0)", {24, 88, 145, 17}, 12, false, "反回通信状态结果："},
        {"Text1", {176, 80, 169, 33}, 18, true, ""},
        {"Command3", {352, 80, 41, 33}, 0, false, "结束"},
        {"Label2(0)", {24, 136, 113, 17}, 12, false, "出厂设置："},
        {"Text2", {176, 136, 169, 25}, 14.25, true, "FFTO0130202"},
        {"Command1", {352, 136, 41, 25}, 0, false, "确定"},
        {"Label2(1)", {24, 184, 153, 17}, 12, false, "存储器写命令："},
        {"Text3", {176, 176, 169, 27}, 14.25, true, "01ZW00ABCDEFGH"},
        {"Command4", {352, 176, 41, 25}, 0, false, "确定"},
        {"Label2(2)", {24, 224, 145, 17}, 12, false, "存储器读命令："},
        {"Text5", {176, 224, 169, 27}, 14.25, true, "01ZR0008"},
        {"Command2", {352, 224, 41, 23}, 0, false, "确定"},
    },
    {"Command1", "Text2", "Text3", "Command2", "optCom(1)", "optCom(0)", "Text4", "Text5", "Text6",
     "Command3", "Command4", "Text1"},
};

const ExpectedWindow kDio{
    {408, 262},
    {
        {"Frame1", {24, 8, 145, 41}, 0, false, "请挑选通信端口"},
        {"optCom(0)", {16, 16, 57, 17}, 0, false, "COM1"},
        {"optCom(1)", {80, 16, 57, 17}, 0, false, "COM2"},
        {"Label3", {176, 8, 81, 25}, 0, false, "反回HEX数据："},
        {"Text6", {176, 40, 89, 25}, 14.25, true, ""},
        {"Label4", {288, 8, 57, 25}, 0, false, "校验和："},
        {"Text4", {288, 40, 89, 25}, 14.25, true, ""},
        {"Label1", {24, 80, 145, 17}, 12, false, "反回通信状态结果："},
        {"Text1", {176, 72, 201, 33}, 18, true, ""},
        {"Label2(0)", {24, 136, 113, 17}, 12, false, "I/O输出命令ON"},
        {"Text2", {176, 128, 169, 25}, 14.25, true, "01DOP1FF"},
        {"Command1", {352, 128, 41, 25}, 0, false, "输出"},
        {"Label2(1)", {24, 176, 121, 17}, 12, false, "I/O输出命令OFF"},
        {"Text3", {176, 168, 169, 27}, 14.25, true, "01DOP100"},
        {"Command3", {352, 168, 41, 25}, 0, false, "结束"},
        {"Label2(2)", {24, 216, 145, 17}, 12, false, "I/O输出命令闪动"},
        {"Text5", {176, 208, 169, 27}, 14.25, true, "01DOP0"},
        {"Command2", {352, 208, 41, 23}, 0, false, "闪动"},
    },
    {"Command1", "Text2", "Text3", "Command2", "optCom(1)", "optCom(0)", "Text4", "Text5", "Text6",
     "Command3", "Text1"},
};

const ExpectedWindow kOstrel{
    {408, 262},
    {
        {"Frame1", {24, 16, 145, 41}, 0, false, "请挑选端口"},
        {"optCom(0)", {16, 16, 57, 17}, 0, false, "COM1"},
        {"optCom(1)", {80, 16, 57, 17}, 0, false, "COM2"},
        {"Text6", {184, 40, 81, 25}, 14.25, true, ""},
        {"Text4", {288, 40, 89, 25}, 14.25, true, ""},
        {"Label1", {56, 88, 113, 17}, 12, false, "反回结果显示："},
        {"Text1", {176, 72, 201, 33}, 18, true, ""},
        {"Label2(0)", {32, 136, 113, 17}, 12, false, "命令输入字符："},
        {"Text2", {176, 128, 169, 25}, 14.25, true, ""},
        {"Command1", {352, 128, 41, 25}, 0, false, "发送"},
        {"Label2(1)", {32, 176, 121, 17}, 12, false, "输入值ASCII："},
        {"Text3", {176, 168, 169, 27}, 14.25, true, ""},
        {"Command2", {352, 168, 41, 31}, 0, false, "发送"},
        {"Label2(2)", {32, 216, 145, 17}, 12, false, "输入地址值ASCII："},
        {"Text5", {176, 208, 169, 27}, 14.25, true, ""},
    },
    {"Text1", "Command1", "Text2", "Text3", "Command2", "optCom(1)", "optCom(0)", "Text4", "Text5",
     "Text6"},
};

QStringList tabOrder(QWidget *window)
{
    QStringList order;
    QWidget *widget = window->focusWidget();
    while (widget && !order.contains(widget->objectName())) {
        if (widget != window && (widget->focusPolicy() & Qt::TabFocus))
            order << widget->objectName();
        widget = widget->nextInFocusChain();
    }
    return order;
}

QString textOf(QWidget *widget)
{
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return edit->text();
    return widget->property(widget->inherits("QGroupBox") ? "title" : "text").toString();
}

} // namespace

const ExpectedWindow &expectedWindow(const QString &program)
{
    if (program == u"ostrel")
        return kOstrel;
    return program == u"marlo" || program == u"dunwell" ? kDio : kMemory;
}

QStringList layoutDifferences(QWidget *window, const ExpectedWindow &expected)
{
    QStringList out;
    const auto differ = [&out](const QString &what, const auto &actual, const auto &wanted) {
        if (actual != wanted)
            out << what + u": "_s + QTest::toString(actual) + u" instead of "_s
                       + QTest::toString(wanted);
    };
    differ(u"caption"_s, window->windowTitle(), u"comm"_s);
    differ(u"size"_s, window->size(), expected.clientArea);
    differ(u"resizable"_s, window->maximumSize() != window->minimumSize(), true);
    differ(u"tab order"_s, tabOrder(window), expected.tabOrder);
    for (const ExpectedControl &row : expected.controls) {
        const QString name = QString::fromLatin1(row.name);
        auto *widget = window->findChild<QWidget *>(name);
        if (!widget) {
            out << name + u" missing"_s;
            continue;
        }
        differ(name + u" geometry"_s, widget->geometry(), row.geometry);
        differ(name + u" text"_s, textOf(widget), QString::fromUtf8(row.text));
        const QFont font = widget->font();
        if (row.points > 0) {
            differ(name + u" face"_s, QFontInfo(font).family(), u"AR PL UMing CN"_s);
            differ(name + u" size"_s, font.pointSizeF(), row.points);
            differ(name + u" bold"_s, font.bold(), row.bold);
        } else {
            differ(name + u" font"_s, font, window->font());
        }
        differ(name + u" red text"_s, widget->palette().color(QPalette::Text) == QColor(255, 0, 0),
               name == u"Text1");
    }
    return out;
}

QPoint clickPoint(const ExpectedWindow &window, const char *name)
{
    QRect frame;
    for (const ExpectedControl &control : window.controls) {
        if (std::strcmp(control.name, "Frame1") == 0)
            frame = control.geometry;
        if (std::strcmp(control.name, name) != 0)
            continue;
        if (std::strncmp(name, "optCom", 6) == 0)
            return frame.topLeft()
                   + QPoint(control.geometry.left() + 5, control.geometry.center().y());
        return control.geometry.center();
    }
    return {};
}
