#include "secondgenerationwindow.h"

#include "codepage.h"
#include "frames.h"

#include <QLineEdit>

bool SecondGenerationWindow::commout(const QString &text, Operation operation)
{
    return send(Frames::secondGenerationFrame(text), operation);
}

bool SecondGenerationWindow::sendCommand(const QString &text, Operation operation)
{
    if (!commout(text, operation))
        return false;
    Text4->setText(QString::number(Frames::checkCharCode(CodePage::upperCased(text))));
    return true;
}
