#pragma once

#include "linemodel.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// The device end of a pseudo-terminal in raw mode, read and written by threads
// of its own, so it keeps time while the console's thread blocks; the tests,
// the benchmarks and devicesim's line all come from here. It stands in for each
// kind of device a bench has:
// - Instant: native USB (CDC-ACM), a virtual pair: takes and sends at once.
// - LineSpeed: a device on a 9600-baud line, a byte every 1.04 ms each way.
// - Uart16550: the same line into a 16550, whose FIFO hands over 8 bytes at a
//   time, or what it has after 4 character times of silence.
// - UsbAdapter: the same line into a USB adapter's chip, which hands over what
//   it has once per 16 ms latency tick, up to 62 bytes at a time.
// - Rs485Echo: a two-wire adapter on the line, echoing every byte the console
//   sends as it goes out; the device answers once the line has turned round.
// Every pace but Instant keeps the line's time with LineModel both ways (see
// PacedLine for what the console writes): each byte arrives whole one
// character time after the line was free for it.
class PtyDevice {
public:
    using Clock = LineModel::Clock;
    using TimePoint = LineModel::TimePoint;

    enum class Pace { Instant, LineSpeed, Uart16550, UsbAdapter, Rs485Echo };
    struct Arrival {
        TimePoint at; // when its EOT had arrived
        QByteArray bytes;
    };
    // An answer in pieces, each handed to the line gapMs after the one before.
    struct Answer {
        QByteArrayList pieces;
        int gapMs = 0;
    };
    // Called on the reader thread for every frame (the bytes up to an EOT) as
    // it arrives, after its answer is queued; it may call this device.
    using FrameHandler = std::function<void(const QByteArray &frame, TimePoint at)>;

    explicit PtyDevice(Pace pace = Pace::Instant, FrameHandler onFrame = {});
    ~PtyDevice();
    PtyDevice(const PtyDevice &) = delete;
    PtyDevice &operator=(const PtyDevice &) = delete;

    // The console's end.
    QString path() const { return m_path; }

    // What has arrived since the device was made or last cleared: the bytes,
    // when each arrived, and the frames cut after every EOT.
    QByteArray received() const;
    QList<TimePoint> byteTimes() const;
    QList<Arrival> arrivals() const;
    void clear(); // a frame still coming stays

    // Hands `bytes` to the line now; returns at once.
    void write(const QByteArray &bytes);
    // Hands `bytes` to the line at `at`, as an answer.
    void answerAt(const QByteArray &bytes, TimePoint at);
    // Each frame that arrives from now on is answered with the next of these,
    // as soon as its EOT is in, as a device answers.
    void answerWith(const QByteArrayList &answers);
    void answerWith(const QList<Answer> &answers);
    // When the last byte of each answer was written to the pseudo-terminal, in order.
    QList<TimePoint> answeredAt() const;

    void hangUp(); // as a pulled USB adapter: both ends closed

private:
    struct Outgoing {
        QByteArray bytes;
        TimePoint handedAt; // to the line
        qsizetype sent = 0;
        bool endsAnswer = false;
    };
    struct HandOver {
        TimePoint at;
        qsizetype count;
    };

    bool paced() const { return m_pace != Pace::Instant; }
    void readLoop();
    void writeLoop();
    bool waitUntilReadable(); // false once stopping
    bool sleepUntil(TimePoint at); // false once stopping
    void arrived(const char *bytes, const TimePoint *times, qsizetype count);
    void send(const QByteArray &bytes, TimePoint handedAt, bool endsAnswer);
    HandOver nextHandOver(TimePoint now) const;
    QByteArray take(qsizetype count, qsizetype &answersEnded);
    bool writeAll(const QByteArray &bytes);

    const Pace m_pace;
    const FrameHandler m_onFrame;
    QString m_path;
    int m_master = -1;
    int m_slave = -1; // held, so the console may close and reopen its end
    int m_wake[2] = {-1, -1};
    TimePoint m_ticksFrom; // UsbAdapter: its latency timer's first tick
    std::atomic<bool> m_stopping = false;
    mutable std::mutex m_mutex;
    std::condition_variable m_outgoingChanged;
    QByteArray m_received;
    QList<TimePoint> m_byteTimes;
    QList<Arrival> m_frames;
    QByteArray m_frame; // still coming
    QList<Answer> m_answers;
    LineModel m_line; // what this end has written has crossed the line
    std::deque<Outgoing> m_outgoing;
    QList<TimePoint> m_answered;
    std::thread m_reader;
    std::thread m_writer;
};
