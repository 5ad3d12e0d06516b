#include "windowcheck.h"

#include <QFontInfo>
#include <QLineEdit>
#include <QTest>
#include <memory>

QStringList layoutDifferences(QWidget *window, QSize clientArea,
                              const std::vector<ExpectedControl> &expected)
{
    QStringList differences;
    const auto toText = [](const auto &value) {
        std::unique_ptr<char[]> owned(QTest::toString(value));
        return QString::fromUtf8(owned.get());
    };
    const auto differ = [&](const QString &what, const auto &actual, const auto &wanted) {
        if (actual != wanted)
            differences
                << QStringLiteral("%1: %2 instead of %3").arg(what, toText(actual), toText(wanted));
    };
    differ(QStringLiteral("caption"), window->windowTitle(), QStringLiteral("comm"));
    differ(QStringLiteral("size"), window->size(), clientArea);
    differ(QStringLiteral("minimum size"), window->minimumSize(), clientArea);
    differ(QStringLiteral("maximum size"), window->maximumSize(), clientArea);
    for (const ExpectedControl &row : expected) {
        const QString name = QLatin1StringView(row.name);
        auto *widget = window->findChild<QWidget *>(name);
        if (!widget) {
            differences << name + QStringLiteral(" missing");
            continue;
        }
        differ(name + QStringLiteral(" geometry"), widget->geometry(), row.geometry);
        const QFont font = widget->font();
        const QFont windowFont = window->font();
        if (row.points > 0) {
            differ(name + QStringLiteral(" face"), font.family(), QStringLiteral("宋体"));
            differ(name + QStringLiteral(" size"), font.pointSizeF(), row.points);
            differ(name + QStringLiteral(" bold"), font.bold(), row.bold);
            differ(name + QStringLiteral(" resolved face"), QFontInfo(font).family(),
                   QStringLiteral("AR PL UMing CN"));
        } else {
            differ(name + QStringLiteral(" font"), font, windowFont);
        }
        const QColor text = widget->palette().color(QPalette::Text);
        const bool isText1 = name == QStringLiteral("Text1");
        differ(name + QStringLiteral(" text colour is pure red"), text == QColor(255, 0, 0),
               isText1);
    }
    return differences;
}

QStringList tabOrder(QWidget *window)
{
    QStringList order;
    QWidget *start = window->focusWidget();
    if (!start)
        return order;
    QWidget *widget = start;
    do {
        if (widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus) && widget != window)
            order << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget && widget != start);
    return order;
}

void clickOption(QRadioButton *option)
{
    QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(5, option->height() / 2));
}
