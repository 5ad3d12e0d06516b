#pragma once

#include "secondgenerationwindow.h"

class QLineEdit;

namespace dio {

// The digital-output console: an endless ON/OFF toggle and an endless running
// light, one command every 200 ms, until the program ends.
//
// Exactly one pattern loop runs at a time, in the handler of the click that
// started it. A pattern click that arrives during the loop's wait only asks
// for its pattern; the wait ends at once and the loop starts that pattern from
// its first command, so the stack stays as deep as one loop however many
// clicks come. Clicks handled in the same dispatch pass count as the last one.
class Form1 : public SecondGenerationWindow {
    Q_OBJECT

public:
    explicit Form1(const Program &program, QWidget *parent = nullptr);

    void Command1_Click(); // the ON/OFF toggle of Text2 and Text3
    void Command2_Click(); // the running light behind the prefix in Text5
    void Command3_Click(); // ends the program

private:
    enum class Pattern { None, Toggle, RunningLight };

    // Runs `clicked`, and whatever is clicked during it, until the window
    // unloads or a send is refused; inside a running pattern only asks for it.
    void start(Pattern clicked);
    void toggle(Operation operation);
    void runningLight(Operation operation);
    // Waits until the line has carried the last command, sends `command`,
    // shows its check value and waits the step time.
    // False when the pattern must end: refused, asked for another, or unloaded.
    bool step(const QString &command, Operation operation);

    QLineEdit *Text2;
    QLineEdit *Text3;
    QLineEdit *Text5;
    bool m_running = false;
    Pattern m_requested = Pattern::None;
};

} // namespace dio
