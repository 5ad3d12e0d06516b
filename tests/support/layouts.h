#pragma once

#include <QRect>
#include <QStringList>
#include <vector>

class QWidget;

// Where each window's controls must be, in pixels at 96 DPI, worked out by
// hand from the twips of the window's design (twips / 15, rounded), with
// their fonts and texts; the window tests and the real-window clicks read them.
struct ExpectedControl {
    const char *name;
    QRect geometry; // an option's is within Frame1
    double points; // 0: the window's own font
    bool bold;
    const char *text; // caption or initial text
};

struct ExpectedWindow {
    QSize clientArea;
    std::vector<ExpectedControl> controls;
    QStringList tabOrder; // from the control that has the focus at start
};

const ExpectedWindow &expectedWindow(const QString &program);

// Every difference between a window and its design, not just the first.
QStringList layoutDifferences(QWidget *window, const ExpectedWindow &expected);

// Where a click takes, in client-area pixels: an option's text, any other
// control's middle.
QPoint clickPoint(const ExpectedWindow &window, const char *name);
