#pragma once

#include "decoder.h"

#include <QByteArray>
#include <array>
#include <optional>

namespace devicesim {

// What a device on the line does with the frames it receives: a small memory,
// eight digital outputs per port, and an answer for every frame.
class Device {
public:
    static constexpr int kMemorySize = 256;
    static constexpr int kPorts = 10;
    static constexpr char kErased = char(0xFF);

    struct Answer {
        QByteArray reply; // the bytes to send back, empty for none
        std::optional<int> outputsSetOn; // the port whose outputs the frame set
    };

    Answer answer(const Piece &piece);

    quint8 outputs(int port) const { return m_outputs.at(size_t(port)); }
    QByteArray memory() const { return m_memory; }

private:
    QByteArray answerCommand(QByteArrayView text, std::optional<int> &outputsSetOn);

    QByteArray m_memory = QByteArray(kMemorySize, kErased);
    std::array<quint8, kPorts> m_outputs{};
};

// SOH, the text, its check character (space to DEL), EOT: the consoles' own framing.
QByteArray secondGenerationReply(QByteArrayView text);

// One log line for a reply sent.
QString describeReply(QByteArrayView reply);

// Eight lamps, output 7 on the left: "●○○○○○○○" for 80.
QString lampRow(quint8 outputs);

} // namespace devicesim
