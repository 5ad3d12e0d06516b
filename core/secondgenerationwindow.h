#pragma once

#include "consolewindow.h"

// The consoles whose commands go out as one frame: SOH, the upper-cased text,
// its check character, EOT.
class SecondGenerationWindow : public ConsoleWindow {
    Q_OBJECT

public:
    using ConsoleWindow::ConsoleWindow;

protected:
    // Writes the frame of `text` with one write; false when the port refused it.
    bool commout(const QString &text) { return commout(text, beginOperation()); }
    bool commout(const QString &text, Operation operation, std::function<void()> onLine = {});

    // commout; Text4 shows the check value of the frame once it goes out on
    // the line. A refused send leaves Text4 as it was.
    bool sendCommand(const QString &text) { return sendCommand(text, beginOperation()); }
    bool sendCommand(const QString &text, Operation operation);
};
