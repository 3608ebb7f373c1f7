#pragma once

#include "link/wire_pause.h"

#include <optional>

namespace rava::image {

// The waits of the image features. The defaults are the real ones; tests
// shorten them.
struct Timings {
    int endOfReceptionMs = 500; // Timer4: silence that ends a reception
    // Silence after a header whose digits run to the end of what has come
    // so far, before it is taken as whole (at 9600 baud a byte takes about
    // a millisecond; the sender waits at least 20 ms after the header).
    int headerSettleMs = 15;
    int stallMs = WirePause::kDefaultStallMs; // a line taking nothing this long ends a send
    // The block gap and the last-block delay; unset: the line setting's.
    std::optional<int> blockGapMs;
    std::optional<int> lastBlockDelayMs;
};

} // namespace rava::image
