#include "secondgenerationwindow.h"

#include "codepage.h"
#include "frames.h"

#include <QLineEdit>

bool SecondGenerationWindow::commout(const QString &text, Operation operation,
                                     std::function<void()> onLine)
{
    return send(Frames::secondGenerationFrame(text), operation, true, std::move(onLine));
}

bool SecondGenerationWindow::sendCommand(const QString &text, Operation operation)
{
    const QString check = QString::number(Frames::checkCharCode(CodePage::upperCased(text)));
    return commout(text, operation, [this, check] { Text4->setText(check); });
}
