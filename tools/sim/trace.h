#pragma once

#include "types.h"

#include <cstdio>
#include <string>

namespace rava::sim {

// One trace line, without the line break:
//   TIME FROM TO LENGTH HEX [NOTE]
// TIME is milliseconds since the simulator started, with 3 decimals; TO is
// "-" when the packet reached no station; HEX is the bytes as one run of
// lowercase hex digits ("-" for none). NOTE says why a packet went nowhere
// or what else happened to it.
std::string formatTrace(Nanos sinceStart, const std::string& from, const std::string& to,
                        const Bytes& bytes, const std::string& note = {});

// Where trace lines go: nowhere, a file, or standard output.
class TraceSink {
public:
    TraceSink() = default;
    ~TraceSink();
    TraceSink(const TraceSink&) = delete;
    TraceSink& operator=(const TraceSink&) = delete;

    // "-" for standard output. Returns false (with errno set) on failure.
    bool open(const std::string& path);
    void write(const std::string& line);
    bool active() const { return file_ != nullptr; }

private:
    std::FILE* file_ = nullptr;
    bool owned_ = false;
};

} // namespace rava::sim
