#pragma once

#include "linemodel.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>
#include <chrono>
#include <deque>
#include <functional>
#include <variant>

// The window's serial control: one port, numbered 1 (COM1) or 2 (COM2), at the
// fixed line settings 9600 8N1 without flow control. Every member is used on
// the window's thread and every signal arrives there.
class SerialControl : public QObject {
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;

    // Kinds of event reported by commEvent(). Receive is the only one the
    // consoles name; the line changes come from real serial hardware only.
    enum Event {
        NoEvent = 0,
        Receive = 2,
        CtsChange = 3,
        DsrChange = 4,
        CarrierChange = 5,
        Ring = 6,
    };

    // Runs when a write is handed to the port, with the time its last byte
    // will have left on the line.
    using WhenOnLine = std::function<void(Clock::time_point gone)>;

    explicit SerialControl(QObject *parent = nullptr);
    ~SerialControl() override;

    // The device behind a port number: the system's COM1 and COM2 on Windows;
    // elsewhere /dev/ttyS0 and /dev/ttyS1 unless COMM_COM1 / COMM_COM2 name a device.
    static QString deviceFor(int port);

    int commPort() const { return m_commPort; }
    // Only 1 or 2, and only while the port is closed; false otherwise.
    bool setCommPort(int port);

    bool portOpen() const { return m_port && m_port->isOpen(); }
    // Opening fails when the device is missing or another program holds it.
    // Closing lets the write already on the line finish, so the device never
    // gets half a command, and drops the writes still waiting behind it.
    bool setPortOpen(bool open);

    // Closes the port and opens `port` once everything written before has
    // gone out, at once when the line is idle; writes made meanwhile wait and
    // go to the new port once portSwitched has been delivered. Where the
    // opening failed, what waited is dropped.
    void switchPort(int port);

    // One write of the whole array, refused (false) while closed and no
    // switch is on its way. Writes leave at the line's pace: each is handed
    // to the port when the one before has all but gone; until then it waits
    // here, in order.
    bool setOutput(const QByteArray &bytes, WhenOnLine whenOnLine = {});

    // Bytes written and not yet handed to the port.
    qsizetype outBufferCount() const;
    // How long the line still needs for what has been written, and for a
    // switch asked for; zero once everything has gone.
    std::chrono::milliseconds lineBusyFor() const;

    // Every byte waiting, in arrival order, removed from the buffer.
    QByteArray input();
    // Bytes that have arrived and are not yet read: what input() returns now
    // and what the driver still holds for it.
    qint64 inBufferCount() const;

    int commEvent() const { return m_commEvent; }

    // How many times the device has gone away while open, since construction.
    int losses() const { return m_losses; }

    // Raises onComm with the given kind, as the port's own sources do.
    void raiseEvent(int kind);

Q_SIGNALS:
    // MSComm1_OnComm: read commEvent() inside the handler.
    void onComm();
    // The device went away; the port is already closed. Delivered queued, once.
    void portLost(int port);
    // A switch has been carried out: closed, and `port` opened or not. Where
    // it failed, `writesDropped` tells whether writes made while it waited
    // were dropped, never to go out. Delivered queued.
    void portSwitched(int port, bool opened, bool writesDropped);

private:
    enum class State {
        Closed,
        Open,
        Switching, // a switch waits in line: writes before it still go to the old port
        Switched, // carried out and reported queued: writes wait until the report is out
    };
    struct Write {
        QByteArray bytes;
        WhenOnLine whenOnLine;
    };
    struct Switch {
        int port;
    };
    using Waiting = std::variant<Write, Switch>;

    bool openPort();
    void closePort();
    void handleError(QSerialPort::SerialPortError error);
    void checkLine();
    void loseDevice();
    void handOverOutput();
    bool take(Write &write);
    bool take(Switch &change);
    void reportSwitch(int port, bool opened, bool writesDropped);
    State settledState() const;
    void finishWriteOnTheLine();
    Clock::duration stillToGo() const;
    bool switchWaiting() const;
    bool dropWritesBeforeSwitch();

    QSerialPort *m_port = nullptr; // a new one for every opening; null while closed
    State m_state = State::Closed;
    QTimer m_lineWatch; // the device, while open
    QTimer m_nextWrite; // the line, until it can take the next write without a gap
    QTimer m_drained; // the line and the driver, until a switch may close the port
    std::deque<Waiting> m_waiting; // not yet handed to the port, in order
    LineModel m_line;
    int m_commPort = 1;
    int m_commEvent = NoEvent;
    int m_modemLines = -1; // last pinout seen, or -1 where the device has no modem lines
    int m_losses = 0;
};
