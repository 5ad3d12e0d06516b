#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// The device end of a pseudo-terminal in raw mode. A thread of its own reads
// it, so arrival times do not wait for the console's event loop, and writes
// the answers that are due.
class BenchDevice {
public:
    // Called on the reader thread for every frame (the bytes up to an EOT) with its arrival time.
    using FrameHandler = std::function<void(const QByteArray &frame, double atMs)>;
    // AsItComes takes what the console writes at once. LineSpeed takes it as a
    // 9600-baud line delivers it: a byte per character time, each arriving
    // whole one character time after the line was free for it, so a byte
    // already waiting follows the one before without a gap.
    enum class Pace { AsItComes, LineSpeed };

    explicit BenchDevice(FrameHandler onFrame = {}, Pace pace = Pace::AsItComes);
    ~BenchDevice();

    BenchDevice(const BenchDevice &) = delete;
    BenchDevice &operator=(const BenchDevice &) = delete;

    // The console's end.
    QString path() const { return m_path; }

    // What arrived since the last clear(), and the time from its first byte to its last.
    void clear();
    QByteArray bytes() const;
    qsizetype size() const;
    double firstToLastMs() const;
    // When each of those bytes arrived (wallMs).
    std::vector<double> byteTimesMs() const;

    // Writes all of `bytes` now, blocking while the pseudo-terminal is full. Any thread.
    void write(const QByteArray &bytes);
    // Writes `bytes` from the reader thread at 9600 baud, starting at `atMs`
    // (wallMs): each byte one character time after the one before.
    void answerAt(const QByteArray &bytes, double atMs);
    // When the last byte of each answer went out, in order.
    std::vector<double> answeredAtMs() const;

private:
    void run();
    std::pair<size_t, double> waitForLine(size_t most);
    void writeDueAnswers();
    int pollTimeoutMs() const;

    struct Answer {
        QByteArray bytes;
        double atMs;
        bool last; // of its answer
    };

    FrameHandler m_onFrame;
    Pace m_pace;
    int m_master = -1;
    int m_slave = -1; // held so the console may close and reopen its end
    QString m_path;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    QByteArray m_bytes;
    QByteArray m_frame;
    double m_firstMs = 0;
    double m_lastMs = 0;
    std::vector<double> m_byteMs;
    double m_lineFreeMs = 0; // LineSpeed: when the last byte read had arrived whole
    bool m_waiting = false; // LineSpeed: bytes were left in the pty after the last read
    std::vector<Answer> m_pending;
    std::vector<double> m_answered;
    std::thread m_reader;
};
