#pragma once

#include <QtGlobal>
#include <chrono>

// The one serial line every console drives: 9600 baud, 8 data bits, no
// parity, 1 stop bit. What takes time on it is derived from here.
namespace Line {

constexpr int kBaudRate = 9600;
constexpr int kBitsPerCharacter = 10; // start bit, 8 data bits, stop bit
constexpr std::chrono::nanoseconds kCharacterTime{1'000'000'000LL * kBitsPerCharacter / kBaudRate};

constexpr std::chrono::nanoseconds timeFor(qint64 bytes)
{
    return bytes * kCharacterTime;
}

constexpr double msFor(qint64 bytes)
{
    return std::chrono::duration<double, std::milli>(timeFor(bytes)).count();
}

} // namespace Line
