#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

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
    // Closing first hands over everything queued, so no written byte is lost.
    bool setPortOpen(bool open);

    // One write of the whole array. Refused (false, nothing written) while closed.
    bool setOutput(const QByteArray &bytes);

    // Every byte waiting, in arrival order, removed from the buffer.
    QByteArray input();

    int commEvent() const { return m_commEvent; }

    // How many times the device has gone away while open, since construction.
    int losses() const { return m_losses; }

    // Blocks until what setOutput queued has reached the operating system,
    // at most its wire time at 9600 baud plus a margin.
    void drain();

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

    QSerialPort m_port;
    QTimer m_lineWatch;
    int m_commPort = 1;
    int m_commEvent = NoEvent;
    int m_modemLines = -1; // last pinout seen, or -1 where the device has no modem lines
    int m_losses = 0;
};
