#include "framer.h"

namespace rava::sim {

Framer::Framer(Nanos gap, std::size_t maxPacket)
    : gap_(gap), maxPacket_(maxPacket ? maxPacket : 1) {}

void Framer::feed(const std::uint8_t* data, std::size_t size, Nanos now) {
    if (size == 0)
        return;
    // Bytes arriving after the gap start a new packet, even if nobody has
    // asked for the old one yet.
    if (!current_.empty() && now - last_ >= gap_) {
        ready_.push_back(std::move(current_));
        current_.clear();
    }
    for (std::size_t i = 0; i < size; ++i) {
        current_.push_back(data[i]);
        if (current_.size() >= maxPacket_) {
            ready_.push_back(std::move(current_));
            current_.clear();
        }
    }
    last_ = now;
}

std::optional<Bytes> Framer::take(Nanos now) {
    if (!current_.empty() && now - last_ >= gap_) {
        ready_.push_back(std::move(current_));
        current_.clear();
    }
    if (ready_.empty())
        return std::nullopt;
    Bytes packet = std::move(ready_.front());
    ready_.pop_front();
    return packet;
}

std::optional<Nanos> Framer::deadline() const {
    if (!ready_.empty())
        return Nanos(0); // due at once
    if (current_.empty())
        return std::nullopt;
    return last_ + gap_;
}

void Framer::clear() {
    current_.clear();
    ready_.clear();
}

} // namespace rava::sim
