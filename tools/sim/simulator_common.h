#pragma once

// What the simulator's own source files share: the module's limits and the
// few helpers that write its output.

#include "types.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>

namespace rava::sim {

// How often a module without a station looks for one to appear, where the
// station devices cannot be watched.
inline constexpr Nanos kProbeInterval = 1000 * kMillisecond;
inline constexpr std::size_t kMaxConsoleLine = 4096;
// Longest packet a station may write.
inline constexpr std::size_t kMaxPacket = 65536;
// Bytes queued for a station: two of the longest packets as delivered (a
// slave's with the address in front), so that one can be sent while the
// next comes in.
inline constexpr std::size_t kOutputBound = 2 * (kMaxPacket + 1);
// Most bytes taken from one unpaced station per pass of the loop, so that
// a station writing without pause does not starve the others.
inline constexpr std::size_t kUnpacedTurn = 4 * 65536;
// The module's receive buffer: how far it reads ahead of a paced line (as
// a station's serial driver would hold a few writes ahead of its line).
inline constexpr std::size_t kLookahead = 16384;
// Bytes that come this long after the last ones, while the line is still
// busy with those, are the station's next write. Long enough that a kernel
// slow to pass on the rest of one write does not cut it.
inline constexpr Nanos kWriteGap = 10 * kMillisecond;
inline constexpr std::size_t kUnpacedLookahead = 65536;
// How soon to look again at a packet whose gap has passed while the reader
// is in the middle of reading (its bytes may belong to the packet).
inline constexpr Nanos kReaderBusy = 200'000;

inline Nanos millis(double ms) {
    return Nanos(std::llround(ms * double(kMillisecond)));
}

inline std::string joinPath(const std::string& dir, const std::string& name) {
    if (!dir.empty() && dir.back() == '/')
        return dir + name;
    return dir + '/' + name;
}

inline void say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

inline void complain(const std::string& line) {
    std::fprintf(stderr, "rava2-sim: %s\n", line.c_str());
}

inline std::string join(const std::string& a, const std::string& b) {
    if (a.empty())
        return b;
    return b.empty() ? a : a + ',' + b;
}

} // namespace rava::sim
