#include "faults.h"

namespace rava::sim {

std::uint64_t mix64(std::uint64_t x) {
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

std::uint64_t Rng::next() {
    state_ += 0x9e3779b97f4a7c15ULL;
    return mix64(state_);
}

bool Rng::chance(double p) {
    if (p <= 0)
        return false;
    if (p >= 1)
        return true;
    return uniform() < p;
}

int Faults::damage(Bytes& bytes) {
    int changed = 0;
    if (corrupt <= 0)
        return 0;
    for (auto& b : bytes) {
        if (rng_.chance(corrupt)) {
            b ^= std::uint8_t(1u << (rng_.next() & 7));
            ++changed;
        }
    }
    return changed;
}

} // namespace rava::sim
