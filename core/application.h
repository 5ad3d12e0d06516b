#pragma once

#include "consolewindow.h"

#include <QApplication>

// Names the program (version 1.00), maps "宋体" to an installed Song-style
// face and makes it the default font, as on the systems these consoles come from.
void setUpApplication(QApplication &app, const Program &program);

// Shows the window after its load handling and runs until it closes.
int runConsole(ConsoleWindow &window);

// The whole of a console's main(): the window `Form` with the values its build was given.
template <typename Form> int runProgram(int argc, char **argv, const Program &program)
{
    QApplication app(argc, argv);
    setUpApplication(app, program);
    Form form(program);
    return runConsole(form);
}
