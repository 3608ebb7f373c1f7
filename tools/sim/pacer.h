#pragma once

#include "types.h"

#include <deque>
#include <optional>

namespace rava::sim {

// The module's sending side of the serial line: a byte reaches the station
// only once its last bit has left, one character time after the previous
// byte (or after it became available, whichever is later). With a baud rate
// of 0 bytes are delivered as soon as they are available.
class Pacer {
public:
    explicit Pacer(int baud = 0) { setBaud(baud); }

    // Applies to bytes pushed from now on.
    void setBaud(int baud) { charTime_ = characterTime(baud); }

    // Queues `bytes`, which the module may start sending at `availableAt`.
    void push(const Bytes& bytes, Nanos availableAt);
    // Removes and returns every byte that has fully arrived by `now`.
    Bytes take(Nanos now);
    // When the next byte arrives; nullopt when nothing is queued.
    std::optional<Nanos> deadline() const;
    bool empty() const { return queue_.empty(); }
    void clear();

private:
    struct Pending {
        std::uint8_t byte;
        Nanos due;
    };
    Nanos charTime_ = 0;
    Nanos lineFree_ = 0;
    std::deque<Pending> queue_;
};

} // namespace rava::sim
