#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// The device end of a pseudo-terminal in raw mode, read and written by threads
// of its own, so it keeps time while the console's thread blocks. It stands in
// for each kind of device a bench has:
// - Instant: native USB (CDC-ACM), a virtual pair: takes and sends at once.
// - LineSpeed: a device on a 9600-baud line, a byte every 1.04 ms each way.
// - Uart16550: the same line into a 16550, whose FIFO hands over 8 bytes at a
//   time, or what it has after 4 character times of silence.
// - UsbAdapter: the same line into a USB adapter's chip, which hands over what
//   it has once per 16 ms latency tick, up to 62 bytes at a time.
// - Rs485Echo: a two-wire adapter on the line, echoing every byte the console
//   sends as it goes out; the device answers once the line has turned round.
class PtyDevice {
public:
    enum class Pace { Instant, LineSpeed, Uart16550, UsbAdapter, Rs485Echo };
    struct Arrival {
        qint64 atMs; // since the device was created
        QByteArray bytes;
    };
    // An answer in pieces, each written gapMs after the one before.
    struct Answer {
        QByteArrayList pieces;
        int gapMs = 0;
    };

    explicit PtyDevice(Pace pace = Pace::Instant);
    ~PtyDevice();

    QString path() const { return m_path; }
    QByteArray received() const { return std::lock_guard(m_mutex), m_received; }
    // What has arrived cut after every EOT, each with the time its EOT came.
    QList<Arrival> arrivals() const
    {
        return std::lock_guard(m_mutex), m_frames.first(m_frames.size() - 1);
    }
    bool waitForBytes(qsizetype count, int timeoutMs = 5000);
    void write(QByteArrayView bytes); // returns at once
    // Each frame that arrives from now on is answered with the next of these,
    // as soon as its EOT is in, as a device answers.
    void answerWith(const QByteArrayList &answers);
    void answerWith(const QList<Answer> &answers);
    void hangUp(); // as a pulled USB adapter

private:
    using Clock = std::chrono::steady_clock;
    struct Outgoing {
        QByteArray bytes;
        Clock::time_point notBefore;
    };

    void readLoop();
    void writeLoop();
    void send(QByteArrayView bytes, Clock::time_point notBefore);

    Pace m_pace;
    QString m_path;
    int m_master = -1;
    int m_slave = -1; // held, so the console may close and reopen its end
    int m_wake[2] = {-1, -1};
    QElapsedTimer m_clock;
    std::atomic<bool> m_stopping = false;
    mutable std::mutex m_mutex;
    std::condition_variable m_outgoingReady;
    QByteArray m_received;
    QList<Arrival> m_frames; // and the tail of one still coming
    std::deque<Outgoing> m_outgoing;
    QList<Answer> m_answers;
    std::thread m_reader;
    std::thread m_writer;
};
