#include "secondgenerationwindow.h"

#include "codepage.h"
#include "frames.h"

#include <QLineEdit>

bool SecondGenerationWindow::commout(const QString &text)
{
    return send(Frames::secondGenerationFrame(text));
}

bool SecondGenerationWindow::sendCommand(const QString &text)
{
    if (!commout(text))
        return false;
    Text4->setText(QString::number(Frames::checkCharCode(CodePage::upperCased(text))));
    return true;
}
