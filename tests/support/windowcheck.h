#pragma once

#include <QRadioButton>
#include <QRect>
#include <QStringList>
#include <QWidget>
#include <vector>

// One row of a window's expected layout, in pixels at 96 DPI.
struct ExpectedControl {
    const char *name;
    QRect geometry;
    double points; // 0: the window's own font
    bool bold;
};

// Geometry, font, red Text1, fixed size and caption of a console window.
// Reports every difference, not just the first.
QStringList layoutDifferences(QWidget *window, QSize clientArea,
                              const std::vector<ExpectedControl> &expected);

// The object names of the focus stops, in tab order, from the focused widget.
QStringList tabOrder(QWidget *window);

// Option buttons are narrower in text than in geometry: click where the text is.
void clickOption(QRadioButton *option);
