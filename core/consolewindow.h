#pragma once

#include "layout.h"
#include "program.h"
#include "replyrule.h"
#include "serialcontrol.h"

#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <initializer_list>
#include <utility>

class QLineEdit;
class QRadioButton;

// The window `Form1` as far as every console shares it: the port choice in
// Frame1, opening at load, switching, closing at unload, the warning box,
// replies in Text1 and Text6, and the check value box Text4.
class ConsoleWindow : public QWidget {
    Q_OBJECT

public:
    ConsoleWindow(const Layout::Window &layout, const Program &program, QWidget *parent = nullptr);
    ~ConsoleWindow() override;

    // Opens the start-up port; a failure is reported before the window is shown.
    void Form_Load();
    // The commands clicked before it go out on the old port first; virtual so
    // that a window can hold a switch back while it is in the middle of a frame.
    virtual void optCom_Click(int index);
    void Form_Unload();
    void MSComm1_OnComm();

    SerialControl &serialControl() { return MSComm1; }

protected:
    void closeEvent(QCloseEvent *event) override;

    template <typename W> W *control(const char *name) const
    {
        return findChild<W *>(QLatin1StringView(name));
    }

    // Each push button's click to its handler, by the button's name.
    template <typename Form>
    void connectClicks(std::initializer_list<std::pair<const char *, void (Form::*)()>> handlers)
    {
        for (const auto &[name, handler] : handlers)
            connect(control<QPushButton>(name), &QPushButton::clicked, static_cast<Form *>(this),
                    handler);
    }

    // The sends of one click, a pattern or a frame: a send refused because the
    // port was lost while it ran is already explained by the loss report.
    struct Operation {
        int lossesAtStart;
    };
    Operation beginOperation() const { return {MSComm1.losses()}; }

    // One write; a refusal is reported with the warning box, unless the port
    // was lost during `operation`. Returns whether the bytes were taken.
    // `onLine` runs once they are handed to the line. A write that
    // `endsCommand` is the last of a command: what arrives after it has gone
    // is the answer, a new reply.
    bool send(const QByteArray &bytes, Operation operation, bool endsCommand = true,
              std::function<void()> onLine = {});

    // Sleeps, dispatching events, until the line has carried everything
    // written; false when `stopEarly` cut it short.
    bool waitForLine(const std::function<bool()> &stopEarly = {});

    // Modal warning titled "系统信息" with one OK button; returns after OK.
    void showWarning(const QString &text);

    // Ends the process at once from any depth, without the unload: the window
    // goes first, then the command already on the line is let finish, what
    // waits behind it is dropped and the port released.
    [[noreturn]] void endProgram();

    // Takes the window off the screen now, not when the event loop next runs.
    void hideAtOnce();

    bool unloaded() const { return m_unloaded; }

    SerialControl MSComm1;
    QRadioButton *optCom[2];
    QLineEdit *Text1;
    QLineEdit *Text4;
    QLineEdit *Text6;

private:
    using Clock = SerialControl::Clock;

    void lookAtTheLine();
    void startAfresh();
    void showReply();
    void armLook();

    Program m_program;
    bool m_unloaded = false;
    ReplyRule m_replies; // says what Text1 shows
    QTimer m_look; // when the rule needs a look at the line without a byte arriving
};
