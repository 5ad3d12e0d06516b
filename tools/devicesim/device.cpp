#include "device.h"

#include "codepage.h"
#include "frames.h"

#include <QString>

namespace devicesim {
namespace {

constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr qsizetype kStation = 2;

// Why a command was refused; the code goes out after "NAK".
constexpr char kWrongCheck = '1';
constexpr char kUnknownCommand = '2';
constexpr char kBadArgument = '3';

// Two hexadecimal digits, either case; -1 for anything else.
int hexByte(QByteArrayView digits)
{
    if (digits.size() != 2)
        return -1;
    int value = 0;
    for (const char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

QByteArray refusal(QByteArrayView station, char reason)
{
    return station.toByteArray() + "NAK" + reason;
}

} // namespace

Device::Answer Device::answer(const Piece &piece)
{
    Answer answer;
    if (piece.kind == Piece::FirstGeneration) {
        answer.reply = QByteArray(1, piece.checkOk ? kAck : kNak);
    } else if (piece.kind == Piece::SecondGeneration) {
        const QByteArray text = piece.payload();
        const QByteArray reply =
            piece.checkOk ? answerCommand(text, answer.outputsSetOn)
                          : refusal(text.first(qMin(kStation, text.size())), kWrongCheck);
        answer.reply = secondGenerationReply(reply);
    }
    return answer;
}

QByteArray Device::answerCommand(QByteArrayView text, std::optional<int> &outputsSetOn)
{
    const QByteArrayView station = text.first(qMin(kStation, text.size()));
    const QByteArrayView command = text.sliced(station.size());
    const auto arguments = [&command](qsizetype name) { return command.sliced(name); };

    if (command.startsWith("TO"))
        return station.toByteArray() + "TOOK";

    if (command.startsWith("ZW")) {
        const QByteArrayView args = arguments(2);
        const int address = hexByte(args.first(qMin(qsizetype(2), args.size())));
        if (address < 0)
            return refusal(station, kBadArgument);
        const QByteArrayView data = args.sliced(2);
        if (address + data.size() > kMemorySize)
            return refusal(station, kBadArgument);
        m_memory.replace(address, data.size(), data.toByteArray());
        return station.toByteArray() + "ZWOK";
    }

    if (command.startsWith("ZR")) {
        const QByteArrayView args = arguments(2);
        const int address = args.size() == 4 ? hexByte(args.first(2)) : -1;
        const int length = args.size() == 4 ? hexByte(args.sliced(2)) : -1;
        if (address < 0 || length < 0 || address + length > kMemorySize)
            return refusal(station, kBadArgument);
        return station.toByteArray() + "ZR" + args.toByteArray() + m_memory.mid(address, length);
    }

    if (command.startsWith("DOP")) {
        const QByteArrayView args = arguments(3);
        const int port = args.size() == 3 ? args.at(0) - '0' : -1;
        const int state = args.size() == 3 ? hexByte(args.sliced(1)) : -1;
        if (port < 0 || port >= kPorts || state < 0)
            return refusal(station, kBadArgument);
        m_outputs.at(size_t(port)) = quint8(state);
        outputsSetOn = port;
        return station.toByteArray() + "DOP" + char('0' + port)
               + QByteArray::number(state, 16).toUpper().rightJustified(2, '0');
    }

    return refusal(station, kUnknownCommand);
}

QByteArray secondGenerationReply(QByteArrayView text)
{
    QByteArray frame;
    frame.append(Frames::SOH).append(text);
    frame.append(char(Frames::checkCharCode(CodePage::fromBytes(text))));
    frame.append(Frames::EOT);
    return frame;
}

QString describeReply(QByteArrayView reply)
{
    if (reply.size() == 1 && (reply.front() == kAck || reply.front() == kNak))
        return logColumns(u"tx 1st", reply, reply.front() == kAck ? u"ACK" : u"NAK");
    return logColumns(u"tx 2nd", reply,
                      quoted(CodePage::fromBytes(reply.sliced(1, reply.size() - 3))));
}

QString lampRow(quint8 outputs)
{
    QString row;
    for (int bit = 7; bit >= 0; --bit)
        row.append(outputs & (1u << bit) ? u'●' : u'○');
    return row;
}

} // namespace devicesim
