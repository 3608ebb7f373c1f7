#pragma once

#include "types.h"

#include <string>
#include <termios.h>

namespace rava::sim {

// Baud rate and parity of one end of a serial line (8 data bits, 1 stop bit
// always).
struct LineSetting {
    int baud = 0;
    Parity parity = Parity::None;
    bool operator==(const LineSetting& o) const { return baud == o.baud && parity == o.parity; }
    bool operator!=(const LineSetting& o) const { return !(*this == o); }
};

int baudFromSpeed(speed_t speed); // 0 for a speed with no number here
speed_t speedFromBaud(int baud);  // B0 for an unsupported baud rate

// The setting a station made on its side of a pseudo-terminal, from the
// attributes read on the other side. The pseudo-terminal driver clears
// PARENB on every change, so parity is read from the marks the stations'
// serial channel leaves instead: INPCK on means parity is checked, PARODD
// then tells odd from even.
LineSetting stationSetting(const termios& t);

// Writes `setting` into `t` in the same marks (and PARENB, for drivers that
// keep it).
void applySetting(termios& t, const LineSetting& setting);

// What a byte becomes when the two ends of a line disagree on baud rate or
// parity: the receiver samples the wrong bits, so the byte comes out as
// some other byte. Deterministic for a given key, and never the byte itself.
std::uint8_t garble(std::uint8_t byte, std::uint64_t key);

// Key for garble(): depends on the seed and on both settings, so each kind
// of mismatch damages bytes in its own way.
std::uint64_t garbleKey(std::uint64_t seed, const LineSetting& station, const LineSetting& module);

std::string describe(const LineSetting& setting);

} // namespace rava::sim
