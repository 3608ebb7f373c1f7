#pragma once

#include "types.h"

namespace rava::sim {

// splitmix64: small, fast and the same on every platform, so a seed gives
// the same run everywhere.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    // Uniform in [0, 1).
    double uniform() { return double(next() >> 11) * 0x1.0p-53; }
    // True with probability p; draws nothing when p is 0 or 1.
    bool chance(double p);

private:
    std::uint64_t state_;
};

// Hash of a 64-bit value (the splitmix64 finaliser).
std::uint64_t mix64(std::uint64_t x);

// Packet loss and bit errors of the radio link, drawn from one generator in
// the order packets and bytes pass, so a seed repeats a run.
class Faults {
public:
    explicit Faults(std::uint64_t seed) : rng_(seed) {}

    double loss = 0;
    double corrupt = 0;

    bool lose() { return rng_.chance(loss); }
    // Flips one random bit of each byte picked with probability `corrupt`;
    // returns how many bytes were changed.
    int damage(Bytes& bytes);

private:
    Rng rng_;
};

} // namespace rava::sim
