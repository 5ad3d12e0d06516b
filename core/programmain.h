#pragma once

#include "application.h"

#include <QApplication>

// The whole of a console's main(): the window `Form` with the values its build was given.
template <typename Form> int runProgram(int argc, char **argv, const Program &program)
{
    QApplication app(argc, argv);
    setUpApplication(app, program);
    Form form(program);
    return runConsole(form);
}
