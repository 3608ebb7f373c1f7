#include "pacer.h"

#include <algorithm>

namespace rava::sim {

void Pacer::push(const Bytes& bytes, Nanos availableAt) {
    for (std::uint8_t b : bytes) {
        const Nanos due = std::max(lineFree_, availableAt) + charTime_;
        lineFree_ = due;
        queue_.push_back({b, due});
    }
}

Bytes Pacer::take(Nanos now) {
    Bytes out;
    while (!queue_.empty() && queue_.front().due <= now) {
        out.push_back(queue_.front().byte);
        queue_.pop_front();
    }
    return out;
}

std::optional<Nanos> Pacer::deadline() const {
    if (queue_.empty())
        return std::nullopt;
    return queue_.front().due;
}

void Pacer::clear() {
    queue_.clear();
    lineFree_ = 0;
}

} // namespace rava::sim
