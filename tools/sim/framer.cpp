#include "framer.h"

#include <algorithm>
#include <limits>

namespace rava::sim {

Framer::Framer(Nanos gap, std::size_t maxPacket, Overflow overflow)
    : gap_(gap), maxPacket_(maxPacket ? maxPacket : 1), overflow_(overflow) {
    current_.reserve(maxPacket_);
}

std::size_t Framer::room() const {
    if (overflow_ == Overflow::Drop)
        return std::numeric_limits<std::size_t>::max();
    return full_ ? 0 : maxPacket_ - length_;
}

void Framer::feed(const std::uint8_t* data, std::size_t size, Nanos end, bool late) {
    if (size == 0)
        return;
    guessed_ = guessed_ || late;
    const std::size_t keep = std::min(size, maxPacket_ - current_.size());
    current_.insert(current_.end(), data, data + keep);
    length_ += size;
    if (length_ >= maxPacket_ && overflow_ == Overflow::Cut)
        full_ = true;
    last_ = end;
}

void Framer::close(Packet& out) {
    out.bytes.clear();
    out.bytes.swap(current_);
    if (current_.capacity() < maxPacket_)
        current_.reserve(maxPacket_);
    out.length = length_;
    out.oversize = length_ > maxPacket_;
    out.cut = full_;
    out.guessed = guessed_;
    guessed_ = false;
    length_ = 0;
    full_ = false;
    ended_ = false;
}

bool Framer::take(Nanos now, bool lineIdle, Packet& out) {
    if (full_ || ended_ || (length_ > 0 && lineIdle && now - last_ >= gap_)) {
        close(out);
        return true;
    }
    return false;
}

std::optional<Nanos> Framer::deadline() const {
    if (full_ || ended_)
        return Nanos(0); // due at once
    if (length_ == 0)
        return std::nullopt;
    return last_ + gap_;
}

} // namespace rava::sim
