#pragma once

#include "types.h"

#include <deque>
#include <optional>

namespace rava::sim {

// Cuts the byte stream a station writes into packets: bytes that follow
// each other with less than the frame gap between them belong to one
// packet. A packet is also closed when it reaches the size limit, so a
// station that never pauses cannot make it grow without bound.
class Framer {
public:
    explicit Framer(Nanos gap, std::size_t maxPacket = 65536);

    void setGap(Nanos gap) { gap_ = gap; }
    Nanos gap() const { return gap_; }

    // Bytes that arrived at `now`.
    void feed(const std::uint8_t* data, std::size_t size, Nanos now);
    // The next packet that is complete at `now`, oldest first.
    std::optional<Bytes> take(Nanos now);
    // When the packet being collected closes; nullopt while there is none
    // (a packet closed by the size limit is ready at once).
    std::optional<Nanos> deadline() const;
    void clear();

private:
    Nanos gap_;
    std::size_t maxPacket_;
    Bytes current_;
    Nanos last_ = 0;
    std::deque<Bytes> ready_;
};

} // namespace rava::sim
