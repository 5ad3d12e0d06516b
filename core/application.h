#pragma once

#include "consolewindow.h"

class QApplication;

// Names the program (version 1.00), maps "宋体" to an installed Song-style
// face and makes it the default font, as on the systems these consoles come from.
void setUpApplication(QApplication &app, const Program &program);

// Shows the window after its load handling and runs until it closes.
int runConsole(ConsoleWindow &window);
