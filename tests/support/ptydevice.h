#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// The device end of a pseudo-terminal in raw mode, read and written by threads
// of its own, so it keeps time while the console's thread blocks. At line speed
// it is a device on a 9600-baud line: it takes a byte off the line every
// 1.04 ms, and what it writes leaves a byte every 1.04 ms. Behind a USB
// adapter the same line ends in the adapter's chip, which hands what it has
// to the console once per 16 ms latency tick, up to 62 bytes at a time.
class PtyDevice {
public:
    enum class Pace { Instant, LineSpeed, UsbAdapter };
    struct Arrival {
        qint64 atMs; // since the device was created
        QByteArray bytes;
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
    void hangUp(); // as a pulled USB adapter

private:
    void readLoop();
    void writeLoop();

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
    QByteArray m_outgoing;
    QByteArrayList m_answers;
    std::thread m_reader;
    std::thread m_writer;
};
