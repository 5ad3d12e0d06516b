#include "layout.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <limits>
#include <vector>

namespace Layout {
namespace {

// Return and Enter click a focused button, as Space does. Without making it a
// default button: the Windows style pulses a default button endlessly, a
// repaint many times a second for as long as the window is shown.
class CommandButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const int key = event->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter)
            && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            click();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

QWidget *create(Kind kind, const QString &text, QWidget *parent)
{
    switch (kind) {
    case Kind::GroupBox:
        return new QGroupBox(text, parent);
    case Kind::Option:
        return new QRadioButton(text, parent);
    case Kind::Label: {
        auto *label = new QLabel(text, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        return label;
    }
    case Kind::TextBox: {
        auto *box = new QLineEdit(text, parent);
        // A command pasted into a box goes out whole: the toolkit's default
        // limit of 32767 characters would cut it short without a word.
        box->setMaxLength(std::numeric_limits<int>::max());
        return box;
    }
    case Kind::Button:
        return new CommandButton(text, parent);
    }
    return nullptr;
}

bool takesFocus(Kind kind)
{
    return kind != Kind::Label && kind != Kind::GroupBox;
}

} // namespace

QFont songFont(double points, bool bold)
{
    QFont font(QStringLiteral("宋体"));
    font.setPointSizeF(points);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

void build(QWidget *window, const Window &design)
{
    std::vector<std::pair<int, QWidget *>> tabStops;
    for (const Control &c : design.controls) {
        QWidget *parent =
            c.parent ? window->findChild<QWidget *>(QLatin1StringView(c.parent)) : window;
        QWidget *widget = create(c.kind, QString::fromUtf8(c.text), parent);
        widget->setObjectName(QLatin1StringView(c.name));
        widget->setGeometry(pixels(c.left), pixels(c.top), pixels(c.width), pixels(c.height));
        if (c.font.points > 0)
            widget->setFont(songFont(c.font.points, c.font.bold));
        if (takesFocus(c.kind))
            tabStops.emplace_back(c.tabIndex, widget);
    }
    std::sort(tabStops.begin(), tabStops.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    for (size_t i = 1; i < tabStops.size(); ++i)
        QWidget::setTabOrder(tabStops[i - 1].second, tabStops[i].second);
    if (!tabStops.empty())
        tabStops.front().second->setFocus();
    // An ordinary window: it may be resized or maximised, the controls stay put.
    window->resize(pixels(design.width), pixels(design.height));
}

} // namespace Layout
