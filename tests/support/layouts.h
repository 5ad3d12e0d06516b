#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <vector>

class QWidget;

// Each window's design in pixels at 96 DPI, worked out by hand from its twips
// (twips / 15, rounded), with fonts and texts; options are within Frame1.
struct ExpectedControl {
    const char *name;
    QRect geometry;
    double points; // 0: the window's own font
    bool bold;
    const char *text; // caption or initial text
};
struct ExpectedWindow {
    QSize clientArea;
    std::vector<ExpectedControl> controls;
    QStringList tabOrder; // from the control focused at start
};

const ExpectedWindow &expectedWindow(const QString &program);
// Every difference between a window and its design, not just the first.
QStringList layoutDifferences(QWidget *window, const ExpectedWindow &expected);
// Where a click takes in client-area pixels: an option's text, else the middle.
QPoint clickPoint(const ExpectedWindow &window, const char *name);
