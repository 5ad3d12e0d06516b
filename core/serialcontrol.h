#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>
#include <chrono>
#include <deque>

// The window's serial control: one port, numbered 1 (COM1) or 2 (COM2), at the
// fixed line settings 9600 8N1 without flow control. Every member is used on
// the window's thread and every signal arrives there.
class SerialControl : public QObject {
    Q_OBJECT

public:
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

    explicit SerialControl(QObject *parent = nullptr);
    ~SerialControl() override;

    // The device behind a port number: COM1/COM2 on Windows; elsewhere
    // /dev/ttyS0 and /dev/ttyS1 unless COMM_COM1 / COMM_COM2 name a device.
    static QString deviceFor(int port);

    int commPort() const { return m_commPort; }
    // Only 1 or 2, and only while the port is closed; false otherwise.
    bool setCommPort(int port);

    bool portOpen() const { return m_port.isOpen(); }
    // Opening fails when the device is missing or another program holds it.
    // Closing lets the write already on the line finish, so the device never
    // gets half a command, and drops the writes still waiting behind it.
    bool setPortOpen(bool open);

    // One write of the whole array, refused (false) while closed. Writes leave
    // at the line's pace: each is handed to the port once the line has had
    // time to carry the one before; until then it waits here, in order.
    bool setOutput(const QByteArray &bytes);

    // Bytes written and not yet handed to the line.
    qsizetype outBufferCount() const;
    // How long the line still needs for what has been written, as it carries
    // 9600 baud; zero once everything has gone.
    std::chrono::milliseconds lineBusyFor() const;

    // Every byte waiting, in arrival order, removed from the buffer.
    QByteArray input();

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

private:
    void handleError(QSerialPort::SerialPortError error);
    void checkLine();
    void loseDevice();
    void handOverOutput();
    void finishWriteOnTheLine();

    QSerialPort m_port;
    QTimer m_lineWatch;
    QTimer m_lineFree;
    std::deque<QByteArray> m_waiting; // written, not yet handed to the port
    std::chrono::steady_clock::time_point m_lineFreeAt; // when the last handed-over write has gone
    int m_commPort = 1;
    int m_commEvent = NoEvent;
    int m_modemLines = -1; // last pinout seen, or -1 where the device has no modem lines
    int m_losses = 0;
};
