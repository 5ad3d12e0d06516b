#pragma once

#include "consolewindow.h"

#include <deque>
#include <functional>

class QLineEdit;

namespace ostrel {

// The first-generation console: a frame composed from an address, a data text
// and a value, paced out one write at a time; or the value alone as one byte.
class Form1 : public ConsoleWindow {
    Q_OBJECT

public:
    explicit Form1(const Program &program, QWidget *parent = nullptr);

    // While a frame is going out, clicks and port switches wait until it is
    // complete, then take effect in the order they were made, so a frame's
    // bytes are contiguous and all on the port it started on. Closing the
    // window lets the frame finish and drops what waits behind it.
    void Command1_Click(); // the frame of Text5, Text2 and Text3; its check value in Text4
    void Command2_Click(); // the value of Text3 as one byte, and as the text of Text2
    void optCom_Click(int index) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // The check character of a data text, as a one-character string.
    QString CheckSum(const QString &text) const;
    // Writes the text a character at a time, each after the pacing wait;
    // false once the port refuses one.
    bool commout(const QString &text, Operation frame);
    bool sendAfterWaits(const QByteArrayList &writes, Operation frame,
                        std::function<void()> endOfFrame = {});
    void sendFrame(Operation frame);
    void sendValue(Operation clicked);
    void perform(std::function<void()> action);

    QLineEdit *Text2;
    QLineEdit *Text3;
    QLineEdit *Text5;
    std::deque<std::function<void()>> m_pending;
    bool m_busy = false;
    bool m_closeRequested = false;
};

} // namespace ostrel
