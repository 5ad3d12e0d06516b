#pragma once

#include "windowcheck.h"

#include <QPoint>
#include <vector>

// Where each window's controls must be, in pixels at 96 DPI, worked out by
// hand from the twips of the window's design (twips / 15, rounded). The unit
// layout checks and the real-window acceptance clicks both read these.
extern const std::vector<ExpectedControl> kMemoryLayout;
extern const std::vector<ExpectedControl> kDioLayout;
extern const std::vector<ExpectedControl> kOstrelLayout;

// The middle of a control in client-area pixels; for an option button the
// point on its text, where a click takes.
QPoint clickPoint(const std::vector<ExpectedControl> &layout, const char *name);

// The rectangle of a control in client-area pixels.
QRect clientRect(const std::vector<ExpectedControl> &layout, const char *name);
