#pragma once

#include <QFont>
#include <QWidget>
#include <span>

// Windows are laid out from one table of numbers in twips (1/1440 inch,
// 15 twips to the pixel at 96 DPI), relative to the client area; controls
// inside a group box are relative to that box.
namespace Layout {

constexpr int kTwipsPerPixel = 15;

constexpr int pixels(int twips)
{
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

enum class Kind { GroupBox, Option, Label, TextBox, Button };

// A point size of 0 leaves the window's own font.
struct Font {
    double points = 0;
    bool bold = false;
};

// The faces the windows use: captions of the rows, headings above the small
// boxes, the command boxes, and the red reply box.
constexpr Font kLabelFont{12, false};
constexpr Font kHeadingFont{10.5, false};
constexpr Font kBoxFont{14.25, true};
constexpr Font kReplyFont{18, true};

struct Control {
    const char *name; // object name, as "optCom(0)"
    Kind kind;
    const char *text; // caption or initial text, UTF-8
    int left, top, width, height;
    Font font;
    int tabIndex;
    const char *parent = nullptr; // the group box that holds it
};

struct Window {
    int width, height; // client area
    std::span<const Control> controls;
};

// "宋体" at the given size; the application maps the face to a Song-style font.
QFont songFont(double points, bool bold);

// Creates every control as a child of `window`, gives the window its size,
// chains the tab order by tab index and gives the first stop the focus.
void build(QWidget *window, const Window &design);

} // namespace Layout
