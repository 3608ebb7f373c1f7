#pragma once

#include "types.h"

#include <cstdio>
#include <string>

namespace rava::sim {

// One trace line, without the line break, into `out` (whose buffer is
// reused):
//   TIME FROM TO LENGTH HEX [NOTE]
// TIME is the system's monotonic clock in milliseconds with 3 decimals (the
// clock of the station tool's own wire trace, so the two read side by side,
// line against line); FROM is
// "-" for no module, TO is "-" when the packet reached no station; LENGTH is
// the packet's length, HEX its bytes (`size` of them, fewer than LENGTH when
// only its head was kept) as one run of lowercase hex digits ("-" for none).
// NOTE says why a packet went nowhere or what else happened to it.
void formatTrace(std::string& out, Nanos time, const std::string& from, const std::string& to,
                 const std::uint8_t* bytes, std::size_t size, std::size_t length,
                 const std::string& note = {});

// Where trace lines go: nowhere, a file, or standard output.
class TraceSink {
public:
    TraceSink() = default;
    ~TraceSink();
    TraceSink(const TraceSink&) = delete;
    TraceSink& operator=(const TraceSink&) = delete;

    // "-" for standard output. Returns false (with errno set) on failure.
    bool open(const std::string& path);
    // Writes one line. False (with errno set) when it could not be written;
    // the sink is closed then, so that a broken trace costs nothing more.
    bool write(const std::string& line);
    bool active() const { return file_ != nullptr; }

private:
    void close();

    std::FILE* file_ = nullptr;
    bool owned_ = false;
};

} // namespace rava::sim
