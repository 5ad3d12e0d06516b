#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// The device end of a pseudo-terminal, in raw mode. The console opens path();
// everything it writes is collected by a thread of the device's own, with the
// arrival time, so the device keeps reading while the console's thread blocks.
//
// At line speed the device behaves like one on a 9600-baud line: it takes
// bytes off the line one character time (1.04 ms) apart, so a console that
// writes faster sees its output pile up, and what it writes leaves a byte at a
// time, so the console reads a reply in pieces.
class PtyDevice {
public:
    enum class Pace { Instant, LineSpeed };

    explicit PtyDevice(Pace pace = Pace::Instant);
    ~PtyDevice();
    PtyDevice(const PtyDevice &) = delete;
    PtyDevice &operator=(const PtyDevice &) = delete;

    QString path() const { return m_path; }

    QByteArray received() const;

    struct Arrival {
        qint64 atMs; // since the device was created
        QByteArray bytes;
    };
    // What has arrived cut after every EOT, each frame with the arrival time
    // of its EOT; an unfinished tail is left out.
    QList<Arrival> arrivals() const;
    // Each read of the device as it came.
    QList<Arrival> pieces() const;
    void clear();

    // Keeps the event loop running until `count` bytes have arrived in all.
    bool waitForBytes(qsizetype count, int timeoutMs = 5000);

    // Returns at once; at line speed the bytes follow one character time apart.
    void write(QByteArrayView bytes);
    // Keeps the event loop running until everything written has left.
    bool waitForWritten(int timeoutMs = 10000);

    // The device goes away, as a pulled USB adapter does.
    void hangUp();

    qint64 elapsedMs() const { return m_clock.elapsed(); }

private:
    void readLoop();
    void writeLoop();

    Pace m_pace;
    QString m_path;
    int m_master = -1;
    int m_slave = -1; // kept open so bytes still arrive after the console closes its end
    int m_wake[2] = {-1, -1};
    QElapsedTimer m_clock;
    std::atomic<bool> m_stopping = false;

    mutable std::mutex m_mutex;
    std::condition_variable m_outgoingReady;
    QList<Arrival> m_pieces;
    QByteArray m_outgoing;
    bool m_writing = false;

    std::thread m_reader;
    std::thread m_writer;
};
