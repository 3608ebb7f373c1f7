#pragma once

#include "link/wire_pause.h"

namespace rava::text {

// The waits of the text features that do not follow from the line setting.
// The defaults are the real ones; tests shorten them.
struct Timings {
    int idleMs = 1500;                        // Timer2: silence that ends a reception
    int stallMs = WirePause::kDefaultStallMs; // a line taking nothing this long ends a send
};

} // namespace rava::text
