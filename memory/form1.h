#pragma once

#include "secondgenerationwindow.h"

class QLineEdit;

namespace memory {

// The memory-module console: a factory-setting, a memory-write and a
// memory-read command, each sent from its own row.
class Form1 : public SecondGenerationWindow {
    Q_OBJECT

public:
    explicit Form1(const Program &program, QWidget *parent = nullptr);

    void Command1_Click(); // factory setting (Text2)
    void Command2_Click(); // memory read (Text5), then a 200 ms wait
    void Command3_Click(); // ends the program
    void Command4_Click(); // memory write (Text3), then a 200 ms wait

private:
    void sendThenWait(const QString &command);

    QLineEdit *Text2;
    QLineEdit *Text3;
    QLineEdit *Text5;
    bool m_waiting = false;
    bool m_waitOwed = false;
};

} // namespace memory
