#pragma once

#include <cstdint>
#include <vector>

namespace rava::sim {

// Monotonic time in nanoseconds.
using Nanos = std::int64_t;
using Bytes = std::vector<std::uint8_t>;

constexpr Nanos kMillisecond = 1'000'000;
constexpr Nanos kSecond = 1'000'000'000;

// What a module does with the packets its station writes. A module started
// with the role "prog" is a slave whose jumper 3 was closed at power-up: it
// starts in programming mode.
enum class Role { Master, Slave };

enum class Parity { None, Odd, Even };

const char* roleName(Role role);
const char* parityName(Parity parity);

// Time one character takes on the line: start bit, 8 data bits, stop bit.
// Zero for a baud rate of zero (no pacing).
Nanos characterTime(int baud);

} // namespace rava::sim
